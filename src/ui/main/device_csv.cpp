#include "ui/main/device_csv.h"

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

QByteArray DeviceCsv(const std::vector<TDeviceRow>& rows) {
    QString text = QStringLiteral("IP,Name,MAC,Ver\r\n");
    for (const TDeviceRow& r : rows) {
        text += CsvField(r.IP) + u',' + CsvField(r.Name) + u',' + CsvField(r.Mac) + u',' +
                CsvField(r.Version) + QStringLiteral("\r\n");
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
