// The window's serial tab against varnix-sim --serial on a pty: Read Config and Save Config of
// Z1 and Z2 modules, the frames and pauses the module received (from the simulator's record),
// the bytes a Z2 save carries, the refusals and failures the log shows, and an operation that
// the window's close cuts short.

#include "app/journal.h"
#include "engine/clock.h"
#include "inventory/inventory_db.h"
#include "inventory/journal_store.h"
#include "sim_process.h"
#include "ui/main/serial_link.h"
#include "ui/main/window_inventory.h"
#include "window_harness.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using namespace varnix;
using namespace varnix::test;

namespace {

// The real clock, keeping every wait a job asks for.
class TRecordingClock final : public TClock {
public:
    std::int64_t NowMs() const override { return RealClock().NowMs(); }
    std::unique_ptr<ITimer> NewTimer() override { return std::make_unique<TTimer>(*this); }
    std::vector<int> Waits;

private:
    class TTimer final : public ITimer {
    public:
        explicit TTimer(TRecordingClock& clock) : clock_(clock), real_(RealClock().NewTimer()) {}
        void Start(int ms, std::function<void()> fn) override {
            clock_.Waits.push_back(ms);
            real_->Start(ms, std::move(fn));
        }
        void Stop() override { real_->Stop(); }
        bool Active() const override { return real_->Active(); }

    private:
        TRecordingClock& clock_;
        std::unique_ptr<ITimer> real_;
    };
};

struct SerialWindow {
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("ttySIM"));
    QString state = dir.filePath(QStringLiteral("state.json"));
    std::unique_ptr<TSimProcess> sim;
    TScriptedPrompts prompts;
    TRecordingClock clock;
    std::unique_ptr<TAppContext> context = std::make_unique<TAppContext>(dir.path());
    std::unique_ptr<TFrm_Main> win;

    explicit SerialWindow(const QStringList& simArgs) {
        sim = std::make_unique<TSimProcess>(
            simArgs + QStringList{QStringLiteral("--link"), link, QStringLiteral("--state"), state,
                                  QStringLiteral("--duration"), QStringLiteral("120")});
        TMainOptions o;
        o.ProgramDir = dir.path();
        o.Prompts = &prompts;
        o.SystemIsChinese = false;
        o.Udp.IncludeLoopback = true;
        o.Udp.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
        o.Clock = &clock;
        win = std::make_unique<TFrm_Main>(*context, o);
        win->show();
        Find<QTabWidget>("rzpgcntrl_Srch")->setCurrentIndex(1);
        Find<QComboBox>("cbb_SelectCom")->setEditText(link);
    }
    template <typename T> T* Find(const char* name) { return win->findChild<T*>(QString::fromLatin1(name)); }
    std::vector<QString> Log() {
        win->FlushPending();
        std::vector<QString> out;
        for (const TPaneLine& l : PaneLines(Find<QPlainTextEdit>("redt_Log")))
            out.push_back(l.Text);
        return out;
    }
    bool Logged(const QString& text) {
        const auto lines = Log();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    QJsonObject State() const {
        QFile f(state);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // The frames the module received: hex and milliseconds since its start.
    std::vector<std::pair<QString, double>> Frames() const {
        std::vector<std::pair<QString, double>> out;
        for (const QJsonValue& v : State().value(QStringLiteral("frames")).toArray())
            out.emplace_back(v[QStringLiteral("hex")].toString(), v[QStringLiteral("t")].toDouble());
        return out;
    }
    void Click(const char* name) { Find<QPushButton>(name)->click(); }
    // Clicks and lets the operation run to its end (the click itself returns at once).
    void Run(const char* name) {
        Click(name);
        EXPECT_TRUE(PumpUntil([&] { return !win->SerialLink().Busy(); }, 10000)) << name;
    }
};

QByteArray HexBytes(const QJsonObject& o, const char* key) {
    return QByteArray::fromHex(o.value(QString::fromLatin1(key)).toString().toLatin1());
}

TEST(SerialTab, Z1ReadFillsTheZ1PageAndSaveWritesOneFrame) {
    if (qEnvironmentVariable("VARNIX_SIM").isEmpty())
        GTEST_SKIP() << "VARNIX_SIM not set";
    SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z1")});
    ASSERT_TRUE(s.sim->Ready()) << s.sim->ErrorText().toStdString();
    s.Find<QRadioButton>("rbZ1")->setChecked(true);
    // A saved "COM1" (no such port here) gives way to the first port found, or to nothing.
    auto* box = s.Find<QComboBox>("cbb_SelectCom");
    box->setEditText(QStringLiteral("COM1"));
    s.win->SerialLink().TabSelected();
    EXPECT_NE(box->currentText(), u"COM1");
    // A typed path survives a refresh of the port list and the close-up rule.
    box->setEditText(s.link);
    s.win->SerialLink().TabSelected();
    EXPECT_EQ(s.Find<QComboBox>("cbb_SelectCom")->currentText(), s.link);
    s.Run("btn_ComRead");
    EXPECT_EQ(s.win->PageMode(), 1);
    EXPECT_EQ(s.Find<QLineEdit>("edt_ModuleIP")->text(), u"192.168.0.7");
    EXPECT_EQ(s.Find<QLineEdit>("edt_DeIP")->text(), u"192.168.0.201");
    EXPECT_EQ(s.Find<QComboBox>("cbb_BaudRate")->currentText(), u"115200");
    EXPECT_EQ(s.Log(), (std::vector<QString>{u"Serial is Open"_qs, u"send OK "_qs, u"Read OK "_qs,
                                             u"Serial is Close"_qs}));

    s.Find<QLineEdit>("edt_ModuleIP")->setText(QStringLiteral("10.0.0.9"));
    s.Find<QLineEdit>("edt_ID")->clear();
    s.Run("btn_ComSet");
    EXPECT_TRUE(s.Logged(QStringLiteral("setup success")));
    const auto frames = s.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].first, u"55BC");
    EXPECT_TRUE(frames[1].first.startsWith(u"55BA"));
    const QByteArray body = HexBytes(s.State(), "z1body");
    ASSERT_EQ(body.size(), 28);
    EXPECT_EQ(body.mid(6, 4), QByteArray::fromHex("0900000A")); // 10.0.0.9, last octet first
    EXPECT_EQ(body.mid(21, 2), QByteArray::fromHex("0000"));    // an empty ID is sent as 0
}

