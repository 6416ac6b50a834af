#pragma once
// The fleet inventory: varnix.db in the program directory, one SQLite file shared by the window
// and any number of varnix-cli processes.
//
//   modules   (mac PRIMARY KEY, family, first_seen, last_seen, ip, name, firmware, local,
//              snapshots, last_snapshot): the count and newest time of its snapshots
//   snapshots (id, time, mac, link, family, firmware, blocks): every read whose blocks differ
//             from the module's last snapshot; `blocks` as snapshot_blocks.h lays them out
//   journal   (id, time, mac, line): one save per row, `line` the entry's JSON (journal.h)
//   meta      (key, value): what the file has been through (the journal.jsonl import)
//
// Times are UTC, ISO 8601 with milliseconds ("2026-12-09T02:10:34.120Z"), so they sort as text.
// MACs are "00 1A 2B 3C 4D 5E". The schema version is SQLite's user_version; a newer program
// migrates an older file forward in one transaction, and a file of a newer schema is refused
// untouched.
//
// Every write is one short IMMEDIATE transaction (the writer lock is taken at its start, so two
// writers queue on the busy time-out instead of failing half-way), in WAL mode, so readers never
// wait and a process killed at any moment leaves the last committed state. A file that cannot be
// used (corrupt, locked past the time-out, read-only, not a regular file, a newer schema) is
// reported with the reason and left exactly as it is: nothing here deletes or rewrites it.
//
// A TInventory is one connection and belongs to the thread that opened it.

#include "app/journal.h"
#include "core/result.h"
#include "inventory/snapshot_blocks.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QSqlError;
class QSqlQuery;

namespace varnix {

inline constexpr const char* InventoryFileName = "varnix.db";
inline constexpr int InventorySchemaVersion = 1;
inline constexpr int InventoryBusyTimeoutMs = 10000;

// A module as a search reply described it.
struct TSeenModule {
    QString Mac; // any MAC text; stored as "00 1A 2B 3C 4D 5E"
    std::int32_t Family = 0;
    int Firmware = 0;
    QString Ip, Name, Local; // Name as shown (display text)
};

struct TModuleRow {
    QString Mac;
    std::int32_t Family = 0;
    int Firmware = 0;
    QString FirstSeen, LastSeen, Ip, Name, Local;
    int Snapshots = 0;
    QString LastSnapshot; // time of the newest snapshot, empty without one
};

struct TModuleFilter {
    QString Since;         // last seen at or after this time (ISO text); empty: any
    int FirmwareBelow = 0; // firmware number below this; 0: any
    std::int32_t Family = 0;
};

struct TSnapshotInfo {
    qint64 Id = 0;
    QString Time, Mac, Link;
    std::int32_t Family = 0;
    int Firmware = 0;
};

struct TSnapshot {
    TSnapshotInfo Info;
    TSnapshotBlocks Blocks;
    // Decoded as the read that stored it decoded its blocks.
    TModuleSettings Settings() const;
};

// The current time in the stored form.
QString InventoryNow();
// "00:1a:2b-3C 4D5E" -> "00 1A 2B 3C 4D 5E"; empty when not twelve hex digits.
QString InventoryMac(const QString& mac);

class TInventory {
public:
    // Opens (creating when missing) varnix.db in `programDir`, migrates it and imports
    // journal.jsonl on the file's first use.
    static TResult<std::unique_ptr<TInventory>> Open(const QString& programDir);
    // The same for a given file (tests, benchmarks); `journalToImport` may be empty.
    static TResult<std::unique_ptr<TInventory>> OpenFile(const QString& path, const QString& journalToImport);
    ~TInventory();
    TInventory(const TInventory&) = delete;
    TInventory& operator=(const TInventory&) = delete;

    QString Path() const { return path_; }
    // What opening did worth telling once ("imported 12 entries of journal.jsonl").
    const QStringList& Notes() const { return notes_; }

    // One search's replies in one transaction: new modules are added, known ones get their last
    // time, address, name, firmware and local address.
    TStatus RecordSearch(const std::vector<TSeenModule>& seen, const QString& time = QString());
    // Stores a read unless its blocks and firmware equal the module's last snapshot; the module's
    // row is added when missing. An empty address or local address and firmware 0 (a serial read
    // knows neither) leave the row's known values. The new snapshot's id, or nullopt when it equalled the
    // last.
    TResult<std::optional<qint64>> StoreSnapshot(const TSeenModule& module, const QString& link,
                                                 const TSnapshotBlocks& blocks,
                                                 const QString& time = QString());

    TResult<std::vector<TModuleRow>> Modules(const TModuleFilter& filter = {});
    TResult<std::vector<TSnapshotInfo>> Snapshots(const QString& mac);
    // A snapshot by id; nullopt when there is none.
    TResult<std::optional<TSnapshot>> Snapshot(qint64 id);
    // The module's newest snapshot at or before `time` (the newest of all when empty).
    TResult<std::optional<TSnapshot>> SnapshotAt(const QString& mac, const QString& time = QString());

    // The change journal (inventory_journal.cpp).
    // `durable`: synced to disk before it returns (the rollout's "kept" entries).
    TStatus AppendJournal(TJournalEntry entry, bool durable = false);
    // Every entry, oldest first; Number is the entry's id (the line number it had in
    // journal.jsonl for imported ones).
    TResult<TJournalRead> ReadJournal();

private:
    TInventory(QString path, QString connection);
    TStatus Prepare(const QString& journalToImport);
    TStatus Migrate(const QString& journalToImport);
    TStatus ImportJournal(const QString& journalPath);
    TError Failure(const QString& what, const QSqlError& e) const;
    TError Failure(const QString& what, const QSqlQuery& q) const;
    // Runs a prepared snapshot query; its first row, or none.
    TResult<std::optional<TSnapshot>> FirstSnapshot(QSqlQuery& q) const;
    TStatus Begin();
    TStatus Commit();
    void Rollback();

    QString path_, connection_;
    QStringList notes_;
};

// Opens the program directory's inventory; on failure the reason goes to `error`, once per
// process and reason, and nullptr comes back, so callers carry on without inventory features.
std::unique_ptr<TInventory> OpenInventoryOrWarn(const QString& programDir, QString* error = nullptr);

} // namespace varnix
