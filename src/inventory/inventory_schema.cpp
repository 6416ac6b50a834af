// The schema of varnix.db and its forward migration, and the one-time import of journal.jsonl.
#include "core/file_read.h"
#include "inventory/inventory_db.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace varnix {

namespace {

// Step N brings a file of schema N-1 to schema N. Steps are only ever added, never changed:
// a file out in the field may be at any earlier version.
const QStringList& Step(int version) {
    static const QStringList v1{
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS modules (mac TEXT PRIMARY KEY NOT NULL, family INTEGER "
            "NOT NULL, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, ip TEXT NOT NULL, "
            "name TEXT NOT NULL, firmware INTEGER NOT NULL, local TEXT NOT NULL, snapshots INTEGER NOT "
            "NULL DEFAULT 0, last_snapshot TEXT)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS modules_last_seen ON modules (last_seen)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS snapshots (id INTEGER PRIMARY KEY, time TEXT NOT NULL, "
                       "mac TEXT NOT NULL, link TEXT NOT NULL, family INTEGER NOT NULL, firmware INTEGER "
                       "NOT NULL, blocks BLOB NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS snapshots_mac_time ON snapshots (mac, time)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS journal (id INTEGER PRIMARY KEY, time TEXT NOT NULL, "
                       "mac TEXT NOT NULL, line TEXT NOT NULL)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL)"),
    };
    static const QStringList none;
    return version == 1 ? v1 : none;
}

int UserVersion(QSqlQuery& q, bool* ok) {
    *ok = q.exec(QStringLiteral("PRAGMA user_version")) && q.next();
    const int v = *ok ? q.value(0).toInt() : 0;
    q.finish();
    return v;
}

} // namespace

TStatus TInventory::Migrate(const QString& journalToImport) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    bool ok = false;
    if (UserVersion(q, &ok) == InventorySchemaVersion && ok)
        return {};
    if (!ok)
        return Failure(QStringLiteral("cannot use"), q);
    // Two programs opening a new file at once: the second waits here for the first's
    // transaction and then finds the schema in place.
    if (const TStatus b = Begin(); !b)
        return b;
    const int version = UserVersion(q, &ok);
    if (!ok) {
        const TError e = Failure(QStringLiteral("cannot use"), q);
        Rollback();
        return e;
    }
    if (version > InventorySchemaVersion) {
        Rollback();
        return TError{"", path_.toStdString(),
                      QStringLiteral("cannot use %1: it was written by a newer Varnix (schema %2, this one "
                                     "knows up to %3); left as it is")
                          .arg(path_)
                          .arg(version)
                          .arg(InventorySchemaVersion)
                          .toStdString()};
    }
    for (int v = version + 1; v <= InventorySchemaVersion; ++v)
        for (const QString& sql : Step(v))
            if (!q.exec(sql)) {
                const TError e = Failure(QStringLiteral("cannot migrate"), q);
                Rollback();
                return e;
            }
    // The journal moves in with the first schema, in the same transaction: it is imported exactly
    // once, whoever opens the file first, and a killed import leaves nothing behind.
    if (version == 0 && !journalToImport.isEmpty())
        if (const TStatus imported = ImportJournal(journalToImport); !imported) {
            Rollback();
            return imported;
        }
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(InventorySchemaVersion))) {
        const TError e = Failure(QStringLiteral("cannot migrate"), q);
        Rollback();
        return e;
    }
    return Commit();
}

// Each line keeps its bytes and its number: `undo 7` names the same save before and after the
// move. The file itself is only read.
TStatus TInventory::ImportJournal(const QString& journalPath) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    const auto bytes =
        ReadRegularFile(QFile::encodeName(journalPath).toStdString(), MaxJournalBytes, TLinks::Refuse);
    QString note;
    int count = 0;
    if (!bytes) {
        if (!IsNotFound(bytes.Error()))
            note = QStringLiteral("%1 was not imported into the inventory: cannot read %2")
                       .arg(journalPath, QString::fromStdString(bytes.Error().Message));
    } else {
        const QByteArray data = QByteArray::fromStdString(*bytes);
        const QList<QByteArray> lines = data.split('\n');
        const TJournalRead parsed = ParseJournal(data);
        if (!q.prepare(QStringLiteral("INSERT INTO journal (id, time, mac, line) VALUES (?, ?, ?, ?)")))
            return Failure(QStringLiteral("cannot import into"), q);
        for (const TJournalEntry& e : parsed.Entries) {
            q.bindValue(0, e.Number);
            q.bindValue(1, e.Time.isNull() ? QStringLiteral("") : e.Time);
            q.bindValue(2, e.Mac.isNull() ? QStringLiteral("") : e.Mac);
            q.bindValue(3, QString::fromUtf8(lines[e.Number - 1]));
            if (!q.exec())
                return Failure(QStringLiteral("cannot import into"), q);
            ++count;
        }
        q.finish();
        note = QStringLiteral("imported %1 entries of %2 into the inventory (the file is left as it was)")
                   .arg(count)
                   .arg(journalPath);
        for (const QString& w : parsed.Warnings)
            note += QStringLiteral("; %1").arg(w);
    }
    if (note.isEmpty())
        return {};
    notes_ << note;
    if (!q.prepare(QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES ('journal_import', ?)")))
        return Failure(QStringLiteral("cannot import into"), q);
    q.bindValue(0, QStringLiteral("%1: %2").arg(InventoryNow(), note));
    if (!q.exec())
        return Failure(QStringLiteral("cannot import into"), q);
    return {};
}

} // namespace varnix
