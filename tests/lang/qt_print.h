#pragma once
// Readable failure messages for Qt strings.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(QStringView s, std::ostream* os) {
    *os << '"' << s.toString().toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (const QString& s : l)
        *os << " \"" << s.toStdString() << '"';
    *os << " }";
}
