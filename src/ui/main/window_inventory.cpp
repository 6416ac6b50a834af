#include "ui/main/window_inventory.h"

#include "inventory/inventory_db.h"
#include "lang/text_codec.h"

namespace varnix {

TWindowInventory::TWindowInventory(QString programDir, std::function<void(const QString&)> problem,
                                   QObject* parent)
    : QObject(parent), programDir_(std::move(programDir)), problem_(std::move(problem)) {
    worker_ = std::thread([this] { Run(); });
}

TWindowInventory::~TWindowInventory() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void TWindowInventory::RecordSearch(std::vector<TDeviceRow> rows, std::vector<std::string> locals) {
    // Only the rows' shared strings were copied on the window's thread; the rest is done here.
    Post([this, rows = std::move(rows), locals = std::move(locals)](TInventory* inv) {
        if (inv == nullptr)
            return;
        std::vector<TSeenModule> seen;
        seen.reserve(rows.size());
        for (const TDeviceRow& r : rows) {
            const std::size_t b = static_cast<std::size_t>(r.Binding);
            seen.push_back(TSeenModule{r.Mac, r.Family, r.Version.toInt(), r.IP, r.Name,
                                       b < locals.size() ? QString::fromStdString(locals[b]) : QString()});
        }
        if (const TStatus ok = inv->RecordSearch(seen); !ok)
            Tell(QString::fromStdString(ok.Error().Message));
    });
}

void TWindowInventory::StoreRead(const TFoundModule& m, const TReadResult& read) {
    TSeenModule seen{QString::fromStdString(m.Mac),
                     m.Family,
                     m.Firmware,
                     QString::fromStdString(m.Ip),
                     BytesToDisplay(m.Name),
                     QString::fromStdString(m.Local)};
    Store(std::move(seen), QStringLiteral("lan"), TSnapshotBlocks{read.Store, read.Got});
}

void TWindowInventory::StoreSerialRead(const TSerialZ2Read& read) {
    Store(TSeenModule{QString::fromStdString(read.Settings.Base.UserMAC), FamilyZ2, 0, QString(),
                      BytesToDisplay(read.Settings.Base.ModName), QString()},
          QStringLiteral("serial"), read.Snapshot);
}

void TWindowInventory::Store(TSeenModule seen, QString link, TSnapshotBlocks blocks) {
    Post([this, seen = std::move(seen), link = std::move(link), blocks = std::move(blocks)](TInventory* inv) {
        if (inv == nullptr)
            return;
        if (const auto stored = inv->StoreSnapshot(seen, link, blocks); !stored)
            Tell(QString::fromStdString(stored.Error().Message));
    });
}

void TWindowInventory::WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return tasks_.empty() && !busy_; });
}

void TWindowInventory::Post(TTask task) {
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void TWindowInventory::Run() {
    // The connection is opened and used on this thread only (a Qt Sql connection belongs to the
    // thread that made it), on the first task; a file that cannot be used is told once and the
    // tasks are dropped.
    std::unique_ptr<TInventory> inv;
    bool opened = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
        if (tasks_.empty())
            break; // stopping, and everything queued is done
        TTask task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        lock.unlock();
        if (!opened) {
            opened = true;
            TResult<std::unique_ptr<TInventory>> r = TInventory::Open(programDir_);
            if (r) {
                inv = std::move(*r);
            } else {
                failed_ = true;
                Tell(QString::fromStdString(r.Error().Message));
            }
        }
        task(inv.get());
        lock.lock();
        busy_ = false;
        if (tasks_.empty())
            idle_.notify_all();
    }
    busy_ = false;
    idle_.notify_all();
}

void TWindowInventory::Tell(const QString& problem) {
    {
        const std::lock_guard lock(mutex_);
        if (told_)
            return;
        told_ = true;
    }
    QMetaObject::invokeMethod(
        this, [this, problem] { problem_(problem); }, Qt::QueuedConnection);
}

} // namespace varnix
