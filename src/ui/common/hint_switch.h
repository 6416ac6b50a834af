#pragma once
// The application-wide hint switch. One filter on the application shows the pop-up help of
// every window (main window, about box, password dialog, upgrade and debugging windows): as
// wrapped rich text that stays for the hide pause, or, while hints are switched off, not at all.

#include <QObject>

namespace varnix {

class THintSwitch final : public QObject {
public:
    // The one switch of the application, installed on first use.
    static THintSwitch& Instance();

    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    void SetHidePause(int ms) { hidePauseMs_ = ms; }
    int HidePause() const { return hidePauseMs_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit THintSwitch(QObject* parent);
    bool enabled_ = true;
    int hidePauseMs_ = 10000;
};

} // namespace varnix
