#include "core/autorun.h"

namespace orlimo {

AutorunToggle ToggleAutorun(int32_t autorun_flag, RunValuePort& run_value) {
    const bool want = autorun_flag != 1;
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
    if (autorun) {
        run_value.Write();
    } else {
        run_value.Remove();
    }
    return run_value.Present();
}

}  // namespace orlimo
