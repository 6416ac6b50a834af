#include "ui/main/device_csv.h"

#include "core/types.h"

#include <QDir>

namespace varnix {

QString CsvField(const QString& field) {
    const bool needsQuotes =
        field.contains(u',') || field.contains(u'"') || field.contains(u'\r') || field.contains(u'\n');
    if (!needsQuotes)
        return field;
    QString quoted = field;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString FamilyText(std::int32_t family) {
    if (family == FamilyZ2)
        return QStringLiteral("Z2");
    if (family == FamilyZ3)
        return QStringLiteral("Z3");
    return QStringLiteral("incompatible");
}

QByteArray DeviceCsv(const std::vector<TDeviceRow>& rows, const std::vector<QString>& findings) {
    QString text = QStringLiteral("#IP,ModName,MAC,#Ver,#Family,#Findings\r\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TDeviceRow& r = rows[i];
        const QString name = r.Name.contains(u'\\') ? QString() : r.Name;
        QString found = i < findings.size() ? findings[i] : QString();
        found.replace(u'\n', QStringLiteral("; "));
        text += CsvField(r.IP) + u',' + CsvField(name) + u',' + CsvField(r.Mac) + u',' + CsvField(r.Version) +
                u',' + FamilyText(r.Family) + u',' + CsvField(found) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QString DeviceExportFileName(const QString& dir, const QString& caption, const QDateTime& when, int count) {
    QString base = dir;
    if (!base.endsWith(u'/'))
        base += u'/';
    return base + caption + u' ' + when.toString(QStringLiteral("yyyyMMdd HHmmss")) + QStringLiteral(" - (") +
           QString::number(count) + QStringLiteral(").csv");
}

} // namespace varnix
