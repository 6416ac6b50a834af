#include "inventory/inventory_db.h"

#include "app/app_paths.h"
#include "core/convert.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace varnix {

namespace {

QSqlDatabase Db(const QString& connection) {
    return QSqlDatabase::database(connection, false);
}

TError Refused(const QString& path, const QString& why) {
    return TError{"", path.toStdString(), QStringLiteral("cannot use %1: %2").arg(path, why).toStdString()};
}

// The file checks before SQLite sees the path: it follows links and opens devices and FIFOs as
// readily as files, and silently falls back to read-only on a file it may not write. A missing
// file is created here with mode 0600 (the journal holds log-ins); a file readable by others is
// tightened to 0600. Nothing else about an existing file is changed.
TStatus CheckFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno != ENOENT)
            return Refused(path, QString::fromLocal8Bit(std::strerror(errno)));
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return Refused(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        if (::lstat(native.constData(), &st) != 0)
            return Refused(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (S_ISLNK(st.st_mode))
        return Refused(path, QStringLiteral("a symbolic link"));
    if (!S_ISREG(st.st_mode))
        return Refused(path, QStringLiteral("not a regular file"));
    if (::access(native.constData(), R_OK | W_OK) != 0)
        return Refused(path,
                       QStringLiteral("read-only (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
    // The write-ahead log and its index live beside the file.
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(dir.constData(), W_OK | X_OK) != 0)
        return Refused(path, QStringLiteral("its folder is read-only"));
    if ((st.st_mode & 077) != 0) {
        const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            if (::fchmod(fd, 0600) == 0)
                qWarning("%s: its mode 0%03o let others read it; now 0600", native.constData(),
                         static_cast<unsigned>(st.st_mode & 0777));
            ::close(fd);
        }
    }
    return {};
}

QString NextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("varnix-inventory-%1").arg(++counter);
}

// A null QString binds as SQL NULL; the text columns hold "" for "not known".
QString NotNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

void BindSeen(QSqlQuery& q, const TSeenModule& m, const QString& mac, const QString& time) {
    q.bindValue(0, mac);
    q.bindValue(1, m.Family);
    q.bindValue(2, time); // first seen, kept by an update
    q.bindValue(3, time);
    q.bindValue(4, NotNull(m.Ip));
    q.bindValue(5, NotNull(m.Name));
    q.bindValue(6, m.Firmware);
    q.bindValue(7, NotNull(m.Local));
}

// A module seen now: added, or its last-seen values replaced (first_seen stays).
const char* UpsertModule =
    "INSERT INTO modules (mac, family, first_seen, last_seen, ip, name, firmware, local) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (mac) DO UPDATE SET "
    "family = excluded.family, last_seen = excluded.last_seen, "
    "ip = CASE excluded.ip WHEN '' THEN ip ELSE excluded.ip END, name = excluded.name, "
    "firmware = CASE excluded.firmware WHEN 0 THEN firmware ELSE excluded.firmware END, "
    "local = CASE excluded.local WHEN '' THEN local ELSE excluded.local END";

const char* SnapshotColumns = "id, time, mac, link, family, firmware, blocks";

TResult<TSnapshot> SnapshotOf(const QSqlQuery& q) {
    TSnapshot s;
    s.Info.Id = q.value(0).toLongLong();
    s.Info.Time = q.value(1).toString();
    s.Info.Mac = q.value(2).toString();
    s.Info.Link = q.value(3).toString();
    s.Info.Family = q.value(4).toInt();
    s.Info.Firmware = q.value(5).toInt();
    const TResult<TSnapshotBlocks> blocks = DecodeSnapshotBlocks(q.value(6).toByteArray());
    if (!blocks)
        return TError{"", "", "snapshot " + std::to_string(s.Info.Id) + ": " + blocks.Error().Message};
    s.Blocks = *blocks;
    return s;
}

} // namespace

