#include "ui/common/hint_filter.h"

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

THintFilter::THintFilter(THintSwitch& hints, QWidget* scope) : hints_(hints), scope_(scope) {
    QCoreApplication::instance()->installEventFilter(this);
    hints_.SetSwitchedOffHook([] { QToolTip::hideText(); });
}

THintFilter::~THintFilter() {
    hints_.SetSwitchedOffHook({});
}

bool THintFilter::InScope(const QWidget* widget) const {
    // parentWidget() crosses from a dialog to the window it belongs to.
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
        if (w == scope_)
            return true;
    return false;
}

bool THintFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !InScope(widget))
        return false;
    if (!hints_.Enabled())
        return true;
    // Find the widget (or parent) that carries the hint, as QWidget's own handling would.
    QWidget* carrier = widget;
    while (carrier != nullptr && carrier->toolTip().isEmpty() && !carrier->isWindow())
        carrier = carrier->parentWidget();
    if (carrier == nullptr || carrier->toolTip().isEmpty())
        return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    QToolTip::showText(help->globalPos(), HintHtml(carrier->toolTip()), widget, QRect(), hints_.HidePause());
    return true;
}

} // namespace varnix
