// The fixed texts of the user interface, taken from the resource script
// (res/orlimo.rc, turned into orlimo_rc.h at build time) so that both
// programs show the same words.
#pragma once
#include <QString>

#include "orlimo_rc.h"
#include "resource.h"

namespace orlimo {

// The dialog button ids of the templates (from <windows.h> there).
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// A string-table entry.
inline QString Text(int string_id) { return QString::fromUtf8(rc::String(string_id)); }

// The caption of a dialog template.
QString DialogCaption(int dialog_id);
// The text of the control with this id (buttons, edits).
QString ControlText(int dialog_id, int control_id);
// The text of the n-th (0-based) static text without id, in template order.
QString StaticText(int dialog_id, int n);

// The application's title, "orlimo": the caption of every message box.
inline QString AppTitle() { return Text(IDS_APP_TITLE); }

}  // namespace orlimo
