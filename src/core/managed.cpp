#include "core/managed.h"

#include "core/limits.h"

namespace orlimo {
namespace {

Settings ValuesOf(const std::string& bytes) {
    Settings s;
    BookmarkList unused;
    ApplySettingsText(bytes, &s, &unused);
    return s;
}

// Text for a line of the log: UTF-8, control bytes (and bytes that are no
// text in their encoding) written \xNN, cut after a few hundred bytes.
std::string Shown(const std::string& text, FileEncoding encoding, const TextConverter& converter) {
    const std::optional<std::string> utf8 = Recode(text, encoding, FileEncoding::Utf8, converter);
    const std::string& source = utf8 ? *utf8 : text;
    constexpr size_t kMaxShown = 200;
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < source.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(source[i]);
        // Cut only before a character's first byte.
        if (out.size() >= kMaxShown && (c & 0xC0) != 0x80) return out + "...";
        if (c < 0x20 || c == 0x7F || (!utf8 && c >= 0x80)) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string ShownField(const SettingField& f, const Settings& s, FileEncoding encoding,
                       const TextConverter& converter) {
    return std::string(f.key) + "=" +
           (f.text ? Shown(s.*f.text, encoding, converter) : std::to_string(s.*f.number));
}

// Whether two texts in their encodings say the same: byte for byte when
// both are UTF-8 or both native, else the native one in UTF-8.
bool SameText(const std::string& a, FileEncoding ea, const std::string& b, FileEncoding eb,
              const TextConverter& converter) {
    if (IsUtf8Encoding(ea) == IsUtf8Encoding(eb)) return a == b;
    const std::optional<std::string> a8 = Recode(a, ea, FileEncoding::Utf8, converter);
    const std::optional<std::string> b8 = Recode(b, eb, FileEncoding::Utf8, converter);
    return a8 && b8 && *a8 == *b8;
}

bool SameField(const SettingField& f, const Settings& a, FileEncoding ea, const Settings& b, FileEncoding eb,
               const TextConverter& converter) {
    if (f.text) return SameText(a.*f.text, ea, b.*f.text, eb, converter);
    return a.*f.number == b.*f.number;
}

// Native text of the user's in UTF-8, as it stands when it is no text of
// the native encoding (nothing better can be made of it).
std::string InUtf8(const std::string& text, FileEncoding encoding, const TextConverter& converter) {
    const std::optional<std::string> utf8 = Recode(text, encoding, FileEncoding::Utf8, converter);
    return utf8 ? *utf8 : text;
}

// The five-line file, read back in the encoding it is written in: native
// text that would read as UTF-8 (the lines that made the file native
// gone) is written as UTF-8, with the mark.
std::string StableFileBytes(Settings* values, FileEncoding* encoding, const TextConverter& converter) {
    std::string bytes = SettingsFileBytes(*values, *encoding);
    if (*encoding != FileEncoding::Native || DetectEncoding(bytes) == FileEncoding::Native) return bytes;
    values->server = InUtf8(values->server, *encoding, converter);
    values->bookmark = InUtf8(values->bookmark, *encoding, converter);
    *encoding = FileEncoding::Utf8WithMark;
    return SettingsFileBytes(*values, *encoding);
}

}  // namespace

FollowResult FollowSharedFile(const FollowFiles& files, const TextConverter& converter) {
    FollowResult result;
    if (!files.user || !files.shared) return result;
    const std::optional<Settings> shared = SharedSettingsValues(*files.shared);
    if (!shared) {
        result.reasons.push_back(files.shared_name + ": names no server, so it changes nothing");
        return result;
    }
    const FileEncoding es = DetectEncoding(*files.shared);
    std::optional<Settings> base;
    FileEncoding eb = FileEncoding::Native;
    for (const std::optional<std::string>* candidate : {&files.record, &files.previous}) {
        if (*candidate && (base = SharedSettingsValues(**candidate))) {
            eb = DetectEncoding(**candidate);
            break;
        }
    }
    const Settings user = ValuesOf(*files.user);
    const FileEncoding eu = DetectEncoding(*files.user);
    Settings record = *shared;
    bool record_is_copy = true;
    Settings out = user;
    FileEncoding eo = eu;
    unsigned taken = 0;

    if (base) {
        bool new_text = false;
        for (const SettingField& f : kSettingFields) {
            if (!SameField(f, user, eu, *base, eb, converter)) continue;     // the user's own
            if (SameField(f, user, eu, *shared, es, converter)) continue;    // nothing new
            const std::string why = FieldRefusal(f, *shared);
            if (!why.empty()) {
                result.reasons.push_back(files.shared_name + ": " + ShownField(f, *shared, es, converter) +
                                         " refused (" + why + "); " + ShownField(f, user, eu, converter) +
                                         " stays");
                // The record keeps the base's value: the user's stays not
                // their own, and follows once the shared file is mended.
                if (f.text) {
                    if (std::optional<std::string> kept = Recode((*base).*f.text, eb, es, converter))
                        record.*f.text = *kept;
                } else {
                    record.*f.number = (*base).*f.number;
                }
                record_is_copy = false;
                continue;
            }
            taken |= f.bit;
            if (f.text && !IsAscii((*shared).*f.text)) new_text = true;
        }
        if (new_text) {
            if (eu == FileEncoding::Native && IsAscii(user.server) && IsAscii(user.bookmark)) {
                eo = es;  // ASCII alone, no mark: as a copy made now would be
            } else if (eo == FileEncoding::Native && IsUtf8Encoding(es)) {
                bool sayable = true;
                for (const SettingField& f : kSettingFields)
                    if ((taken & f.bit) && f.text && !converter.Utf8ToNative((*shared).*f.text)) sayable = false;
                if (!sayable) {
                    eo = FileEncoding::Utf8WithMark;
                    out.server = InUtf8(user.server, eu, converter);
                    out.bookmark = InUtf8(user.bookmark, eu, converter);
                }
            }
        }
        for (const SettingField& f : kSettingFields) {
            if (!(taken & f.bit)) continue;
            if (f.text) {
                const std::optional<std::string> text = Recode((*shared).*f.text, es, eo, converter);
                if (!text) {
                    result.reasons.push_back(files.shared_name + ": " + ShownField(f, *shared, es, converter) +
                                             " refused (no text of its encoding)");
                    taken &= ~f.bit;
                    continue;
                }
                out.*f.text = *text;
            } else {
                out.*f.number = (*shared).*f.number;
            }
            result.reasons.push_back(files.shared_name + ": " + ShownField(f, *shared, es, converter) + " taken");
        }
    }
    if (taken) result.user = StableFileBytes(&out, &eo, converter);
    FileEncoding er = es;
    const std::string new_record = record_is_copy ? *files.shared : StableFileBytes(&record, &er, converter);
    if (!files.record || *files.record != new_record) result.record = new_record;
    return result;
}

PolicyInForce ApplyPolicy(const Settings& own, FileEncoding encoding, const std::vector<PolicySource>& sources,
                          const TextConverter& converter) {
    PolicyInForce p{own, encoding, 0, std::nullopt, {}};
    std::optional<std::string> texts[2];  // server, bookmark (UTF-8)
    for (const ManagedValue& v : kManagedValues) {
        for (const PolicySource& source : sources) {
            const PolicyEntry* e = nullptr;
            for (const PolicyEntry& entry : source.entries)
                if (entry.name == v.name) e = &entry;
            if (!e) continue;
            std::string why;
            int64_t number = 0;
            if (source.for_every_user && !v.machine) {
                why = "set for one user only, never for every user of the machine";
            } else if (v.kind == ValueKind::Number) {
                if (e->type == PolicyEntry::Type::Number) {
                    number = e->number;
                } else if (e->type != PolicyEntry::Type::Text || !source.numbers_as_text) {
                    why = "not a number";
                } else if (!WholeNumber(e->text, -9999999999, 9999999999, &number)) {
                    why = "not a whole number";
                }
                if (why.empty()) why = NumberRefusal(v, number);
            } else if (e->type != PolicyEntry::Type::Text) {
                why = "not text";
            } else {
                why = std::string(v.name) == "server" ? ServerRefusal(e->text) : BookmarkRefusal(e->text);
            }
            if (!why.empty()) {
                const std::string shown = e->type == PolicyEntry::Type::Number
                                              ? std::to_string(e->number)
                                              : Shown(e->text, FileEncoding::Utf8, converter);
                p.reasons.push_back(source.name + ": " + v.name + "=" + shown + " refused (" + why + ")");
                continue;  // as if this source did not set it
            }
            const std::string name = v.name;
            if (name == "autorun") {
                p.autorun = number == 1;
                break;
            }
            for (const SettingField& f : kSettingFields) {
                if (name != f.key) continue;
                p.locked |= f.bit;
                if (f.number) p.values.*f.number = static_cast<int32_t>(number);
                else texts[f.bit == kServerBit ? 0 : 1] = e->text;
            }
            break;
        }
    }
    // Policy text in the encoding of the user's values when it can be said
    // there; else everything in force is UTF-8.
    std::optional<std::string> native[2];
    bool need_utf8 = false;
    for (int i = 0; i < 2; ++i) {
        if (!texts[i] || IsUtf8Encoding(encoding)) continue;
        native[i] = converter.Utf8ToNative(*texts[i]);
        if (!native[i]) need_utf8 = true;
    }
    if (need_utf8) {
        p.encoding = FileEncoding::Utf8;
        p.values.server = InUtf8(p.values.server, encoding, converter);
        p.values.bookmark = InUtf8(p.values.bookmark, encoding, converter);
    }
    std::string* targets[2] = {&p.values.server, &p.values.bookmark};
    for (int i = 0; i < 2; ++i)
        if (texts[i]) *targets[i] = IsUtf8Encoding(p.encoding) ? *texts[i] : *native[i];
    return p;
}

PolicySource PolicyFromFile(std::string name, const std::string& bytes, const TextConverter& converter) {
    PolicySource source;
    source.name = std::move(name);
    source.for_every_user = true;
    source.numbers_as_text = true;
    const FileEncoding encoding = DetectEncoding(bytes);
    size_t start = HasUtf8Mark(bytes) ? 3 : 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        std::string line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // As the settings reader splits lines: a CR before the LF is no part
        // of the value.
        if (end != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        start = end == std::string::npos ? bytes.size() : end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !FindManagedValue(line.substr(0, eq))) continue;
        PolicyEntry entry;
        entry.name = line.substr(0, eq);
        entry.type = PolicyEntry::Type::Text;
        entry.text = InUtf8(line.substr(eq + 1), encoding, converter);
        // The last line of a key counts, as in the settings file.
        for (auto it = source.entries.begin(); it != source.entries.end();)
            it = it->name == entry.name ? source.entries.erase(it) : it + 1;
        source.entries.push_back(entry);
    }
    return source;
}

SavedFile SaveDialogValues(const Settings& own, FileEncoding encoding, const DialogValues& dialog, unsigned locked,
                           const TextConverter& converter) {
    SavedFile saved{own, encoding, std::string()};
    if (!(locked & kUserIdBit)) saved.values.user_id = dialog.user_id;
    if (!(locked & kIntervalBit)) saved.values.interval_time = dialog.interval_time;
    if (!(locked & kPortBit)) saved.values.server_port = dialog.server_port;
    if (!(locked & kServerBit) && dialog.server) {
        const std::string& text = *dialog.server;
        FileEncoding e = encoding;
        if (e == FileEncoding::Native && !IsAscii(text) && IsAscii(own.server) && IsAscii(own.bookmark))
            e = converter.AsciiFileEncoding();
        if (e == FileEncoding::Native) {
            if (std::optional<std::string> native = converter.Utf8ToNative(text)) {
                saved.values.server = *native;
            } else {
                // Nothing is lost: the file becomes UTF-8, its mark first.
                e = FileEncoding::Utf8WithMark;
                saved.values.server = text;
                saved.values.bookmark = InUtf8(own.bookmark, encoding, converter);
            }
        } else {
            saved.values.server = text;
        }
        saved.encoding = e;
    }
    saved.bytes = StableFileBytes(&saved.values, &saved.encoding, converter);
    return saved;
}

}  // namespace orlimo
