// Activations of the tray icon that open the portal's login page. A tray
// host that reports every click (KDE Plasma, UKUI) sends two for one double
// click, one that reports double clicks (GNOME, the Windows shell) sends
// one: an activation that comes within the double-click interval of the
// last one that opened the page opens nothing more, so a double click
// opens the page once on every host.
#pragma once
#include <cstdint>

namespace orlimo {

// Used when the platform does not say what its double-click interval is.
constexpr int64_t kDefaultDoubleClickMs = 500;

class ActivationGate {
public:
    // now_ms: a monotonic clock in milliseconds; interval_ms: the
    // platform's double-click interval (kDefaultDoubleClickMs when unknown
    // or not positive). True: this activation opens the page.
    bool Take(int64_t now_ms, int64_t interval_ms) {
        if (interval_ms <= 0) interval_ms = kDefaultDoubleClickMs;
        if (opened_ && now_ms >= last_ && now_ms - last_ < interval_ms) return false;
        opened_ = true;
        last_ = now_ms;
        return true;
    }

private:
    bool opened_ = false;
    int64_t last_ = 0;
};

}  // namespace orlimo
