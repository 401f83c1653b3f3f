// The autorun command's rule: the check mark follows what the registry
// holds after the attempt, and a change that could not be made is reported
// instead of being shown as made.
#pragma once
#include <cstdint>
#include <string>

namespace orlimo {

// The machine-wide Run value, as the Win32 layer reaches it.
class RunValuePort {
public:
    virtual ~RunValuePort() = default;
    virtual void Write() = 0;    // the quoted path of the installed program
    virtual void Remove() = 0;
    virtual bool Present() = 0;  // the value exists, whatever its data
};

struct AutorunToggle {
    int32_t autorun_flag;  // 1 when the value is present afterwards
    bool refused;          // the registry does not hold what was asked for
};

// Removes the value when autorun_flag is 1, else writes it.
AutorunToggle ToggleAutorun(int32_t autorun_flag, RunValuePort& run_value);

// Where a policy sets autorun: the value is written or removed until it
// says what the policy says (when it can be). The result is whether it is
// present afterwards, which the check mark shows.
bool EnforceAutorun(bool autorun, RunValuePort& run_value);

// Writes the value (on) or removes it.
AutorunToggle SetAutorun(bool on, RunValuePort& run_value);

// What a start was asked to do with the Run value. A program that may not
// change it starts itself again elevated with kAutorunOnArguments or
// kAutorunOffArguments; any other command line asks for nothing.
enum class AutorunRequest { None, On, Off };
inline const char kAutorunOnArguments[] = "/autorun=on";
inline const char kAutorunOffArguments[] = "/autorun=off";
// The arguments as given (blanks around them do not count).
AutorunRequest ParseAutorunRequest(const std::string& arguments);

}  // namespace orlimo
