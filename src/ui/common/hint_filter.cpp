#include "ui/common/hint_filter.h"

#include <QAbstractItemView>
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
    const auto* help = static_cast<QHelpEvent*>(event);
    // A row of a list that has a tooltip of its own (a device row's health findings) shows it
    // whether the hints are on or off: it is what the row says, not help about the control.
    if (auto* view = qobject_cast<QAbstractItemView*>(widget->parentWidget());
        view != nullptr && view->viewport() == widget) {
        const QModelIndex index = view->indexAt(help->pos());
        const QString rowTip = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
        if (!rowTip.isEmpty()) {
            QToolTip::showText(help->globalPos(), HintHtml(rowTip), widget, view->visualRect(index),
                               hints_.HidePause());
            return true;
        }
    }
    if (!hints_.Enabled())
        return true;
    // Find the widget (or parent) that carries the hint, as QWidget's own handling would.
    QWidget* carrier = widget;
    while (carrier != nullptr && carrier->toolTip().isEmpty() && !carrier->isWindow())
        carrier = carrier->parentWidget();
    if (carrier == nullptr || carrier->toolTip().isEmpty())
        return false;
    QToolTip::showText(help->globalPos(), HintHtml(carrier->toolTip()), widget, QRect(), hints_.HidePause());
    return true;
}

} // namespace varnix
