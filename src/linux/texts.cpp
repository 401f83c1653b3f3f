#include "linux/texts.h"

namespace orlimo {

QString DialogCaption(int dialog_id) {
    const rc::DialogTexts* d = rc::Dialog(dialog_id);
    return d ? QString::fromUtf8(d->caption) : QString();
}

QString ControlText(int dialog_id, int control_id) {
    if (const rc::DialogTexts* d = rc::Dialog(dialog_id)) {
        for (int i = 0; i < d->count; ++i) {
            if (d->controls[i].id == control_id) return QString::fromUtf8(d->controls[i].text);
        }
    }
    return QString();
}

QString StaticText(int dialog_id, int n) {
    if (const rc::DialogTexts* d = rc::Dialog(dialog_id)) {
        int seen = 0;
        for (int i = 0; i < d->count; ++i) {
            // Static texts without id; the about box's icon control has no text.
            if (d->controls[i].id != -1 || d->controls[i].text[0] == '\0') continue;
            if (seen++ == n) return QString::fromUtf8(d->controls[i].text);
        }
    }
    return QString();
}

}  // namespace orlimo
