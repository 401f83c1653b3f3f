#include "core/autorun.h"

namespace orlimo {

AutorunToggle ToggleAutorun(int32_t autorun_flag, RunValuePort& run_value) {
    return SetAutorun(autorun_flag != 1, run_value);
}

AutorunToggle SetAutorun(bool want, RunValuePort& run_value) {
    if (want) {
        run_value.Write();
    } else {
        run_value.Remove();
    }
    // Judged by the outcome, not by the calls' results: removing a value
    // that someone else removed already reaches what was asked for.
    const bool present = run_value.Present();
    return {present ? 1 : 0, present != want};
}

bool EnforceAutorun(bool autorun, RunValuePort& run_value) {
    if (run_value.Present() == autorun) return autorun;
    return SetAutorun(autorun, run_value).autorun_flag == 1;
}

AutorunRequest ParseAutorunRequest(const std::string& arguments) {
    const size_t first = arguments.find_first_not_of(" \t");
    if (first == std::string::npos) return AutorunRequest::None;
    const std::string given = arguments.substr(first, arguments.find_last_not_of(" \t") + 1 - first);
    if (given == kAutorunOnArguments) return AutorunRequest::On;
    if (given == kAutorunOffArguments) return AutorunRequest::Off;
    return AutorunRequest::None;
}

}  // namespace orlimo