TModuleSettings TSnapshot::Settings() const {
    return DecodeModuleSettings(Info.Family, Info.Firmware, Blocks.Store, Blocks.Got);
}

QString InventoryNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QString InventoryMac(const QString& mac) {
    const std::string key = MacKey(mac.toStdString());
    if (key.size() != 12)
        return QString();
    QString out;
    for (int i = 0; i < 12; i += 2) {
        if (i)
            out += u' ';
        out += QString::fromStdString(key.substr(static_cast<std::size_t>(i), 2));
    }
    return out;
}

TInventory::TInventory(QString path, QString connection)
    : path_(std::move(path)), connection_(std::move(connection)) {}

TInventory::~TInventory() {
    {
        QSqlDatabase db = Db(connection_);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

TError TInventory::Failure(const QString& what, const QSqlError& e) const {
    const QString reason = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return TError{"", path_.toStdString(),
                  QStringLiteral("%1 %2: %3").arg(what, path_, reason).toStdString()};
}

TError TInventory::Failure(const QString& what, const QSqlQuery& q) const {
    return Failure(what, q.lastError());
}

TResult<std::unique_ptr<TInventory>> TInventory::Open(const QString& programDir) {
    return OpenFile(ProgramFilePath(programDir, QString::fromLatin1(InventoryFileName)),
                    JournalPath(programDir));
}

TResult<std::unique_ptr<TInventory>> TInventory::OpenFile(const QString& path,
                                                          const QString& journalToImport) {
    if (const TStatus ok = CheckFile(path); !ok)
        return ok.Error();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return Refused(path,
                       QStringLiteral("the Qt SQLite driver is not installed (package libqt6sql6-sqlite)"));
    const QString connection = NextConnectionName();
    std::unique_ptr<TInventory> inv(new TInventory(path, connection));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(InventoryBusyTimeoutMs));
        if (!db.open())
            return inv->Failure(QStringLiteral("cannot open"), db.lastError());
    }
    if (const TStatus ok = inv->Prepare(journalToImport); !ok)
        return ok.Error();
    return inv;
}

TStatus TInventory::Prepare(const QString& journalToImport) {
    QSqlQuery q(Db(connection_));
    // The first read of the file: a file that is not a database fails here, before anything
    // could be written to it.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode")) || !q.next())
        return Failure(QStringLiteral("cannot use"), q);
    if (q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        q.finish();
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next())
            return Failure(QStringLiteral("cannot use"), q);
    }
    q.finish();
    // In WAL mode NORMAL keeps every committed transaction across a killed process; only a
    // power loss may take back the last ones, never the file's consistency.
    if (!q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return Failure(QStringLiteral("cannot use"), q);
    return Migrate(journalToImport);
}

TStatus TInventory::Begin() {
    QSqlQuery q(Db(connection_));
    // IMMEDIATE takes the write lock at once (waiting up to the busy time-out), so a transaction
    // never fails half-way because another writer came first.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Failure(QStringLiteral("cannot write"), q);
    return {};
}

TStatus TInventory::Commit() {
    QSqlQuery q(Db(connection_));
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const TError e = Failure(QStringLiteral("cannot write"), q);
        Rollback();
        return e;
    }
    return {};
}

void TInventory::Rollback() {
    QSqlQuery q(Db(connection_));
    q.exec(QStringLiteral("ROLLBACK"));
}

TStatus TInventory::RecordSearch(const std::vector<TSeenModule>& seen, const QString& time) {
    if (seen.empty())
        return {};
    const QString when = time.isEmpty() ? InventoryNow() : time;
    if (const TStatus b = Begin(); !b)
        return b;
    QSqlQuery q(Db(connection_));
    if (!q.prepare(QString::fromLatin1(UpsertModule))) {
        const TError e = Failure(QStringLiteral("cannot write"), q);
        Rollback();
        return e;
    }
    for (const TSeenModule& m : seen) {
        const QString mac = InventoryMac(m.Mac);
        if (mac.isEmpty())
            continue;
        BindSeen(q, m, mac, when);
        if (!q.exec()) {
            const TError e = Failure(QStringLiteral("cannot write"), q);
            q.finish();
            Rollback();
            return e;
        }
    }
    q.finish();
    return Commit();
}

