#include "ui/common/hint_switch.h"

#include <QApplication>
#include <QHelpEvent>
#include <QPointer>
#include <QToolTip>
#include <QWidget>

namespace varnix {

namespace {

// A hint as the pop-up shows it: rich text, so that a long hint wraps instead of running
// across the screen; line breaks of the text stay line breaks.
QString HintHtml(const QString& plain) {
    QString html = plain.toHtmlEscaped();
    html.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return QStringLiteral("<p>") + html + QStringLiteral("</p>");
}

} // namespace

THintSwitch::THintSwitch(QObject* parent) : QObject(parent) {
    parent->installEventFilter(this);
}

THintSwitch& THintSwitch::Instance() {
    // Owned by the application object, so a test that makes a new one gets a new switch.
    static QPointer<THintSwitch> instance;
    if (instance.isNull())
        instance = new THintSwitch(QCoreApplication::instance());
    return *instance;
}

void THintSwitch::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled_)
        QToolTip::hideText();
}

bool THintSwitch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr)
        return false;
    if (!enabled_)
        return true;
    // Find the widget (or parent) that carries the hint, as QWidget's own handling would.
    QWidget* carrier = widget;
    while (carrier != nullptr && carrier->toolTip().isEmpty() && !carrier->isWindow())
        carrier = carrier->parentWidget();
    if (carrier == nullptr || carrier->toolTip().isEmpty())
        return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    QToolTip::showText(help->globalPos(), HintHtml(carrier->toolTip()), widget, QRect(), hidePauseMs_);
    return true;
}

} // namespace varnix
