#pragma once
// The exported device list, a sheet `varnix-cli provision` reads as it is:
// "#IP,ModName,MAC,#Ver,#Family,#Findings" and one line per row, CR LF after every line, UTF-8.
// MAC keys the row and ModName is the module's name as a field (an edited name is saved by a
// provision); the '#' columns are notes the sheet reader passes over. A name shown with escaped
// control characters is left empty, so a provision never writes the escape as the name.
// A field holding a comma, a double quote or a line break is quoted (RFC 4180, inner quotes
// doubled) so a module name such as "Hall, north" stays one field.

#include "ui/main/device_list_model.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

namespace varnix {

QString CsvField(const QString& field);
// `findings` holds each row's findings (one text per row, lines joined by "; "), or nothing.
QByteArray DeviceCsv(const std::vector<TDeviceRow>& rows, const std::vector<QString>& findings = {});
// "Z2", "Z3", or "incompatible" for a family this program cannot configure (as varnix-cli says).
QString FamilyText(std::int32_t family);

// "<dir>/<caption> yyyyMMdd HHmmss - (<count>).csv"
QString DeviceExportFileName(const QString& dir, const QString& caption, const QDateTime& when, int count);

} // namespace varnix
