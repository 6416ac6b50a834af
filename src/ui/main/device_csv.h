#pragma once
// The exported device list: "IP,Name,MAC,Ver" and one line per row, CR LF after every line,
// UTF-8. A field holding a comma, a double quote or a line break is quoted (RFC 4180, inner
// quotes doubled) so a module name such as "Hall, north" stays one field; every other field is
// written as it is.

#include "ui/main/device_list_model.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

namespace varnix {

QString CsvField(const QString& field);
QByteArray DeviceCsv(const std::vector<TDeviceRow>& rows);

// "<dir>/<caption> yyyyMMdd HHmmss - (<count>).csv"
QString DeviceExportFileName(const QString& dir, const QString& caption, const QDateTime& when, int count);

} // namespace varnix
