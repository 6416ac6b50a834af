// varnix.db on its own: files it must refuse and leave exactly as they are, the forward migration
// and the journal import, and snapshots that decode as the read that stored them.
#include "core/blocks.h"
#include "inventory/inventory_db.h"
#include "inventory/journal_store.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace varnix;

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void Write(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// A file the program must not use is refused with its reason and stays byte for byte: garbage, a
// file of a newer schema, a read-only file, a directory, a link.
TEST(Inventory, RefusedFilesAreReportedAndLeftAsTheyAre) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("varnix.db"));

    Write(db, QByteArray(4096, '\x5a'));
    auto garbage = TInventory::Open(dir.path());
    ASSERT_FALSE(garbage);
    EXPECT_NE(garbage.Error().Message.find("file is not a database"), std::string::npos)
        << garbage.Error().Message;
    EXPECT_EQ(Bytes(db), QByteArray(4096, '\x5a'));

    QFile::remove(db);
    {
        auto made = TInventory::Open(dir.path());
        ASSERT_TRUE(made) << made.Error().Message;
    }
    {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        c.setDatabaseName(db);
        ASSERT_TRUE(c.open());
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA user_version = 99")));
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    const QByteArray newer = Bytes(db);
    auto refused = TInventory::Open(dir.path());
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.Error().Message.find("newer Varnix (schema 99"), std::string::npos)
        << refused.Error().Message;
    EXPECT_EQ(Bytes(db), newer);

    if (::geteuid() != 0) { // root writes any file
        ::chmod(QFile::encodeName(db).constData(), 0400);
        auto readOnly = TInventory::Open(dir.path());
        ASSERT_FALSE(readOnly);
        EXPECT_NE(readOnly.Error().Message.find("read-only"), std::string::npos) << readOnly.Error().Message;
        EXPECT_EQ(Bytes(db), newer);
    }

    QTemporaryDir other;
    ASSERT_TRUE(QDir(other.path()).mkdir(QStringLiteral("varnix.db")));
    auto directory = TInventory::Open(other.path());
    ASSERT_FALSE(directory);
    EXPECT_NE(directory.Error().Message.find("not a regular file"), std::string::npos);
    QTemporaryDir linked;
    ASSERT_TRUE(QFile::link(db, linked.filePath(QStringLiteral("varnix.db"))));
    auto link = TInventory::Open(linked.path());
    ASSERT_FALSE(link);
    EXPECT_NE(link.Error().Message.find("symbolic link"), std::string::npos);
    EXPECT_EQ(Bytes(db), newer);
}

// A new file is 0600 in WAL mode; a file others may read is tightened; the journal moves in once.
TEST(Inventory, NewFileModeWalAndOneJournalImport) {
    QTemporaryDir dir;
    const QString jsonl = JournalPath(dir.path());
    TJournalEntry a;
    a.Time = QStringLiteral("2026-12-01T10:00:00.000Z");
    a.Mac = QStringLiteral("00 1A 2B 3C 4D 5E");
    a.Changes.append(TJournalChange{QStringLiteral("BaudRate"), 9600, 115200});
    ASSERT_TRUE(AppendJournal(jsonl, a));
    ASSERT_TRUE(AppendJournal(jsonl, a));
    const QByteArray before = Bytes(jsonl);

    TJournalRead first = ReadJournalEntries(dir.path());
    ASSERT_EQ(first.Entries.size(), 2);
    EXPECT_EQ(first.Entries[1].Number, 2);
    ASSERT_TRUE(AppendJournalEntry(dir.path(), a));
    const TJournalRead second = ReadJournalEntries(dir.path());
    ASSERT_EQ(second.Entries.size(), 3); // imported once, not again at the second open
    EXPECT_EQ(second.Entries[2].Number, 3);
    EXPECT_EQ(Bytes(jsonl), before);

    const QString db = dir.filePath(QStringLiteral("varnix.db"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(db).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    {
        // Write-ahead logging is a property of the file; it stays after the program closed it.
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mode"));
        c.setDatabaseName(db);
        ASSERT_TRUE(c.open());
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
        EXPECT_EQ(q.value(0).toString(), QStringLiteral("wal"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("mode"));
    ::chmod(QFile::encodeName(db).constData(), 0644);
    ASSERT_TRUE(TInventory::Open(dir.path()));
    ASSERT_EQ(::stat(QFile::encodeName(db).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A stored read decodes into the very settings the read decoded, Modbus kinds included; a read
// equal to the last one is not stored again, and a changed one is.
TEST(Inventory, SnapshotsRoundTripAndSkipRepeats) {
    QTemporaryDir dir;
    auto opened = TInventory::Open(dir.path());
    ASSERT_TRUE(opened) << opened.Error().Message;
    TInventory& inv = **opened;
    for (const int kind : {0, 1, 4, 7}) {
        TSnapshotBlocks b;
        for (std::size_t i = 0; i < b.Store.BasePort.size(); ++i)
            b.Store.BasePort[i] = static_cast<std::uint8_t>(i * 13 + kind);
        for (std::size_t i = 0; i < b.Store.Heart.size(); ++i)
            b.Store.Heart[i] = static_cast<std::uint8_t>(i * 3);
        b.Store.Modbus = {1, 1, 0x01, 0x2C, 0, 0x03, 0xE8};
        b.Store.KeptStatus = 0x81;
        b.Got.Params = b.Got.Heart = true;
        if (kind != 0) {
            std::array<std::uint8_t, 64> reply{};
            std::copy(b.Store.Modbus.begin(), b.Store.Modbus.end(), reply.begin());
            const auto [param, k] =
                DecodeModbusAnswer(std::span<const std::uint8_t>(reply).first(kind == 7 ? 64 : kind));
            b.Got.ModbusKind = k;
            b.Got.Modbus = param;
        }
        const TSeenModule m{QStringLiteral("02:00:00:00:00:%1").arg(kind, 2, 10, QLatin1Char('0')),
                            FamilyZ2,
                            4017,
                            {},
                            {},
                            {}};
        auto id = inv.StoreSnapshot(m, QStringLiteral("lan"), b);
        ASSERT_TRUE(id && *id) << (id ? std::string("not stored") : id.Error().Message);
        auto again = inv.StoreSnapshot(m, QStringLiteral("lan"), b);
        ASSERT_TRUE(again);
        EXPECT_FALSE(*again) << "an equal read was stored again";
        auto stored = inv.Snapshot(**id);
        ASSERT_TRUE(stored && *stored);
        EXPECT_EQ((*stored)->Settings(), DecodeModuleSettings(FamilyZ2, 4017, b.Store, b.Got)) << kind;
        EXPECT_EQ((*stored)->Blocks.Store.KeptStatus, 0x81);
        b.Store.Heart[20] ^= 1;
        auto changed = inv.StoreSnapshot(m, QStringLiteral("lan"), b);
        ASSERT_TRUE(changed && *changed);
        const auto rows = inv.Modules(TModuleFilter{});
        ASSERT_TRUE(rows);
        const auto row = std::find_if(rows->begin(), rows->end(),
                                      [&](const TModuleRow& r) { return r.Mac == InventoryMac(m.Mac); });
        ASSERT_NE(row, rows->end());
        EXPECT_EQ(row->Snapshots, 2);
    }
}

} // namespace
