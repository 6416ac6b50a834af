#include "app/journal.h"

#include "app/app_paths.h"
#include "core/file_read.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnix {

namespace {

QJsonObject ToJson(const TJournalEntry& e) {
    QJsonObject o;
    o.insert(QStringLiteral("time"), e.Time);
    o.insert(QStringLiteral("mac"), e.Mac);
    o.insert(QStringLiteral("ip"), e.Ip);
    o.insert(QStringLiteral("name"), e.Name);
    o.insert(QStringLiteral("family"), e.Family);
    o.insert(QStringLiteral("link"), e.Link);
    QJsonArray changes;
    for (const TJournalChange& c : e.Changes) {
        QJsonObject x;
        x.insert(QStringLiteral("field"), c.Field);
        x.insert(QStringLiteral("old"), c.Old.isUndefined() ? QJsonValue() : c.Old);
        x.insert(QStringLiteral("new"), c.New.isUndefined() ? QJsonValue() : c.New);
        changes.append(x);
    }
    o.insert(QStringLiteral("changes"), changes);
    o.insert(QStringLiteral("acks"), QJsonArray::fromStringList(e.Acks));
    o.insert(QStringLiteral("outcome"), e.Outcome);
    return o;
}

TJournalEntry FromJson(const QJsonObject& o) {
    TJournalEntry e;
    e.Time = o.value(QStringLiteral("time")).toString();
    e.Mac = o.value(QStringLiteral("mac")).toString();
    e.Ip = o.value(QStringLiteral("ip")).toString();
    e.Name = o.value(QStringLiteral("name")).toString();
    e.Family = o.value(QStringLiteral("family")).toString();
    e.Link = o.value(QStringLiteral("link")).toString();
    for (const QJsonValue& v : o.value(QStringLiteral("changes")).toArray()) {
        const QJsonObject x = v.toObject();
        const QString field = x.value(QStringLiteral("field")).toString();
        if (field.isEmpty())
            continue;
        e.Changes.append(
            TJournalChange{field, x.value(QStringLiteral("old")), x.value(QStringLiteral("new"))});
    }
    for (const QJsonValue& v : o.value(QStringLiteral("acks")).toArray())
        e.Acks.append(v.toString());
    e.Outcome = o.value(QStringLiteral("outcome")).toString();
    return e;
}

TError Failed(const QString& path, const QString& message) {
    return TError{"", path.toStdString(), message.toStdString()};
}

// Opens the journal for appending: created 0600, never through a symbolic link, never a pipe or a
// device (a FIFO would hang the save that already wrote the module, /dev/zero would swallow the
// entry). A journal readable by others is tightened to 0600, since it holds log-ins and addresses.
TResult<int> OpenForAppend(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int e = errno;
        // ELOOP: the path is a link; ENXIO: a FIFO without a reader (or a device that is not there).
        if (e == ELOOP)
            return Failed(path, QStringLiteral("cannot open %1: a symbolic link").arg(path));
        if (e == ENXIO)
            return Failed(path, QStringLiteral("cannot write %1: not a regular file").arg(path));
        return Failed(
            path, QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(e))));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Failed(path, QStringLiteral("cannot write %1: not a regular file").arg(path));
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) == 0)
        qWarning("%s: its mode 0%03o let others read it; now 0600", native.constData(),
                 static_cast<unsigned>(st.st_mode & 0777));
    return fd;
}

} // namespace

QString JournalPath(const QString& programDir) {
    return ProgramFilePath(programDir, QString::fromLatin1(JournalFileName));
}

QByteArray JournalLine(const TJournalEntry& entry) {
    // Compact JSON escapes line breaks inside strings, so the line holds no newline but its last.
    return QJsonDocument(ToJson(entry)).toJson(QJsonDocument::Compact) + '\n';
}

TStatus AppendJournal(const QString& path, TJournalEntry entry) {
    if (entry.Time.isEmpty())
        entry.Time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QByteArray line = JournalLine(entry);
    const TResult<int> opened = OpenForAppend(path);
    if (!opened)
        return opened.Error();
    const int fd = *opened;
    ssize_t written;
    do {
        written = ::write(fd, line.constData(), static_cast<std::size_t>(line.size()));
    } while (written < 0 && errno == EINTR);
    const int writeErrno = errno;
    ::close(fd);
    if (written != line.size())
        return Failed(path, written < 0 ? QStringLiteral("cannot write %1: %2")
                                              .arg(path, QString::fromLocal8Bit(std::strerror(writeErrno)))
                                        : QStringLiteral("cannot write %1: only %2 of %3 bytes written")
                                              .arg(path)
                                              .arg(written)
                                              .arg(line.size()));
    return {};
}

TJournalRead ParseJournal(const QByteArray& data) {
    TJournalRead r;
    const QList<QByteArray> lines = data.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &err);
        if (err.error != QJsonParseError::NoError || !doc.isObject()) {
            const bool last = i == lines.size() - 1; // no newline after it: a write that was cut short
            r.Warnings.append(QStringLiteral("line %1: %2; skipped")
                                  .arg(i + 1)
                                  .arg(last ? QStringLiteral("cut short (the writer was stopped mid-line)")
                                            : QStringLiteral("not a journal entry")));
            continue;
        }
        TJournalEntry e = FromJson(doc.object());
        e.Number = i + 1;
        r.Entries.append(e);
    }
    return r;
}

TJournalRead ReadJournal(const QString& path) {
    const auto bytes =
        ReadRegularFile(QFile::encodeName(path).toStdString(), MaxJournalBytes, TLinks::Refuse);
    if (!bytes) {
        TJournalRead r;
        if (!IsNotFound(bytes.Error()))
            r.Error = QStringLiteral("cannot read %1").arg(QString::fromStdString(bytes.Error().Message));
        return r;
    }
    return ParseJournal(QByteArray::fromStdString(*bytes));
}

} // namespace varnix