TResult<std::optional<qint64>> TInventory::StoreSnapshot(const TSeenModule& module, const QString& link,
                                                         const TSnapshotBlocks& blocks, const QString& time) {
    const QString mac = InventoryMac(module.Mac);
    if (mac.isEmpty())
        return TError{"", module.Mac.toStdString(), "not a MAC: " + module.Mac.toStdString()};
    const QString when = time.isEmpty() ? InventoryNow() : time;
    const QByteArray bytes = EncodeSnapshotBlocks(blocks.Store, blocks.Got);
    if (const TStatus b = Begin(); !b)
        return b.Error();
    std::optional<qint64> id;
    {
        QSqlQuery q(Db(connection_));
        const auto fail = [&] {
            TError e = Failure(QStringLiteral("cannot write"), q);
            q.finish();
            Rollback();
            return e;
        };
        if (!q.prepare(QString::fromLatin1(UpsertModule)))
            return fail();
        BindSeen(q, module, mac, when);
        if (!q.exec())
            return fail();
        if (!q.prepare(QStringLiteral(
                "SELECT blocks, firmware FROM snapshots WHERE mac = ? ORDER BY id DESC LIMIT 1")))
            return fail();
        q.bindValue(0, mac);
        if (!q.exec())
            return fail();
        const bool same =
            q.next() && q.value(0).toByteArray() == bytes && q.value(1).toInt() == module.Firmware;
        q.finish();
        if (!same) {
            if (!q.prepare(QStringLiteral("INSERT INTO snapshots (time, mac, link, family, firmware, blocks) "
                                          "VALUES (?, ?, ?, ?, ?, ?)")))
                return fail();
            q.bindValue(0, when);
            q.bindValue(1, mac);
            q.bindValue(2, NotNull(link));
            q.bindValue(3, module.Family);
            q.bindValue(4, module.Firmware);
            q.bindValue(5, bytes);
            if (!q.exec())
                return fail();
            id = q.lastInsertId().toLongLong();
            // The module's count and newest time are kept in its row, so listing ten thousand
            // modules reads one table and no snapshot.
            if (!q.prepare(QStringLiteral("UPDATE modules SET snapshots = snapshots + 1, last_snapshot = "
                                          "max(coalesce(last_snapshot, ''), ?) WHERE mac = ?")))
                return fail();
            q.bindValue(0, when);
            q.bindValue(1, mac);
            if (!q.exec())
                return fail();
        }
    }
    if (const TStatus c = Commit(); !c)
        return c.Error();
    return id;
}

TResult<std::vector<TModuleRow>> TInventory::Modules(const TModuleFilter& filter) {
    QString sql = QStringLiteral(
        "SELECT m.mac, m.family, m.firmware, m.first_seen, m.last_seen, m.ip, m.name, m.local, "
        "m.snapshots, m.last_snapshot FROM modules m WHERE 1");
    if (!filter.Since.isEmpty())
        sql += QStringLiteral(" AND m.last_seen >= :since");
    if (filter.FirmwareBelow > 0)
        sql += QStringLiteral(" AND m.firmware < :below");
    if (filter.Family != 0)
        sql += QStringLiteral(" AND m.family = :family");
    sql += QStringLiteral(" ORDER BY m.mac");
    QSqlQuery q(Db(connection_));
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return Failure(QStringLiteral("cannot read"), q);
    if (!filter.Since.isEmpty())
        q.bindValue(QStringLiteral(":since"), filter.Since);
    if (filter.FirmwareBelow > 0)
        q.bindValue(QStringLiteral(":below"), filter.FirmwareBelow);
    if (filter.Family != 0)
        q.bindValue(QStringLiteral(":family"), filter.Family);
    if (!q.exec())
        return Failure(QStringLiteral("cannot read"), q);
    std::vector<TModuleRow> rows;
    while (q.next()) {
        TModuleRow r;
        r.Mac = q.value(0).toString();
        r.Family = q.value(1).toInt();
        r.Firmware = q.value(2).toInt();
        r.FirstSeen = q.value(3).toString();
        r.LastSeen = q.value(4).toString();
        r.Ip = q.value(5).toString();
        r.Name = q.value(6).toString();
        r.Local = q.value(7).toString();
        r.Snapshots = q.value(8).toInt();
        r.LastSnapshot = q.value(9).toString();
        rows.push_back(std::move(r));
    }
    return rows;
}

