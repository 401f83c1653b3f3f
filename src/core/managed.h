// Settings that an administrator manages, the same on every front end: a
// user's file following the shared file's later changes, the policies in
// force over everything, and the settings dialog's Save under them. The
// front ends read and write the files and the registry; the rules are here,
// on the files' bytes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"

namespace orlimo {

// ---- the shared file's later changes ----
//
// A user's file starts as a copy of the shared file. Beside it, the record
// is a copy of the shared file as the user's values were last brought in
// line with it (the base); a copy made before there were records has the
// shared file an installer package replaced, config.properties.previous.
// A value of the user's that equals the base's was never set by the user:
// it follows the shared file, when the limits accept the shared file's
// value. Every other value is the user's own and stays.

struct FollowFiles {
    // Each file's bytes; none when it is missing or cannot be read.
    std::optional<std::string> user, record, previous, shared;
    std::string shared_name;  // how the reasons name the shared file
};

struct FollowResult {
    std::optional<std::string> user;    // the user's file's new bytes; none: it stays
    std::optional<std::string> record;  // the record's new bytes; none: it stays
    std::vector<std::string> reasons;   // what was taken or refused, a line each
};

// Without a user's file, or a shared file that holds no server (garbage,
// UTF-16, empty), nothing changes. Without a base, every value is the
// user's own and only the record is made. Text values are compared with
// their encodings taken into account, and taken in the user's file's
// encoding: a file of ASCII alone takes the shared file's, and a file in
// the native encoding that cannot say a new text becomes UTF-8 with the
// mark (nothing is lost). A value the limits refuse is not taken, and the
// record keeps the base's value for it, so that it still counts as not the
// user's when the administrator mends the shared file.
FollowResult FollowSharedFile(const FollowFiles& files, const TextConverter& converter);

// ---- policies ----

// One value as a policy store holds it.
struct PolicyEntry {
    enum class Type { Text, Number, Other };
    std::string name;
    Type type = Type::Other;
    std::string text;    // UTF-8, for Text
    int64_t number = 0;  // for Number
};

struct PolicySource {
    std::string name;             // as the reasons name it
    bool for_every_user = false;  // a machine's: user_id is never taken from it
    bool numbers_as_text = false;  // numbers written as text (a policy file)
    std::vector<PolicyEntry> entries;
};

struct PolicyInForce {
    Settings values;         // in force: the user's own, under the policies'
    FileEncoding encoding;   // of values' text
    unsigned locked = 0;     // SettingBits that a policy sets
    std::optional<bool> autorun;
    std::vector<std::string> reasons;  // policy values refused, a line each
};

// The values in force: for each managed value, the first source (highest
// precedence first) that sets it with a value the limits accept; a value
// refused counts as not set there. Policy text goes into own's encoding
// when that can say it, else the values in force become UTF-8.
PolicyInForce ApplyPolicy(const Settings& own, FileEncoding encoding, const std::vector<PolicySource>& sources,
                          const TextConverter& converter);

// A policy file in the settings file's format: each known key's last line,
// its text in UTF-8.
PolicySource PolicyFromFile(std::string name, const std::string& bytes, const TextConverter& converter);

// ---- the settings dialog's Save ----

struct DialogValues {
    std::optional<std::string> server;  // UTF-8; none: not edited
    int32_t user_id = 0, interval_time = 0, server_port = 0;
};

struct SavedFile {
    Settings values;  // the user's own values now
    FileEncoding encoding;
    std::string bytes;  // the five-line file
};

// The user's file after Save: `own` (the file's values, text in encoding)
// with the dialog's values, but for those in `locked`, which keep the
// user's own. A new server goes into the file's encoding; a native file
// that cannot say it becomes UTF-8 with the mark, and a file of ASCII alone
// takes the front end's choice for it.
SavedFile SaveDialogValues(const Settings& own, FileEncoding encoding, const DialogValues& dialog, unsigned locked,
                           const TextConverter& converter);

}  // namespace orlimo
