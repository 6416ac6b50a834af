#pragma once
// The application style with the pop-up hint timing of this program: a hint appears 50 ms after
// the cursor comes to rest on a control (Qt's default waits 700 ms).

#include <QProxyStyle>

namespace varnix {

inline constexpr int HintPauseMs = 50;

class THintStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override {
        if (hint == SH_ToolTip_WakeUpDelay)
            return HintPauseMs;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace varnix
