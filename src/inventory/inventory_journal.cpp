// The change journal as rows of varnix.db: each save one row holding the JSON line journal.h
// describes, so `journal`, `undo` and the window read the same entries they read from
// journal.jsonl before.
#include "inventory/journal_store.h"

#include "app/app_paths.h"
#include "inventory/inventory_db.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

namespace varnix {

TStatus TInventory::AppendJournal(TJournalEntry entry, bool durable) {
    if (entry.Time.isEmpty())
        entry.Time = InventoryNow();
    QByteArray line = JournalLine(entry);
    line.chop(1); // the newline
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    // One statement is its own transaction; it waits for other writers up to the busy time-out.
    if (!q.prepare(QStringLiteral("INSERT INTO journal (time, mac, line) VALUES (?, ?, ?)")))
        return Failure(QStringLiteral("cannot write the journal to"), q);
    q.bindValue(0, entry.Time);
    q.bindValue(1, entry.Mac.isNull() ? QStringLiteral("") : entry.Mac);
    q.bindValue(2, QString::fromUtf8(line));
    QSqlQuery sync(QSqlDatabase::database(connection_, false));
    // FULL syncs the log at this commit; NORMAL (the default here) leaves that to the checkpoint.
    if (durable)
        sync.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    const bool ok = q.exec();
    if (durable)
        sync.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (!ok)
        return Failure(QStringLiteral("cannot write the journal to"), q);
    return {};
}

TResult<TJournalRead> TInventory::ReadJournal() {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, line FROM journal ORDER BY id")))
        return Failure(QStringLiteral("cannot read the journal of"), q);
    TJournalRead r;
    while (q.next()) {
        const int id = q.value(0).toInt();
        TJournalRead one = ParseJournal(q.value(1).toString().toUtf8());
        if (one.Entries.size() != 1) {
            r.Warnings.append(QStringLiteral("entry %1: not a journal entry; skipped").arg(id));
            continue;
        }
        one.Entries.front().Number = id;
        r.Entries.append(one.Entries.front());
    }
    return r;
}

TStatus AppendJournalEntry(const QString& programDir, TJournalEntry entry, bool durable) {
    if (const std::unique_ptr<TInventory> inv = OpenInventoryOrWarn(programDir))
        return inv->AppendJournal(std::move(entry), durable);
    const QString path = JournalPath(programDir);
    const TStatus appended = AppendJournal(path, std::move(entry));
    if (!appended || !durable)
        return appended;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    const bool synced = fd >= 0 && ::fdatasync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        return TError{"", path.toStdString(),
                      QStringLiteral("cannot flush %1 to disk").arg(path).toStdString()};
    return {};
}

QString InventoryJournalName(const QString& programDir) {
    return ProgramFilePath(programDir, QString::fromLatin1(InventoryFileName));
}

TJournalRead ReadJournalEntries(const QString& programDir) {
    QString error;
    if (const std::unique_ptr<TInventory> inv = OpenInventoryOrWarn(programDir, &error)) {
        TResult<TJournalRead> r = inv->ReadJournal();
        if (r)
            return *r;
        TJournalRead failed;
        failed.Error = QString::fromStdString(r.Error().Message);
        return failed;
    }
    return ReadJournal(JournalPath(programDir));
}

} // namespace varnix