TEST(SerialTab, Z2ReadChainsTheFollowUpAndSaveCarriesTheModulesOwnBytes) {
    if (qEnvironmentVariable("VARNIX_SIM").isEmpty())
        GTEST_SKIP() << "VARNIX_SIM not set";
    SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z2")});
    ASSERT_TRUE(s.sim->Ready()) << s.sim->ErrorText().toStdString();
    // Nothing saved yet: a Z2 read is the default, and a save before any read is refused.
    EXPECT_TRUE(s.Find<QRadioButton>("rbZ2")->isChecked());
    s.Click("btn_Z2ComSet");
    EXPECT_TRUE(s.Frames().empty());
    ASSERT_EQ(s.prompts.Messages().size(), 1u);
    EXPECT_TRUE(s.Log().back().startsWith(u"Read the module's parameters over this serial port first"))
        << s.Log().back().toStdString();

    // The click returns at once; while the read runs, Read Config is disabled and a save is
    // refused.
    const QJsonObject before = s.State();
    s.Click("btn_ComRead");
    EXPECT_TRUE(s.win->SerialLink().Busy());
    EXPECT_FALSE(s.Find<QPushButton>("btn_ComRead")->isEnabled());
    s.Click("btn_Z2ComSet");
    EXPECT_EQ(s.prompts.Messages().size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return !s.win->SerialLink().Busy(); }, 10000));
    EXPECT_TRUE(s.Find<QPushButton>("btn_ComRead")->isEnabled());
    EXPECT_EQ(s.win->PageMode(), 2);
    EXPECT_EQ(s.Find<QLineEdit>("edt_StaticIP")->text(), u"192.168.0.7");
    EXPECT_EQ(s.Find<QLineEdit>("edt_ModName")->text(), u"Serial-Z2");
    EXPECT_EQ(s.Find<QLineEdit>("edtDid")->text(), u"SIM-DEV-0001");
    EXPECT_EQ(s.Find<QLineEdit>("edtCompass")->text(), u"pass1234");
    auto frames = s.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].first, u"55BD");
    EXPECT_EQ(frames[1].first, u"55C1");
    // The read is a snapshot of the module in the inventory: over the serial link, with the
    // blocks that came whole (base, port, heartbeat; the follow-up's part of the cloud block is
    // not kept).
    s.win->Inventory().WaitIdle();
    {
        auto inv = TInventory::Open(s.dir.path());
        ASSERT_TRUE(inv) << inv.Error().Message;
        const auto modules = (*inv)->Modules();
        ASSERT_TRUE(modules && modules->size() == 1u);
        EXPECT_EQ(modules->front().Name, u"Serial-Z2");
        const auto snap = (*inv)->SnapshotAt(modules->front().Mac);
        ASSERT_TRUE(snap && *snap);
        EXPECT_EQ((*snap)->Info.Link, u"serial");
        EXPECT_TRUE((*snap)->Blocks.Got.Params && (*snap)->Blocks.Got.Heart);
        EXPECT_FALSE((*snap)->Blocks.Got.Cloud);
        EXPECT_EQ(QString::fromStdString((*snap)->Settings().Base.StaticIP), u"192.168.0.7");
    }

    // Saving what was read writes the module's blocks back unchanged, with 500 ms pauses that
    // are timers: the window's event loop keeps turning through them (a 5 ms timer is never
    // held up for as long as a pause).
    s.clock.Waits.clear();
    QElapsedTimer since;
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, since.elapsed() - lastTick);
        lastTick = since.elapsed();
    });
    since.start();
    ticker.start(5);
    s.Run("btn_Z2ComSet");
    ticker.stop();
    EXPECT_LT(longestGap, 400);
    frames = s.Frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(frames[2].first.startsWith(u"55BE"));
    EXPECT_TRUE(frames[3].first.startsWith(u"55BF"));
    EXPECT_EQ(frames[4].first, u"55B15A");
    // The window pauses 500 ms between the frames. The simulator stamps a frame when it reads it
    // from the pty, so a busy machine can shorten a gap on its side by the simulator's scheduling
    // delay: the wire shows the pauses happened, what was asked for shows their length.
    EXPECT_EQ(std::count(s.clock.Waits.begin(), s.clock.Waits.end(), TSerialSaveJob::FramePauseMs), 2);
    EXPECT_EQ(TSerialSaveJob::FramePauseMs, 500);
    EXPECT_GE(frames[3].second - frames[2].second, 450);
    EXPECT_GE(frames[4].second - frames[3].second, 450);
    const QJsonObject after = s.State();
    EXPECT_EQ(HexBytes(after, "base"), HexBytes(before, "base"));
    EXPECT_EQ(HexBytes(after, "port"), HexBytes(before, "port"));
    int acks = 0;
    for (const QString& l : s.Log())
        acks += l == u"setup success";
    EXPECT_EQ(acks, 3);

    // An edit changes only its own bytes.
    s.Find<QLineEdit>("edt_StaticIP")->setText(QStringLiteral("192.168.0.99"));
    s.Run("btn_Z2ComSet");
    QByteArray expected = HexBytes(before, "base");
    expected[9] = 99;
    EXPECT_EQ(HexBytes(s.State(), "base"), expected);

    // Both saves are journalled; the unchanged one with no changes, the edit as its block's
    // bytes old -> new.
    const TJournalRead journal = ReadJournalEntries(s.dir.path());
    ASSERT_EQ(journal.Entries.size(), 2);
    EXPECT_TRUE(journal.Entries[0].Changes.isEmpty());
    const TJournalEntry& e = journal.Entries[1];
    EXPECT_EQ(e.Link, u"serial");
    EXPECT_EQ(e.Outcome, u"acknowledged");
    EXPECT_EQ(e.Acks.size(), 3);
    EXPECT_EQ(e.Ip, u"192.168.0.7");
    ASSERT_EQ(e.Changes.size(), 1);
    EXPECT_EQ(e.Changes[0].Field, u"base block");
    EXPECT_EQ(QByteArray::fromHex(e.Changes[0].Old.toString().toLatin1()), HexBytes(before, "base"));
    EXPECT_EQ(QByteArray::fromHex(e.Changes[0].New.toString().toLatin1()), expected);
}

