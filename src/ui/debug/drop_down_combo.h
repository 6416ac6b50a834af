#pragma once
// A combo box that says when its list is about to drop down, so the list can be filled then.

#include <QComboBox>

namespace varnix {

class TDropDownCombo final : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        emit DroppingDown();
        QComboBox::showPopup();
    }

signals:
    void DroppingDown();
};

} // namespace varnix
