#pragma once
// The provisioning sheet: a CSV file (RFC 4180: fields in double quotes may hold commas, quotes
// doubled, line breaks) whose header row names a MAC column and any fields, one module per row.
// An empty cell leaves that field as the module has it. A UTF-8 byte-order mark is skipped, and a
// header with semicolons but no commas makes ';' the separator (as some spreadsheets save).
// A header cell that starts with '#' names a note column, which is read past (the window's
// exported device list keeps its address, firmware, family and findings in such columns).

#include "model/fields.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace varnix::cli {

// The records of a CSV text; a record is a list of cells. Fails on an unterminated quote, saying
// on which line it opened. Blank lines are kept as records with one empty cell.
TResult<QList<QStringList>> ParseCsv(const QString& text, QChar separator);

struct TSheetRow {
    int Line = 0;                   // line of the file where the row starts (1-based)
    QString Mac;                    // "00 1A 2B 3C 4D 5E"
    QList<TAssignment> Assignments; // the non-empty cells
};

struct TSheet {
    QList<const TFieldDef*> Columns; // in header order, without the MAC column
    QList<TSheetRow> Rows;
};

// Reads and checks the whole sheet: a header with exactly one MAC column and known, writable,
// distinct field names; every row a valid MAC, seen once, no more cells than the header, and
// values that read and lie in range. Every problem is listed in `errors` ("line 3: ...");
// the result is nullopt when there is any.
std::optional<TSheet> ParseSheet(const QByteArray& data, QStringList* errors);

} // namespace varnix::cli
