#pragma once
// Shared pieces of the window tests: a window with a temporary home, scripted prompts, a fixed
// clock, recorded pauses and URL opens, its own block store, and two loopback sockets standing
// in for the modules' ports 1500 and 1901 (the endpoint sends to 127.0.0.1 at their ports), so
// nothing leaves the machine and parallel tests do not meet.

#include "app/about_dialog.h"
#include "app/pswd_dialog.h"
#include "core/block_store.h"
#include "core/types.h"
#include "engine/clock.h"
#include "ui/common/prompts.h"
#include "ui/main/main_window.h"
#include "ui/main/pages/page_set.h"

#include <QColor>
#include <QPlainTextEdit>

#include <QTemporaryDir>
#include <QUrl>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <vector>

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace varnix::test {

// The window's options against the simulator on a segment: this home, these prompts, English, no
// browser, and an 8 s verification (a module restarting on a busy machine).
TMainOptions SimWindowOptions(const QString& home, TScriptedPrompts& prompts);

// A plain UDP socket on 127.0.0.1 with a system-chosen port: it stands in for the modules of one
// family port. It remembers who sent the last datagram, so a test can answer as a module does: to
// the address and port the command came from (a lane of the window).
class TSink {
public:
    TSink();
    ~TSink();
    std::uint16_t Port() const { return port_; }
    // Every datagram queued now (waits up to ms for the first).
    std::vector<TIdBytes> Drain(int ms = 200);
    // Sends `data` from this socket to the sender of the last datagram drained.
    void Reply(const TIdBytes& data) const;

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    sockaddr_in last_{};
};

struct TPaneLine {
    QString Text;
    QColor Colour; // invalid for a plain (window-text) line
};
// The lines of a pane with the colour each carries.
std::vector<TPaneLine> PaneLines(QPlainTextEdit* pane);

// A 36-byte search reply as a module sends it.
TIdBytes SearchReply(const std::array<std::uint8_t, 4>& ip, const std::array<std::uint8_t, 6>& mac,
                     int firmware, const std::string& name);

// A 130-byte parameter reply of a module with this user MAC and plausible settings.
TIdBytes ParamReply(const std::array<std::uint8_t, 6>& mac, std::int32_t family = 2);

struct TSearchRow {
    std::array<std::uint8_t, 4> IP;
    std::array<std::uint8_t, 6> Mac;
    int Firmware;
    std::string Name;
    std::uint16_t SourcePort; // 1500 Z2, 1901 Z3
};

class TWindowHarness {
public:
    explicit TWindowHarness(bool chinese = false, const QString& programDir = {});
    ~TWindowHarness();

    TFrm_Main& Win() { return *win_; }
    // A control by name. The parameter pages are built when they first show: a control looked up
    // before that is found once every page has been built.
    template <typename T> T* Find(const char* name) {
        if (T* found = win_->findChild<T*>(QString::fromLatin1(name)))
            return found;
        win_->Pages().BuildAll();
        return win_->findChild<T*>(QString::fromLatin1(name));
    }
    QPlainTextEdit* Log() { return Find<QPlainTextEdit>("redt_Log"); }
    QPlainTextEdit* Hex() { return Find<QPlainTextEdit>("redt_Hex"); }
    std::vector<TPaneLine> LogLines() {
        win_->FlushPending();
        return PaneLines(Log());
    }
    std::vector<TPaneLine> HexLines() {
        win_->FlushPending();
        return PaneLines(Hex());
    }

    // A search (which makes the binding on 127.0.0.1), then these replies fed to the endpoint
    // as if they had arrived on that binding; the rows are flushed into the list.
    void SearchWith(const std::vector<TSearchRow>& rows);
    // Runs the health checks over the list now and waits for their marks and summary line.
    void CheckHealth();
    // A datagram as if it had come from peer:port on binding 0.
    void Inject(const TIdBytes& data, std::uint16_t peerPort, const std::string& peer = "10.0.0.5");
    // The module of the last command sent to `sink` answers it with `replies`, and the window has
    // handled them (the read's quiet time is not over: FinishRead ends it).
    void Answer(TSink& sink, const std::vector<TIdBytes>& replies);
    // Lets the running read's quiet time pass: the read is over and the page editable.
    void FinishRead();
    // Clicks a row of lv_Dev (or the empty space below the rows for -1).
    void ClickRow(int row);
    // Drops whatever the sinks hold.
    void DrainSinks();

    QString Home() const { return home_.path(); }

    TScriptedPrompts Prompts;
    TSink Z2;
    TSink Z3;
    std::vector<QUrl> Opened;
    // The clock of the window's jobs: pauses, reply waits and verification move only when a test
    // advances it.
    TVirtualClock Clock;
    // The harness's own context: each harness is a program of its own.
    std::unique_ptr<TAppContext> Context;
    std::unique_ptr<TFrm_About> About;
    std::unique_ptr<TFrm_Pswd> Pswd;

private:
    QTemporaryDir home_;
    std::unique_ptr<TFrm_Main> win_;
};

// The built-in English text of a key (what a harness's windows show until a switch).
QString EnglishText(const char* key);

// Runs the event loop until done() holds or ms pass; whether it held. (QTest's QTRY macros
// report to QTest, not to GoogleTest, so the tests use this instead.)
bool PumpUntil(const std::function<bool()>& done, int ms = 3000);

// Code of an addressed command (byte 2) and its MAC text (bytes 3..8, "00 1A ..").
std::string MacOf(const TIdBytes& datagram);

} // namespace varnix::test
