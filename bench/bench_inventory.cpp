// The fleet inventory at plant scale: varnix.db with 10,000 modules and 100,000 snapshots (ten
// each). Reports the time to store one snapshot (a read that changed something, and one equal to
// the module's last), one search of 10,000 replies recorded in one transaction, the inventory
// query in-process, and `varnix-cli inventory --json` as a whole process (start to exit).
//
//   bench_inventory [MODULES] [SNAPSHOTS_PER_MODULE]     (VARNIX_CLI: the cli to time)
//
// Local files only; bounded by its counts.

#include "inventory/inventory_db.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

using namespace varnix;

namespace {

QString MacOf(int i) {
    return QStringLiteral("02 00 00 %1 %2 %3")
        .arg((i >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

TSnapshotBlocks Blocks(int module, int version) {
    TSnapshotBlocks b;
    b.Got.Params = b.Got.Cloud = b.Got.Heart = b.Got.Httpd = true;
    for (std::size_t i = 0; i < b.Store.BasePort.size(); ++i)
        b.Store.BasePort[i] = static_cast<std::uint8_t>(i * 7 + module);
    b.Store.BasePort[40] = static_cast<std::uint8_t>(version);
    b.Store.Heart[10] = static_cast<std::uint8_t>(version >> 8);
    return b;
}

struct TStats {
    double Median = 0, P99 = 0, Max = 0;
};

TStats Stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return TStats{v[v.size() / 2], v[v.size() * 99 / 100], v.back()};
}

// CPU time of this thread, in ms: beside the wall time, it tells a store's own work from the time
// it waited for a core on a busy machine.
double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The snapshots in one transaction on a connection of the bench's own (filling is not measured).
bool Fill(const QString& path, int modules, int perModule) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        ok = ok && q.exec(QStringLiteral("BEGIN IMMEDIATE")) &&
             q.prepare(QStringLiteral("INSERT INTO snapshots (time, mac, link, family, firmware, blocks) "
                                      "VALUES (?, ?, 'lan', 2, 4017, ?)"));
        for (int v = 0; ok && v < perModule; ++v)
            for (int m = 0; ok && m < modules; ++m) {
                const TSnapshotBlocks b = Blocks(m, v);
                q.bindValue(0,
                            QStringLiteral("2026-11-%1T10:00:00.000Z").arg(v + 1, 2, 10, QLatin1Char('0')));
                q.bindValue(1, MacOf(m));
                q.bindValue(2, EncodeSnapshotBlocks(b.Store, b.Got));
                ok = q.exec();
            }
        ok = ok &&
             q.exec(QStringLiteral("UPDATE modules SET snapshots = (SELECT count(*) FROM snapshots s WHERE "
                                   "s.mac = modules.mac), last_snapshot = (SELECT max(time) FROM snapshots s "
                                   "WHERE s.mac = modules.mac)"));
        ok = ok && q.exec(QStringLiteral("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int modules = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int perModule = argc > 2 ? std::atoi(argv[2]) : 10;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("varnix.db"));
    auto opened = TInventory::OpenFile(path, QString());
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.Error().Message.c_str());
        return 2;
    }
    TInventory& inv = **opened;

    std::vector<TSeenModule> seen;
    for (int m = 0; m < modules; ++m)
        seen.push_back(
            TSeenModule{MacOf(m), 2, 4000 + m % 30,
                        QStringLiteral("10.%1.%2.%3").arg(m >> 16).arg((m >> 8) & 255).arg(m & 255),
                        QStringLiteral("Unit-%1").arg(m), QStringLiteral("10.0.0.1")});
    QElapsedTimer t;
    t.start();
    if (!inv.RecordSearch(seen))
        return 2;
    const double searchMs = t.nsecsElapsed() / 1e6;
    if (!Fill(path, modules, perModule)) {
        std::fprintf(stderr, "filling the snapshots failed\n");
        return 2;
    }
    std::printf("%d modules, %d snapshots\n", modules, modules * perModule);
    std::printf("search of %d replies recorded (one transaction): %.1f ms\n", modules, searchMs);

    std::mt19937 rng(23);
    std::vector<double> changed, equal, changedCpu, equalCpu;
    for (int i = 0; i < 1000; ++i) {
        const int m = static_cast<int>(rng() % static_cast<unsigned>(modules));
        const TSnapshotBlocks b = Blocks(m, perModule + i);
        double cpu = ThreadCpuMs();
        t.restart();
        const auto id = inv.StoreSnapshot(seen[static_cast<std::size_t>(m)], QStringLiteral("lan"), b);
        changed.push_back(t.nsecsElapsed() / 1e6);
        changedCpu.push_back(ThreadCpuMs() - cpu);
        cpu = ThreadCpuMs();
        t.restart();
        const auto same = inv.StoreSnapshot(seen[static_cast<std::size_t>(m)], QStringLiteral("lan"), b);
        equal.push_back(t.nsecsElapsed() / 1e6);
        equalCpu.push_back(ThreadCpuMs() - cpu);
        if (!id || !*id || !same || *same) {
            std::fprintf(stderr, "store %d: not stored as expected\n", i);
            return 1;
        }
    }
    const TStats c = Stats(changed), e = Stats(equal);
    std::printf("store a snapshot (changed): median %.3f ms, p99 %.3f ms, max %.3f ms\n", c.Median, c.P99,
                c.Max);
    std::printf("store a snapshot (equal to the last, skipped): median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                e.Median, e.P99, e.Max);
    const TStats cc = Stats(changedCpu), ec = Stats(equalCpu);
    std::printf("  CPU time of the store itself: changed median %.3f / p99 %.3f ms, skipped median %.3f / "
                "p99 %.3f ms\n",
                cc.Median, cc.P99, ec.Median, ec.P99);

    std::vector<double> query;
    for (int i = 0; i < 5; ++i) {
        t.restart();
        const auto rows = inv.Modules();
        query.push_back(t.nsecsElapsed() / 1e6);
        if (!rows || rows->size() != static_cast<std::size_t>(modules))
            return 1;
    }
    std::printf("inventory query in-process (%d rows): median %.1f ms\n", modules, Stats(query).Median);

    const QString cli = qEnvironmentVariable("VARNIX_CLI");
    if (!cli.isEmpty()) {
        std::vector<double> runs;
        for (int i = 0; i < 5; ++i) {
            QProcess p;
            t.restart();
            p.start(cli, {QStringLiteral("--home"), dir.path(), QStringLiteral("inventory"),
                          QStringLiteral("--json")});
            if (!p.waitForFinished(30000) || p.exitCode() != 0) {
                std::fprintf(stderr, "varnix-cli inventory failed: %s\n",
                             p.readAllStandardError().constData());
                return 1;
            }
            runs.push_back(t.nsecsElapsed() / 1e6);
            if (i == 0)
                std::printf("varnix-cli inventory --json: %lld bytes of output\n",
                            static_cast<long long>(p.readAllStandardOutput().size()));
        }
        const TStats s = Stats(runs);
        std::printf("varnix-cli inventory --json (whole process): median %.0f ms, max %.0f ms\n", s.Median,
                    s.Max);
    }
    return 0;
}
