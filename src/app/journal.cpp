#include "app/journal.h"

#include "app/app_paths.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
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
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Failed(
            path,
            QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
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
    QFile f(path);
    if (!f.exists())
        return {};
    if (!f.open(QIODevice::ReadOnly)) {
        TJournalRead r;
        r.Warnings.append(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
        return r;
    }
    return ParseJournal(f.readAll());
}

} // namespace varnix
