#pragma once
// The screenshot tools' dark theme: with VARNIX_SHOTS_DARK=1, the Fusion style with a dark
// palette, the look of a desktop with a dark theme. Header-only, for each tool.

#include <QApplication>
#include <QColor>
#include <QPalette>

namespace varnix::test {

inline void UseDarkPaletteIfAsked() {
    if (qEnvironmentVariable("VARNIX_SHOTS_DARK") != u"1")
        return;
    QApplication::setStyle(QStringLiteral("Fusion"));
    QPalette p;
    const QColor window(0x35, 0x35, 0x35), base(0x2A, 0x2A, 0x2A), text(0xE8, 0xE8, 0xE8);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    QApplication::setPalette(p);
}

} // namespace varnix::test
