#include "cli/sheet.h"

#include "lang/error_text.h"

#include <QSet>

namespace varnix::cli {

namespace {

struct Record {
    int Line = 0;
    QStringList Cells;
};

TResult<QList<Record>> ReadRecords(const QString& text, QChar sep) {
    QList<Record> out;
    Record rec{1, {}};
    QString cell;
    int line = 1;
    bool quoted = false;     // inside a quoted field
    bool afterQuote = false; // a quoted field has closed; only a separator or line end may follow
    int quoteLine = 0;
    const auto endCell = [&] {
        rec.Cells << cell;
        cell.clear();
        afterQuote = false;
    };
    const auto endRecord = [&](int nextLine) {
        endCell();
        out << rec;
        rec = Record{nextLine, {}};
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                cell += c;
            }
            continue;
        }
        if (c == sep) {
            endCell();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            ++line;
            endRecord(line);
        } else if (c == QLatin1Char('"') && cell.trimmed().isEmpty() && !afterQuote) {
            quoted = true;
            quoteLine = line;
            cell.clear();
        } else {
            // Text after a closing quote is kept as it is, as spreadsheets do.
            cell += c;
        }
    }
    if (quoted)
        return TError{"", "",
                      QStringLiteral("line %1: a quoted field is not closed").arg(quoteLine).toStdString()};
    if (!cell.isEmpty() || !rec.Cells.isEmpty())
        endRecord(line + 1);
    return out;
}

bool BlankRecord(const QStringList& cells) {
    for (const QString& c : cells)
        if (!c.trimmed().isEmpty())
            return false;
    return true;
}

} // namespace

TResult<QList<QStringList>> ParseCsv(const QString& text, QChar separator) {
    const TResult<QList<Record>> records = ReadRecords(text, separator);
    if (!records)
        return records.Error();
    QList<QStringList> out;
    for (const Record& r : *records)
        out << r.Cells;
    return out;
}

std::optional<TSheet> ParseSheet(const QByteArray& data, QStringList* errors) {
    QStringList errs;
    QString text = QString::fromUtf8(data);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QString firstLine = text.section(QLatin1Char('\n'), 0, 0);
    const QChar sep = !firstLine.contains(QLatin1Char(',')) && firstLine.contains(QLatin1Char(';'))
                          ? QLatin1Char(';')
                          : QLatin1Char(',');
    const TResult<QList<Record>> records = ReadRecords(text, sep);
    if (!records) {
        if (errors)
            *errors << ErrorMessage(records.Error());
        return std::nullopt;
    }
    qsizetype first = 0;
    while (first < records->size() && BlankRecord((*records)[first].Cells))
        ++first;
    if (first == records->size()) {
        if (errors)
            *errors << QStringLiteral("the sheet is empty: it needs a header row with MAC and field names");
        return std::nullopt;
    }

    TSheet sheet;
    const Record& header = (*records)[first];
    int macColumn = -1;
    QList<const TFieldDef*> columns; // per header cell; null for the MAC column
    QSet<const TFieldDef*> seen;
    for (int i = 0; i < header.Cells.size(); ++i) {
        const QString name = header.Cells[i].trimmed();
        // A note column ("#Family", "#Findings" of the window's exported list): read past.
        if (name.startsWith(u'#')) {
            columns << nullptr;
            continue;
        }
        if (name.compare(QLatin1String("MAC"), Qt::CaseInsensitive) == 0) {
            if (macColumn >= 0)
                errs << QStringLiteral("line %1: two MAC columns").arg(header.Line);
            macColumn = i;
            columns << nullptr;
            continue;
        }
        const TFieldDef* f = FindField(name);
        if (!f) {
            QString message = QStringLiteral("line %1, column %2: unknown field '%3'")
                                  .arg(header.Line)
                                  .arg(i + 1)
                                  .arg(name);
            // Suggestions for the first few only: a header of nothing but unknown names is no typo.
            const QStringList near = errs.size() < 5 ? SimilarFieldNames(name) : QStringList();
            if (!near.isEmpty())
                message += QStringLiteral(" (did you mean %1?)").arg(near.join(QStringLiteral(", ")));
            errs << message;
        } else if (f->Writable == 0) {
            errs << QStringLiteral("line %1: %2 is read-only (%3)").arg(header.Line).arg(f->Name, f->Help);
        } else if (seen.contains(f)) {
            errs << QStringLiteral("line %1: the column %2 appears twice").arg(header.Line).arg(f->Name);
        } else {
            seen.insert(f);
            sheet.Columns << f;
        }
        columns << f;
    }
    if (macColumn < 0)
        errs << QStringLiteral("line %1: the header has no MAC column").arg(header.Line);
    if (!errs.isEmpty()) {
        if (errors)
            *errors << errs;
        return std::nullopt;
    }

    QSet<QString> macs;
    const TFieldDef* macDef = FindField(QStringLiteral("UserMAC"));
    for (qsizetype r = first + 1; r < records->size(); ++r) {
        const Record& rec = (*records)[r];
        if (BlankRecord(rec.Cells))
            continue;
        if (rec.Cells.size() > header.Cells.size()) {
            errs << QStringLiteral("line %1: %2 cells, the header has %3")
                        .arg(rec.Line)
                        .arg(rec.Cells.size())
                        .arg(header.Cells.size());
            continue;
        }
        TSheetRow row;
        row.Line = rec.Line;
        const QString macText = macColumn < rec.Cells.size() ? rec.Cells[macColumn] : QString();
        const TResult<QJsonValue> mac = ParseFieldText(*macDef, macText);
        if (!mac) {
            errs << QStringLiteral("line %1: MAC %2")
                        .arg(rec.Line)
                        .arg(macText.trimmed().isEmpty() ? QStringLiteral("is empty")
                                                         : QString::fromStdString(ErrorReason(mac.Error())));
            continue;
        }
        row.Mac = mac->toString();
        if (macs.contains(row.Mac)) {
            errs << QStringLiteral("line %1: the MAC %2 has a row already").arg(rec.Line).arg(row.Mac);
            continue;
        }
        macs.insert(row.Mac);
        for (int c = 0; c < rec.Cells.size(); ++c) {
            const TFieldDef* f = columns[c];
            // Cells are trimmed; an empty cell leaves the field as the module has it.
            const QString cell = rec.Cells[c].trimmed();
            if (!f || cell.isEmpty())
                continue;
            const TResult<QJsonValue> v = ParseFieldText(*f, cell);
            const TStatus ok = v ? CheckRange(*f, *v, FamBoth) : TStatus(v.Error());
            if (!ok) {
                errs << QStringLiteral("line %1: %2").arg(rec.Line).arg(ErrorMessage(ok.Error()));
                continue;
            }
            row.Assignments << TAssignment{f, *v};
        }
        sheet.Rows << row;
    }
    if (errs.isEmpty() && sheet.Rows.isEmpty())
        errs << QStringLiteral("the sheet has a header but no module rows");
    if (!errs.isEmpty()) {
        if (errors)
            *errors << errs;
        return std::nullopt;
    }
    return sheet;
}

} // namespace varnix::cli
