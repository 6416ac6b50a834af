// varnix-sim: plays Z2/Z3 modules (and modules of other series) on the LAN for tests and the
// demo. See README.md beside this file for the command line, the config, state and journal.

#include "config.h"
#include "help.h"
#include "lan.h"
#include "module.h"
#include "serial.h"
#include "state.h"
#include "stop_signals.h"
#include "upgrade.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <stdexcept>
#include <vector>

using namespace varnix::sim;

namespace {

volatile sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

class Simulator {
public:
    Simulator(SimOptions o, UpgradeOptions u)
        : opt_(std::move(o)), rng_(opt_.seed),
          upgrade_(std::move(u),
                   UpgradeSide::Hooks{[this](const Mac& m) { return fleet_.find(m); },
                                      [this] { saveState(); }, [this] { return nowMs(); }, opt_.restartMs}) {}

    int run() {
        fleet_.setRestartMs(opt_.restartMs);
        const std::uint64_t varySeed = opt_.varySeed.value_or(freshVarySeed());
        for (std::size_t i = 0; i < opt_.modules.size(); ++i) {
            Module m(opt_.modules[i], Vary::forModule(varySeed, i));
            m.setResetToFactory(opt_.resetToFactory);
            fleet_.add(std::move(m));
        }
        upgrade_.start();
        if (!opt_.journalPath.empty()) {
            journal_ = std::fopen(opt_.journalPath.c_str(), "a");
            if (!journal_)
                throw std::runtime_error("--journal: cannot open " + opt_.journalPath + ": " +
                                         std::strerror(errno));
        }
        lan_.open({opt_.bind, {opt_.portZ2, opt_.portZ3}, opt_.ifaces, opt_.broadcastReplies});
        saveState();

        // SIGTERM/SIGINT only interrupt ppoll(), so a signal between checks is never lost.
        const sigset_t waitMask = blockStopSignals(onSignal);

        // On stderr, so stdout keeps its one ready line; given back as --vary-seed it repeats
        // every varied byte of this run.
        printVarySeed(varySeed);
        std::printf("varnix-sim: ready\n");
        std::fflush(stdout);

        std::vector<pollfd> fds;
        while (!g_stop) {
            // The upgrade side's loaders come and go with their data sockets; it looks at its
            // time-outs at least every 100 ms.
            double left = 100;
            if (opt_.durationS) {
                left = std::min(left, *opt_.durationS * 1000.0 - nowMs());
                if (left <= 0)
                    break;
            }
            timespec timeout{};
            timeout.tv_sec = static_cast<time_t>(left / 1000.0);
            timeout.tv_nsec = static_cast<long>((left - static_cast<double>(timeout.tv_sec) * 1000.0) * 1e6);
            fds = {{lan_.fd(0), POLLIN, 0}, {lan_.fd(1), POLLIN, 0}};
            upgrade_.addFds(fds);
            const int r = ppoll(fds.data(), fds.size(), &timeout, &waitMask);
            upgrade_.tick();
            if (r <= 0)
                continue;
            for (int s = 0; s < 2; ++s)
                if (fds[static_cast<std::size_t>(s)].revents & POLLIN)
                    drain(s);
            for (std::size_t i = 2; i < fds.size(); ++i)
                if (fds[i].revents & POLLIN)
                    upgrade_.handle(fds[i].fd);
        }
        if (journal_)
            std::fclose(journal_);
        return 0;
    }

private:
    double nowMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
    }

    bool dropOne() { return opt_.drop > 0 && dist_(rng_) < opt_.drop; }

    void saveState() {
        if (!opt_.statePath.empty() && !writeFileAtomically(opt_.statePath, stateJson(fleet_)))
            std::fprintf(stderr, "varnix-sim: cannot write state %s\n", opt_.statePath.c_str());
    }

    void drain(int socket) {
        Datagram d;
        // A bounded number per wake-up so one busy socket cannot starve the other.
        for (int i = 0; i < 4096 && lan_.receive(socket, d); ++i)
            handle(d);
    }

    void handle(const Datagram& d) {
        // Stamped with the kernel's arrival time where there is one, so the gaps between one
        // module's datagrams are the sender's and not the simulator's own delays.
        const double t = d.arrivalMs >= 0 ? d.arrivalMs - startRealMs_ : nowMs();
        JournalEntry j{t, lan_.port(d.socket), endpointText(d.from), d.data.data(), d.data.size(), {}, {}};
        if (!lan_.accepted(d)) {
            j.result = "ignored";
        } else if (dropOne()) {
            j.result = "dropped";
        } else {
            Fleet::Result r =
                fleet_.handle(d.socket == 0 ? Port::Z2 : Port::Z3, d.data.data(), d.data.size(), t);
            j.result = r.result;
            j.module = r.module;
            // Journal and state before replying, so a test that sees a reply (an acknowledgement)
            // finds its line and the module's new state already written.
            writeJournal(j);
            if (r.changed)
                saveState();
            reply(d, r.replies);
            return;
        }
        writeJournal(j);
    }

    void writeJournal(const JournalEntry& j) {
        if (!journal_)
            return;
        const std::string line = journalLine(j);
        std::fwrite(line.data(), 1, line.size(), journal_);
        std::fflush(journal_);
    }

    void reply(const Datagram& d, const std::vector<Fleet::Reply>& replies) {
        std::vector<const Bytes*> bySocket[2];
        for (const auto& r : replies)
            if (!dropOne())
                bySocket[r.from == Port::Z2 ? 0 : 1].push_back(&r.data);
        // A module answers from its family's port; a search burst goes out Z2 first, then Z3.
        for (int s = 0; s < 2; ++s)
            if (!bySocket[s].empty())
                lan_.send(s, d.from, d.ifindex, bySocket[s]);
    }

    SimOptions opt_;
    Fleet fleet_;
    LanTransport lan_;
    std::FILE* journal_ = nullptr;
    std::mt19937 rng_;
    std::uniform_real_distribution<double> dist_{0.0, 1.0};
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    double startRealMs_ =
        std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    UpgradeSide upgrade_;
};

} // namespace

int main(int argc, char** argv) {
    if (wantsHelp(argc, argv)) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    try {
        if (isSerialCommandLine(argc, argv))
            return runSerialSimulator(argc, argv);
        // The module side of a firmware upgrade has its own --upgrade-* options and thread.
        std::vector<char*> args(argv, argv + argc);
        UpgradeOptions upgrade = takeUpgradeOptions(args);
        Simulator sim(parseCommandLine(static_cast<int>(args.size()), args.data()), std::move(upgrade));
        return sim.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnix-sim: %s\n", e.what());
        return 2;
    }
}
