#pragma once
// A combo box that tells its owner just before its list drops down, so the owner can refill it.

#include <QComboBox>

class TDropDownCombo final : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        emit DropDown();
        QComboBox::showPopup();
    }

signals:
    void DropDown();
};
