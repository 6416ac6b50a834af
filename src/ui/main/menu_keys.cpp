#include "ui/main/menu_keys.h"

#include <QStringList>

namespace varnix {

QString WithMnemonic(const QString& caption, QChar letter) {
    QString text = caption;
    text.replace(QStringLiteral("&"), QStringLiteral("&&"));
    const qsizetype at = text.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at >= 0 && letter.isLetterOrNumber() && letter.unicode() < 0x80) {
        text.insert(at, u'&');
        return text;
    }
    return text + QStringLiteral(" (&") + letter.toUpper() + u')';
}

QString WithoutMnemonic(const QString& caption) {
    QString text = caption;
    // The appended form: " (&L)" at the end.
    const qsizetype n = text.size();
    if (n >= 5 && text.at(n - 1) == u')' && text.at(n - 3) == u'&' && text.at(n - 4) == u'(' &&
        text.at(n - 5) == u' ')
        text.chop(5);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'&' && i + 1 < text.size()) {
            out += text.at(++i); // "&&" is one '&', "&x" is x
            continue;
        }
        out += text.at(i);
    }
    return out;
}

} // namespace varnix