TEST(SerialTab, BadChecksumSplitRepliesAndNoPortAreReported) {
    if (qEnvironmentVariable("VARNIX_SIM").isEmpty())
        GTEST_SKIP() << "VARNIX_SIM not set";
    {
        SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z1"), QStringLiteral("--bad-checksum")});
        ASSERT_TRUE(s.sim->Ready());
        s.Find<QRadioButton>("rbZ1")->setChecked(true);
        s.Run("btn_ComRead");
        EXPECT_TRUE(s.Logged(QStringLiteral("Packet Header error or check sum is not correct")));
        EXPECT_EQ(s.win->PageMode(), 0);
    }
    {
        // A pause of more than 50 ms inside the reply: two chunks that match no length.
        SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z3"), QStringLiteral("--split-ms"),
                        QStringLiteral("120")});
        ASSERT_TRUE(s.sim->Ready());
        s.Find<QRadioButton>("rbZ3")->setChecked(true);
        s.Run("btn_ComRead");
        EXPECT_EQ(s.Log(),
                  (std::vector<QString>{u"Serial is Open"_qs, u"send OK "_qs, u"Serial is Close"_qs}));
        int chunks = 0;
        for (const TPaneLine& l : PaneLines(s.Find<QPlainTextEdit>("redt_Hex")))
            chunks += l.Text.startsWith(u"[ Length : 16 ]");
        EXPECT_EQ(chunks, 2);
    }
    {
        SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z2")});
        ASSERT_TRUE(s.sim->Ready());
        s.Find<QComboBox>("cbb_SelectCom")->setEditText(QString());
        s.Run("btn_ComRead");
        EXPECT_EQ(s.Log(),
                  (std::vector<QString>{u"Serial is Occupied"_qs, u"Serial Send Failure，please try again"_qs,
                                        u"Serial is Close"_qs}));
        EXPECT_TRUE(s.Frames().empty());
    }
}

