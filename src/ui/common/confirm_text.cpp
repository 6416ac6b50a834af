#include "ui/common/confirm_text.h"

#include <QStringList>

#include <algorithm>

namespace varnix {

QString ConfirmText(const QString& question, const QString& more, const std::vector<TModuleLine>& modules) {
    QStringList lines;
    const int listed = std::min<int>(static_cast<int>(modules.size()), MaxListed);
    for (int i = 0; i < listed; ++i) {
        const TModuleLine& m = modules[static_cast<std::size_t>(i)];
        lines << m.IP + QStringLiteral("  ") + m.Name + QStringLiteral("  ") + m.Mac;
    }
    if (static_cast<int>(modules.size()) > listed)
        lines << more.arg(static_cast<int>(modules.size()) - listed);
    // Replaced by hand rather than by arg(): a module's name may itself hold "%1".
    QString text = question;
    const qsizetype at = text.indexOf(QStringLiteral("%1"));
    if (at < 0)
        return text + QStringLiteral("\n") + lines.join(u'\n');
    return text.replace(at, 2, lines.join(u'\n'));
}

} // namespace varnix
