#pragma once
// The hints of one context's windows. A filter on the application shows the pop-up help of the
// scope window and of every window below it (about box, password dialog, upgrade and debugging
// windows are the main window's children): as wrapped rich text that stays for the switch's hide
// pause, or, while the switch is off, not at all. Help of other windows passes untouched, so two
// main windows of two contexts each follow their own switch.

#include "app/hint_switch.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace varnix {

class THintFilter final : public QObject {
public:
    // Installs itself on the application; `hints` must outlive the filter.
    THintFilter(THintSwitch& hints, QWidget* scope);
    ~THintFilter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool InScope(const QWidget* widget) const;
    THintSwitch& hints_;
    QPointer<QWidget> scope_;
};

} // namespace varnix