// Whether another program could open the port now.
bool PortIsFree(const QString& path) {
    TComm other;
    other.SetCommName(QFile::encodeName(path).toStdString());
    try {
        other.OpenPort();
    } catch (const ECommsError&) {
        return false;
    }
    return true;
}

TEST(SerialTab, ClosingCutsAnOperationShortAtOnceAndASaveCutShortIsJournalled) {
    if (qEnvironmentVariable("VARNIX_SIM").isEmpty())
        GTEST_SKIP() << "VARNIX_SIM not set";
    {
        // A module that never answers: the read would wait out its reply wait.
        SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z1"), QStringLiteral("--silent")});
        ASSERT_TRUE(s.sim->Ready());
        s.Find<QRadioButton>("rbZ3")->setChecked(true);
        s.Click("btn_ComRead");
        ASSERT_TRUE(PumpUntil([&] { return !s.Frames().empty(); }));
        ASSERT_TRUE(s.win->SerialLink().Busy());
        QElapsedTimer t;
        t.start();
        s.win->close();
        EXPECT_FALSE(s.win->isVisible());
        EXPECT_FALSE(s.win->SerialLink().Busy());
        EXPECT_LT(t.elapsed(), 1500);
        EXPECT_TRUE(PortIsFree(s.link));
        // The close saved the family; the next window starts with it.
        TMainOptions o;
        o.ProgramDir = s.dir.path();
        o.Prompts = &s.prompts;
        o.SystemIsChinese = false;
        o.Udp.IncludeLoopback = true;
        o.Udp.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
        s.win.reset();
        TAppContext next(s.dir.path());
        TFrm_Main again(next, o);
        EXPECT_TRUE(again.findChild<QRadioButton*>(QStringLiteral("rbZ3"))->isChecked());
    }
    {
        // Closed in the pause after the first frame of a Z2 save: nothing more is sent, and the
        // journal keeps the save that was begun.
        SerialWindow s({QStringLiteral("--serial"), QStringLiteral("z2")});
        ASSERT_TRUE(s.sim->Ready());
        s.Run("btn_ComRead");
        s.Find<QLineEdit>("edt_StaticIP")->setText(QStringLiteral("192.168.0.42"));
        s.Click("btn_Z2ComSet");
        ASSERT_TRUE(PumpUntil([&] { return s.Frames().size() == 3; }));
        s.win->close();
        EXPECT_FALSE(s.win->SerialLink().Busy());
        PumpUntil([] { return false; }, 1200);
        EXPECT_EQ(s.Frames().size(), 3u);
        const TJournalRead journal = ReadJournalEntries(s.dir.path());
        ASSERT_EQ(journal.Entries.size(), 1);
        EXPECT_EQ(journal.Entries[0].Outcome, u"interrupted");
        EXPECT_EQ(journal.Entries[0].Link, u"serial");
    }
}

} // namespace
