#pragma once
// The serial port drop-down: a combo box that says when its list opens and closes, so the port
// list can be refreshed before it shows and an item chosen when the user picked none.

#include <QComboBox>

namespace varnix {

class TComPortBox final : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        emit DropDown();
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        emit CloseUp();
    }

signals:
    void DropDown();
    void CloseUp();
};

} // namespace varnix
