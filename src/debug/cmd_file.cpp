#include "debug/cmd_file.h"

#include "app/settings_ini.h"
#include "lang/text_codec.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
        // A NUL ends what the old reader saw of a line; skip to the line break and over it.
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
                // The old reader dropped every space before splitting, so a quote, spaces and a
                // quote were a doubled quote to it.
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
            if (c == u'\0')
                break;
            if (IsLineEnd(c) && !QuoteFollows())
                break; // unbalanced: the field ends with the line
            s += c;
            ++pos_;
        }
        return s;
    }

    bool QuoteFollows() {
        if (lastQuote_ < -1)
            lastQuote_ = t_.lastIndexOf(u'"');
        return lastQuote_ > pos_;
    }

    QStringView t_;
    qsizetype& pos_;
    qsizetype lastQuote_ = -2;
};

bool NeedsQuotes(const QString& field) {
    for (QChar c : field)
        if (c == u' ' || c == u'|' || c == u'"' || c.unicode() < 0x20)
            return true;
    return false;
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

QString FormatCmdLine(const TCmdRow& row) {
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
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking, so that a FIFO or a device named by mistake cannot hang the window.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.Missing = errno == ENOENT || errno == ENOTDIR;
        result.Error = ErrnoText(QStringLiteral("Cannot open %1: %2"), path, errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        result.Error = QStringLiteral("%1 is not a regular file").arg(path);
        return result;
    }
    if (st.st_size > CmdFileMaxBytes) {
        ::close(fd);
        result.Error = QStringLiteral("%1 is too large for a command list (%2 bytes, at most %3)")
                           .arg(path)
                           .arg(st.st_size)
                           .arg(CmdFileMaxBytes);
        return result;
    }
    std::string bytes(static_cast<std::size_t>(CmdFileMaxBytes) + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.Error = ErrnoText(QStringLiteral("Cannot read %1: %2"), path, errno);
            ::close(fd);
            return result;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got > static_cast<std::size_t>(CmdFileMaxBytes)) { // it grew while being read
        result.Error = QStringLiteral("%1 is too large for a command list").arg(path);
        return result;
    }
    bytes.resize(got);
    result.Content = ParseCmdFile(FileBytesToText(bytes));
    return result;
}

bool WriteCmdFile(const QString& path, const std::vector<TCmdRow>& rows, QString* error) {
    const QByteArray data = FormatCmdFile(rows).toUtf8();
    errno = 0;
    if (WriteFileAtomically(path, data, 0644))
        return true;
    if (error)
        *error = ErrnoText(QStringLiteral("Unable to write to %1: %2"), path, errno ? errno : EIO);
    return false;
}

} // namespace varnix