TResult<std::vector<TSnapshotInfo>> TInventory::Snapshots(const QString& mac) {
    QSqlQuery q(Db(connection_));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT id, time, mac, link, family, firmware FROM snapshots "
                                  "WHERE mac = ? ORDER BY time, id")))
        return Failure(QStringLiteral("cannot read"), q);
    q.bindValue(0, InventoryMac(mac));
    if (!q.exec())
        return Failure(QStringLiteral("cannot read"), q);
    std::vector<TSnapshotInfo> out;
    while (q.next())
        out.push_back(TSnapshotInfo{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                                    q.value(3).toString(), q.value(4).toInt(), q.value(5).toInt()});
    return out;
}

TResult<std::optional<TSnapshot>> TInventory::FirstSnapshot(QSqlQuery& q) const {
    if (!q.exec())
        return Failure(QStringLiteral("cannot read"), q);
    if (!q.next())
        return std::optional<TSnapshot>();
    TResult<TSnapshot> s = SnapshotOf(q);
    if (!s)
        return s.Error();
    return std::optional<TSnapshot>(std::move(*s));
}

TResult<std::optional<TSnapshot>> TInventory::Snapshot(qint64 id) {
    QSqlQuery q(Db(connection_));
    q.setForwardOnly(true);
    if (!q.prepare(
            QStringLiteral("SELECT %1 FROM snapshots WHERE id = ?").arg(QLatin1String(SnapshotColumns))))
        return Failure(QStringLiteral("cannot read"), q);
    q.bindValue(0, id);
    return FirstSnapshot(q);
}

TResult<std::optional<TSnapshot>> TInventory::SnapshotAt(const QString& mac, const QString& time) {
    QSqlQuery q(Db(connection_));
    q.setForwardOnly(true);
    const QString sql =
        QStringLiteral("SELECT %1 FROM snapshots WHERE mac = :mac%2 ORDER BY time DESC, id DESC LIMIT 1")
            .arg(QLatin1String(SnapshotColumns),
                 time.isEmpty() ? QString() : QStringLiteral(" AND time <= :time"));
    if (!q.prepare(sql))
        return Failure(QStringLiteral("cannot read"), q);
    q.bindValue(QStringLiteral(":mac"), InventoryMac(mac));
    if (!time.isEmpty())
        q.bindValue(QStringLiteral(":time"), time);
    return FirstSnapshot(q);
}

std::unique_ptr<TInventory> OpenInventoryOrWarn(const QString& programDir, QString* error) {
    TResult<std::unique_ptr<TInventory>> inv = TInventory::Open(programDir);
    if (inv) {
        for (const QString& note : (*inv)->Notes())
            qInfo("%s", qPrintable(note));
        return std::move(*inv);
    }
    const QString message = QString::fromStdString(inv.Error().Message);
    if (error)
        *error = message;
    static QMutex mutex;
    static QSet<QString> told;
    const QMutexLocker lock(&mutex);
    if (!told.contains(message)) {
        told.insert(message);
        qWarning("%s; carrying on without the inventory", qPrintable(message));
    }
    return nullptr;
}

} // namespace varnix
