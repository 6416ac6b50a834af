#include "debug/cmd_file.h"

#include "app/settings_ini.h"
#include "core/convert.h"
#include "core/file_read.h"
#include "lang/text_codec.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace varnix {

namespace {

bool IsLineEnd(QChar c) {
    return c == u'\r' || c == u'\n';
}

// Tabs and the other control characters (but not the line ends and NUL) end an unquoted field.
bool IsSeparator(QChar c) {
    const char16_t u = c.unicode();
    return u > 0 && u < 0x20 && !IsLineEnd(c);
}

class TLineScanner {
public:
    TLineScanner(QStringView text, qsizetype& pos) : t_(text), pos_(pos) {}

    QStringList Fields() {
        QStringList fields;
        SkipBlanks();
        while (!AtLineEnd()) {
            fields << (t_[pos_] == u'"' ? Quoted() : Bare());
            SkipBlanks();
            if (AtLineEnd() || t_[pos_] != u'|')
                continue;
            ++pos_;
            qsizetype next = pos_;
            while (next < t_.size() && t_[next] == u' ')
                ++next;
            if (next >= t_.size() || IsLineEnd(t_[next]) || t_[next] == u'\0')
                fields << QString();
            SkipBlanks();
        }
        // A NUL ends what counts of a line; skip to the line break and over it.
        while (pos_ < t_.size() && !IsLineEnd(t_[pos_]))
            ++pos_;
        if (pos_ < t_.size() && t_[pos_] == u'\r')
            ++pos_;
        if (pos_ < t_.size() && t_[pos_] == u'\n')
            ++pos_;
        return fields;
    }

private:
    bool AtLineEnd() const { return pos_ >= t_.size() || IsLineEnd(t_[pos_]) || t_[pos_] == u'\0'; }

    void SkipBlanks() {
        while (pos_ < t_.size() && (t_[pos_] == u' ' || IsSeparator(t_[pos_])))
            ++pos_;
    }

    // An unquoted field: up to "|", a control character or the line end; spaces are dropped.
    QString Bare() {
        QString s;
        while (!AtLineEnd() && t_[pos_] != u'|' && !IsSeparator(t_[pos_])) {
            if (t_[pos_] != u' ')
                s += t_[pos_];
            ++pos_;
        }
        return s;
    }

    // A quoted field; pos_ is on the opening quote.
    QString Quoted() {
        QString s;
        ++pos_;
        while (pos_ < t_.size()) {
            const QChar c = t_[pos_];
            if (c == u'"') {
                // The format drops every space before splitting a line, so a quote, spaces and a
                // quote are a doubled quote.
                qsizetype q = pos_ + 1;
                while (q < t_.size() && t_[q] == u' ')
                    ++q;
                if (q < t_.size() && t_[q] == u'"') {
                    s += u'"';
                    pos_ = q + 1;
                    continue;
                }
                ++pos_;
                break;
            }
            // A row is one line: a quote left open ends with its line, and the lines after it
            // are rows of their own.
            if (c == u'\0' || IsLineEnd(c))
                break;
            s += c;
            ++pos_;
        }
        return s;
    }

