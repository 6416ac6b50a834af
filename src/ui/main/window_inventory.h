#pragma once
// The window's records in the fleet inventory (varnix.db): every search's rows once the search
// has settled, and every read that ended well (a click on a row, a save's read-back), each as a
// snapshot unless it equals the module's last one. The database work runs on a worker thread of
// its own, with its own connection, so neither a search of ten thousand rows nor a writer holding
// the file's lock (a cli run) ever holds up the window. A problem (the file cannot be used, a
// write failed) is told once through `problem`, by a queued call on the window's thread.

#include "engine/read_job.h"
#include "inventory/inventory_db.h"
#include "inventory/snapshot_blocks.h"
#include "ui/main/device_list_model.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnix {

class TInventory;

class TWindowInventory final : public QObject {
    Q_OBJECT
public:
    TWindowInventory(QString programDir, std::function<void(const QString&)> problem,
                     QObject* parent = nullptr);
    ~TWindowInventory() override; // does the work queued so far, then ends the worker

    // `locals`: the address of each binding, by index (the rows name their binding).
    void RecordSearch(std::vector<TDeviceRow> rows, std::vector<std::string> locals);
    void StoreRead(const TFoundModule& module, const TReadResult& read);
    // A Z2 read over the serial line (link "serial"): the module's row keeps the address, firmware
    // and local address a search gave it.
    void StoreSerialRead(const TSerialZ2Read& read);
    // A question for the database, asked on the worker thread (`inv` is null when the file could
    // not be opened); `done` gets the answer on this object's thread, by a queued call, in the
    // order asked. Callers whose `done` may outlive what it touches guard it (QPointer).
    template <typename T> void Ask(std::function<T(TInventory* inv)> query, std::function<void(T)> done) {
        Post([this, query = std::move(query), done = std::move(done)](TInventory* inv) {
            auto answer = std::make_shared<T>(query(inv));
            QMetaObject::invokeMethod(
                this, [done, answer] { done(std::move(*answer)); }, Qt::QueuedConnection);
        });
    }
    // False once the file was found unusable (until then, and when it opened, true): the
    // inventory's menu items are greyed.
    bool Usable() const { return !failed_.load(); }
    // Returns once everything queued so far is done (tests).
    void WaitIdle();

private:
    void Store(TSeenModule seen, QString link, TSnapshotBlocks blocks);
    using TTask = std::function<void(TInventory*)>;
    void Post(TTask task);
    void Run();
    void Tell(const QString& problem);

    QString programDir_;
    std::function<void(const QString&)> problem_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<TTask> tasks_;
    bool busy_ = false, stop_ = false, told_ = false;
    std::atomic<bool> failed_{false};
    std::thread worker_;
};

} // namespace varnix
