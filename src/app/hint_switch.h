#pragma once
// Whether the pop-up help of the windows shows, and how long a shown hint stays. The state only:
// the filter that shows or suppresses the hints sits with the windows (ui/common/hint_filter.h)
// and reads it for every help event.

#include <functional>

namespace varnix {

class THintSwitch {
public:
    void SetEnabled(bool enabled) {
        enabled_ = enabled;
        // A hint already on screen goes at once, not when its pause runs out.
        if (!enabled_ && onSwitchedOff_)
            onSwitchedOff_();
    }
    bool Enabled() const { return enabled_; }
    void SetHidePause(int ms) { hidePauseMs_ = ms; }
    int HidePause() const { return hidePauseMs_; }
    // Run each time hints are switched off; the filter hides the hint on screen.
    void SetSwitchedOffHook(std::function<void()> hook) { onSwitchedOff_ = std::move(hook); }

private:
    bool enabled_ = true;
    int hidePauseMs_ = 10000;
    std::function<void()> onSwitchedOff_;
};

} // namespace varnix