    QStringView t_;
    qsizetype& pos_;
};

bool NeedsQuotes(const QString& field) {
    for (QChar c : field)
        if (c == u' ' || c == u'|' || c == u'"' || c.unicode() < 0x20)
            return true;
    return false;
}

// A line break or a NUL cannot be kept inside a one-line row.
bool BreaksLine(QChar c) {
    return IsLineEnd(c) || c == u'\0';
}

bool HasLineBreak(const QString& text) {
    return std::any_of(text.begin(), text.end(), BreaksLine);
}

QString FieldText(const QString& field) {
    if (!NeedsQuotes(field))
        return field;
    QString inner = field;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

QString Bool(bool v) {
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

QString ErrnoText(const QString& what, const QString& path, int err) {
    return what.arg(path, QString::fromLocal8Bit(std::strerror(err)));
}

} // namespace

QStringList SplitCmdLine(QStringView text, qsizetype& pos) {
    return TLineScanner(text, pos).Fields();
}

std::optional<TCmdRow> RowFromFields(const QStringList& fields) {
    if (fields.size() != 5)
        return std::nullopt;
    TCmdRow row;
    row.Choose = fields[0] == u"true";
    row.Name = fields[1];
    row.Cmd = fields[2];
    row.Hex = fields[3] == u"true";
    row.Delay = fields[4];
    return row;
}

TCmdRow OneLineRow(TCmdRow row) {
    // A text command holding a line break (what turning hex off on "0D 0A" gives) is kept as the
    // same bytes in hex; a name or a delay cannot hold one, so any that slipped in becomes a space.
    if (!row.Hex && HasLineBreak(row.Cmd)) {
        row.Cmd = QString::fromLatin1(TextToHex(DisplayToBytes(row.Cmd)));
        row.Hex = true;
    }
    for (QString* field : {&row.Name, &row.Cmd, &row.Delay})
        for (QChar& c : *field)
            if (BreaksLine(c))
                c = u' ';
    return row;
}

QString FormatCmdLine(const TCmdRow& given) {
    const TCmdRow row = OneLineRow(given);
    return QStringList{Bool(row.Choose), FieldText(row.Name), FieldText(row.Cmd), Bool(row.Hex),
                       FieldText(row.Delay)}
        .join(u'|');
}

QString FormatCmdFile(const std::vector<TCmdRow>& rows) {
    QString out;
    for (const TCmdRow& row : rows)
        out += FormatCmdLine(row) + QStringLiteral("\r\n");
    return out;
}

TCmdFileContent ParseCmdFile(QStringView text) {
    TCmdFileContent content;
    bool anyRow = false;
    qsizetype pos = 0;
    while (pos < text.size() && content.Rows.size() < CmdRowCount) {
        const qsizetype before = pos;
        content.Rows.push_back(RowFromFields(SplitCmdLine(text, pos)));
        anyRow = anyRow || content.Rows.back().has_value();
        if (pos <= before)
            break; // cannot happen; guards against a scanner that stands still
    }
    content.LooksForeign = !anyRow && !text.trimmed().isEmpty();
    return content;
}

TCmdFileRead ReadCmdFile(const QString& path) {
    TCmdFileRead result;
    // Never through a link, and never a pipe, a device or a huge file: the list is written back
    // to this path when the window closes.
    const auto bytes = ReadRegularFile(QFile::encodeName(path).toStdString(),
                                       static_cast<std::size_t>(CmdFileMaxBytes), TLinks::Refuse);
    if (!bytes) {
        result.Missing = IsNotFound(bytes.Error());
        result.Error = QString::fromLocal8Bit(bytes.Error().Message);
        return result;
    }
    // Text of either encoding never holds a NUL; a file that does is some other kind of file.
    if (bytes->find('\0') != std::string::npos) {
        result.Error = QStringLiteral("%1: a binary file").arg(path);
        return result;
    }
    result.Content = ParseCmdFile(FileBytesToText(*bytes));
    return result;
}

TStatus WriteCmdFile(const QString& path, const std::vector<TCmdRow>& rows) {
    const QByteArray data = FormatCmdFile(rows).toUtf8();
    errno = 0;
    if (WriteFileAtomically(path, data, 0644))
        return {};
    const int err = errno ? errno : EIO;
    // WriteFileAtomically replaces only a regular file; say what stood in the way.
    const QString message = err == ELOOP ? QStringLiteral("Unable to write to %1: a symbolic link").arg(path)
                            : err == EINVAL
                                ? QStringLiteral("Unable to write to %1: not a regular file").arg(path)
                                : ErrnoText(QStringLiteral("Unable to write to %1: %2"), path, err);
    return TError{"", path.toStdString(), message.toStdString()};
}

} // namespace varnix
