// The window's reads and saves against varnix-sim on a segment like a real one
// (tests/netns-run --segments 1): rows are clicked and pages saved through their buttons, as a
// technician does, and what the simulated modules hold afterwards is compared byte for byte with
// what they held before. The simulator varies every byte the protocol leaves open (byte 2 of the
// acknowledgements, the carried block bytes), so nothing here can lean on a fixed value.

#include "app/journal.h"
#include "core/convert.h"
#include "inventory/inventory_db.h"
#include "inventory/journal_store.h"
#include "lang/app_lang.h"
#include "sim_process.h"
#include "ui/main/device_list_model.h"
#include "ui/main/lan_link.h"
#include "ui/main/log_pane.h"
#include "window_harness.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

const char* kA = "00 1A 2B 3C 4D 5E";
const char* kB = "00 1A 2B 3C 4D 5F";
const char* kZ3 = "00 1A 2B 3C 4D 60";

TIdBytes Hex(const QString& text) {
    TIdBytes out;
    HexTextToBytes(text.toStdString(), out);
    return out;
}

void PutText(TIdBytes& block, std::size_t offset, std::size_t width, const std::string& text) {
    for (std::size_t i = 0; i < width; ++i)
        block[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

// What the simulator holds of one module.
struct TSimModule {
    TIdBytes Base, Port, Cloud, Heart, Httpd, Modbus;
    std::vector<int> Writes;
    int Restarts = 0;
};

class WindowSaves : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qEnvironmentVariable("VARNIX_NS_TOPOLOGY"), u"segments")
            << "run through tests/netns-run --segments 1";
        state_ = simDir_.filePath(QStringLiteral("state.json"));
    }

    // The simulator with these modules (JSON objects of its config), then the window and a search.
    void Start(const QJsonArray& modules, bool search = true) {
        QFile config(simDir_.filePath(QStringLiteral("config.json")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QJsonDocument(QJsonObject{{QStringLiteral("modules"), modules}}).toJson());
        config.close();
        sim_ = std::make_unique<TSimProcess>(SegmentSimArgs(
            {QStringLiteral("--config"), config.fileName(), QStringLiteral("--state"), state_}));
        ASSERT_TRUE(sim_->Ready()) << sim_->ErrorText().toStdString();
        context_ = std::make_unique<TAppContext>(home_.path());
        win_ = std::make_unique<TFrm_Main>(*context_, SimWindowOptions(home_.path(), prompts_));
        win_->show();
        if (!search)
            return;
        Find<QPushButton>("btn_Search")->click();
        ASSERT_TRUE(PumpUntil([&] { return win_->DeviceCount() == modules.size(); }, 5000))
            << win_->DeviceCount();
    }

    template <typename T = QWidget> T* Find(const char* name) {
        T* w = win_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    int RowOf(const char* mac) {
        for (int i = 0; i < win_->DeviceCount(); ++i)
            if (win_->Devices().Row(i).Mac == QLatin1String(mac))
                return i;
        ADD_FAILURE() << "no row for " << mac;
        return -1;
    }

    // Clicks the module's row and waits until its read is over.
    void Read(const char* mac) {
        auto* list = Find<QTreeView>("lv_Dev");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualRect(list->model()->index(RowOf(mac), 0)).center());
        ASSERT_TRUE(PumpUntil(
            [&] {
                const auto& r = win_->LanLink().LastRead();
                return !win_->LanLink().Reading() && r && MacKey(r->Settings.Base.UserMAC) == MacKey(mac);
            },
            5000));
    }

    // Presses a save button and waits for the one-line result; the log lines of the save.
    std::vector<QString> Save(const char* button) {
        QTest::mouseClick(Find(button), Qt::LeftButton);
        for (const auto& m : prompts_.Messages())
            ADD_FAILURE() << m.text.toStdString();
        std::vector<QString> lines;
        const QString verified = context_->Text("lang_Hint_SaveVerified").section(u'%', 0, 0);
        const QString notVerified = QStringLiteral("Not verified");
        EXPECT_TRUE(PumpUntil(
            [&] {
                win_->FlushPending();
                lines.clear();
                for (const auto& l : PaneLines(Find<QPlainTextEdit>("redt_Log")))
                    lines.push_back(l.Text);
                return !lines.empty() &&
                       (lines.back().startsWith(verified) || lines.back().startsWith(notVerified));
            },
            20000))
            << (lines.empty() ? std::string() : lines.back().toStdString());
        return lines;
    }

    TSimModule Module(const char* mac) {
        QFile f(state_);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        for (const auto& v :
             QJsonDocument::fromJson(f.readAll()).object()[QStringLiteral("modules")].toArray()) {
            const QJsonObject m = v.toObject();
            if (m[QStringLiteral("mac")].toString() != QLatin1String(mac))
                continue;
            TSimModule s{Hex(m[QStringLiteral("base")].toString()),
                         Hex(m[QStringLiteral("port")].toString()),
                         Hex(m[QStringLiteral("cloud")].toString()),
                         Hex(m[QStringLiteral("heart")].toString()),
                         Hex(m[QStringLiteral("httpd")].toString()),
                         Hex(m[QStringLiteral("modbus")].toString()),
                         {},
                         m[QStringLiteral("restarts")].toInt()};
            for (const auto& w : m[QStringLiteral("writes")].toArray())
                s.Writes.push_back(w.toInt());
            return s;
        }
        ADD_FAILURE() << "module " << mac << " not in the state";
        return {};
    }

    static QJsonObject Z2(const char* mac, const char* ip, const char* name, int firmware) {
        return {{QStringLiteral("family"), QStringLiteral("z2")},
                {QStringLiteral("mac"), QString::fromLatin1(mac)},
                {QStringLiteral("ip"), QString::fromLatin1(ip)},
                {QStringLiteral("name"), QString::fromLatin1(name)},
                {QStringLiteral("firmware"), firmware}};
    }

    static int Count(const std::vector<QString>& lines, const QString& text) {
        return static_cast<int>(std::count(lines.begin(), lines.end(), text));
    }

    void RunZ2Save(int firmware);

    QTemporaryDir simDir_, home_;
    QString state_;
    std::unique_ptr<TSimProcess> sim_;
    TScriptedPrompts prompts_;
    std::unique_ptr<TAppContext> context_;
    std::unique_ptr<TFrm_Main> win_;
};

void WindowSaves::RunZ2Save(int firmware) {
    ASSERT_NO_FATAL_FAILURE(Start({Z2(kA, "192.168.0.50", "Line-1", firmware)}));
    const TSimModule before = Module(kA);
    ASSERT_NO_FATAL_FAILURE(Read(kA));
    EXPECT_EQ(win_->PageMode(), 2);
    EXPECT_EQ(Find<QLineEdit>("edt_StaticIP")->text(), QStringLiteral("192.168.0.50"));
    EXPECT_EQ(Find<QLineEdit>("edt_ModName")->text(), QStringLiteral("Line-1"));
    EXPECT_EQ(Find<QLineEdit>("edtDid")->text(), QStringLiteral("001A2B3C4D5E"));
    EXPECT_EQ(Find<QLineEdit>("edtwaittime")->text(), QStringLiteral("200"));

    Find<QLineEdit>("edt_ModName")->setText(QStringLiteral("Line-9"));
    Find<QLineEdit>("edt_LocalPort0")->setText(QStringLiteral("9001"));
    Find<QComboBox>("RzComboBox2")->setCurrentIndex(3);
    Find<QLineEdit>("edtDid")->setText(QStringLiteral("98765432109876543210"));
    Find<QComboBox>("cbb_WorkMode0")->setCurrentIndex(4);
    Find<QLineEdit>("LabeledEdit2")->setText(QStringLiteral("/post"));
    if (firmware <= 4016) {
        // This firmware takes no HTTPD blocks: a URL typed for it would be lost, so the save is
        // refused, naming the field, and nothing is sent.
        QTest::mouseClick(Find("btn_Z2NetSet"), Qt::LeftButton);
        ASSERT_EQ(prompts_.Messages().size(), 1u);
        EXPECT_TRUE(prompts_.Messages().front().text.contains(QStringLiteral("HttpdURL")));
        prompts_.Clear();
        QTest::qWait(600);
        EXPECT_TRUE(Module(kA).Writes.empty());
        Find<QLineEdit>("LabeledEdit2")->setText(QStringLiteral("/data"));
    }
    const std::vector<QString> log = Save("btn_Z2NetSet");
    const std::vector<int> writes = firmware > 4016
                                        ? std::vector<int>{0x05, 0x06, 0x0C, 0x21, 0x22, 0x23, 0x24}
                                        : std::vector<int>{0x05, 0x06, 0x0C, 0x24};
    // Every datagram acknowledged (the restart too), whatever byte 2 of the acknowledgements held,
    // and the read-back proved it.
    EXPECT_EQ(Count(log, context_->Text("lang_Hint_ACK")), static_cast<int>(writes.size()) + 1);
    EXPECT_TRUE(log.back().startsWith(QStringLiteral("Saved and verified"))) << log.back().toStdString();
    const TSimModule after = Module(kA);
    EXPECT_EQ(after.Writes, writes);
    TIdBytes base = before.Base;
    PutText(base, 21, 16, "Line-9");
    EXPECT_EQ(after.Base, base);
    TIdBytes port = before.Port;
    port[12] = 9001 & 0xFF;
    port[13] = 9001 >> 8;
    port[50] |= 0x10; // transparent cloud
    port[51] = 4;     // HTTPD Client
    EXPECT_EQ(after.Port, port);
    TIdBytes cloud = before.Cloud;
    PutText(cloud, 2, 20, "98765432109876543210");
    EXPECT_EQ(after.Cloud, cloud);
    EXPECT_EQ(after.Heart, before.Heart);
    TIdBytes httpd = before.Httpd;
    if (firmware > 4016) {
        httpd[0] = 5;
        PutText(httpd, 1, 5, "/post");
    }
    EXPECT_EQ(after.Httpd, httpd);
    EXPECT_EQ(after.Modbus, before.Modbus);
    // The row shows the module's new name.
    EXPECT_EQ(win_->Devices().Row(RowOf(kA)).Name, QStringLiteral("Line-9"));
}

} // namespace

TEST_F(WindowSaves, Z2ReadAndSaveWithFirmware4016) {
    RunZ2Save(4016);
}

TEST_F(WindowSaves, Z2ReadAndSaveWithFirmware4017) {
    RunZ2Save(4017);
}

// A Z3 module is read into the Z3 page (its own values, page mode 3) and saved from it; a click on
// it after a Z2 row leaves nothing of the Z2 module on screen.
TEST_F(WindowSaves, Z3ReadAndSaveFromTheWindow) {
    QJsonObject z3{{QStringLiteral("family"), QStringLiteral("z3")},
                   {QStringLiteral("mac"), QString::fromLatin1(kZ3)},
                   {QStringLiteral("ip"), QStringLiteral("192.168.0.60")},
                   {QStringLiteral("name"), QStringLiteral("Z3-1")},
                   {QStringLiteral("firmware"), 4017}};
    ASSERT_NO_FATAL_FAILURE(Start({Z2(kA, "192.168.0.50", "Line-1", 4017), z3}));
    ASSERT_NO_FATAL_FAILURE(Read(kA));
    ASSERT_EQ(Find<QLineEdit>("edt_ModName")->text(), QStringLiteral("Line-1"));

    auto* list = Find<QTreeView>("lv_Dev");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(RowOf(kZ3), 0)).center());
    // At once, before any reply: the Z2 module's values are gone.
    EXPECT_EQ(Find<QLineEdit>("edt_ModName")->text(), QString());
    EXPECT_EQ(Find<QLineEdit>("edt_StaticIP")->text(), QString());
    ASSERT_TRUE(PumpUntil([&] { return !win_->LanLink().Reading() && win_->LanLink().LastRead(); }, 5000));
    EXPECT_EQ(win_->PageMode(), 3);
    EXPECT_EQ(Find<QLineEdit>("edt_StaticIPZ3")->text(), QStringLiteral("192.168.0.60"));
    EXPECT_EQ(Find<QLineEdit>("edt_ModNameZ3")->text(), QStringLiteral("Z3-1"));

    const TSimModule before = Module(kZ3);
    Find<QLineEdit>("edt_ModNameZ3")->setText(QStringLiteral("Z3-Hall"));
    const std::vector<QString> log = Save("btn_Z3NetSet");
    EXPECT_TRUE(log.back().startsWith(QStringLiteral("Saved and verified"))) << log.back().toStdString();
    const TSimModule after = Module(kZ3);
    EXPECT_EQ(after.Writes, (std::vector<int>{0x05, 0x06}));
    EXPECT_EQ(after.Restarts, 1); // the closing 0x04
    TIdBytes base = before.Base;
    PutText(base, 21, 16, "Z3-Hall");
    // A Z3 save writes the whole status byte: the address type in bit 7 only.
    base[3] = before.Base[3] & 0x80;
    EXPECT_EQ(after.Base, base);
    EXPECT_EQ(after.Port, before.Port);
}

// Module A is read with every block; module B's heartbeat reply never comes. B's save must not
// carry A's heartbeat (or anything of A's): it leaves B's heartbeat block alone.
TEST_F(WindowSaves, ALostHeartbeatReplyNeverBringsAnotherModulesBlock) {
    QJsonObject b = Z2(kB, "192.168.0.51", "Line-2", 4017);
    b.insert(QStringLiteral("replies"), QJsonArray{QStringLiteral("130"), QStringLiteral("50"),
                                                   QStringLiteral("302"), QStringLiteral("modbus")});
    ASSERT_NO_FATAL_FAILURE(Start({Z2(kA, "192.168.0.50", "Line-1", 4017), b}));
    ASSERT_NO_FATAL_FAILURE(Read(kA));
    EXPECT_EQ(Find<QLineEdit>("edtHeartDt")->text(), QStringLiteral("heart"));
    ASSERT_NO_FATAL_FAILURE(Read(kB));
    const TSimModule before = Module(kB);
    Find<QLineEdit>("edt_ModName")->setText(QStringLiteral("Line-2b"));
    const std::vector<QString> log = Save("btn_Z2NetSet");
    EXPECT_TRUE(log.back().startsWith(QStringLiteral("Saved and verified"))) << log.back().toStdString();
    const TSimModule after = Module(kB);
    EXPECT_EQ(after.Writes, (std::vector<int>{0x05, 0x06, 0x24})); // no 0x21: B sent no heartbeat block
    EXPECT_EQ(after.Heart, before.Heart);
}

// A window save that changed the Modbus block is journalled old -> new, and varnix-cli undoes it:
// the module's Modbus block is back byte for byte.
TEST_F(WindowSaves, UndoOfAWindowEntryRestoresTheModbusBlock) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("VARNIX_CLI"));
    ASSERT_NO_FATAL_FAILURE(Start({Z2(kA, "192.168.0.50", "Line-1", 4017)}));
    const TSimModule before = Module(kA);
    ASSERT_NO_FATAL_FAILURE(Read(kA));
    Find<QLineEdit>("edtwaittime")->setText(QStringLiteral("350"));
    const std::vector<QString> log = Save("btn_Z2NetSet");
    ASSERT_TRUE(log.back().startsWith(QStringLiteral("Saved and verified"))) << log.back().toStdString();
    ASSERT_NE(Module(kA).Modbus, before.Modbus);

    const TJournalRead journal = ReadJournalEntries(home_.path());
    ASSERT_EQ(journal.Entries.size(), 1);
    const TJournalEntry& e = journal.Entries.front();
    EXPECT_EQ(e.Outcome, QStringLiteral("acknowledged"));
    bool modbus = false;
    for (const TJournalChange& c : e.Changes)
        modbus |= c.Field == QLatin1String("block 0x24");
    EXPECT_TRUE(modbus);
    win_->close();

    QProcess cli;
    cli.start(qEnvironmentVariable("VARNIX_CLI"),
              {QStringLiteral("--interface"), qEnvironmentVariable("VARNIX_NS_PC_IPS").section(u',', 0, 0),
               QStringLiteral("--home"), home_.path(), QStringLiteral("undo"), QStringLiteral("1"),
               QStringLiteral("--verify-timeout"), QStringLiteral("8")});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(Module(kA).Modbus, before.Modbus);
}

// The whole path by the keyboard alone: F5 searches, the arrows reach the Z2 row, Enter reads it,
// a field is typed into and Ctrl+S saves it; the simulated module holds the new name afterwards.
TEST_F(WindowSaves, KeyboardOnlySearchReadEditAndSave) {
    ASSERT_NO_FATAL_FAILURE(Start({Z2(kA, "192.168.0.50", "Line-1", 4017),
                                   QJsonObject{{QStringLiteral("family"), QStringLiteral("z3")},
                                               {QStringLiteral("mac"), QString::fromLatin1(kZ3)},
                                               {QStringLiteral("ip"), QStringLiteral("192.168.0.51")},
                                               {QStringLiteral("name"), QStringLiteral("Press")},
                                               {QStringLiteral("firmware"), 3001}}},
                                  false));
    win_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win_.get()));
    QTest::keyClick(win_.get(), Qt::Key_F5);
    ASSERT_TRUE(PumpUntil([&] { return win_->DeviceCount() == 2; }, 5000)) << win_->DeviceCount();
    auto* list = Find<QTreeView>("lv_Dev");
    ASSERT_TRUE(list->hasFocus()) << "F5 leaves the keyboard in the list";
    // Down until the Z2 module's row is current (replies arrive in any order), then Enter.
    const int z2Row = RowOf(kA);
    for (int i = 0; i < 4 && list->currentIndex().row() != z2Row; ++i)
        QTest::keyClick(list, list->currentIndex().row() > z2Row ? Qt::Key_Up : Qt::Key_Down);
    ASSERT_EQ(list->currentIndex().row(), z2Row);
    ASSERT_TRUE(PumpUntil([&] { return !win_->LanLink().Reading(); }, 5000));
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil(
        [&] {
            const auto& r = win_->LanLink().LastRead();
            return !win_->LanLink().Reading() && r && MacKey(r->Settings.Base.UserMAC) == MacKey(kA);
        },
        5000));
    EXPECT_EQ(win_->PageMode(), 2);
    auto* name = Find<QLineEdit>("edt_ModName");
    EXPECT_EQ(name->text(), u"Line-1");
    name->setFocus(Qt::TabFocusReason);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, QStringLiteral("Line-7"));
    EXPECT_EQ(name->text(), u"Line-7");

    QTest::keyClick(name, Qt::Key_S, Qt::ControlModifier);
    const QString verified = context_->Text("lang_Hint_SaveVerified").section(u'%', 0, 0);
    QString last;
    EXPECT_TRUE(PumpUntil(
        [&] {
            win_->FlushPending();
            const auto lines = PaneLines(Find<QPlainTextEdit>("redt_Log"));
            last = lines.empty() ? QString() : lines.back().Text;
            return last.startsWith(verified) || last.startsWith(u"Not verified");
        },
        20000))
        << last.toStdString();
    EXPECT_TRUE(last.startsWith(verified)) << last.toStdString();
    const TSimModule after = Module(kA);
    ASSERT_GE(after.Base.size(), 16u);
    EXPECT_NE(
        QByteArray(reinterpret_cast<const char*>(after.Base.data()), static_cast<int>(after.Base.size()))
            .indexOf("Line-7"),
        -1);
    EXPECT_TRUE(Module(kZ3).Writes.empty()) << "nothing was written to the other module";
}

// The window and 20 varnix-cli processes write varnix.db at once: the window saves module A while
// each cli sets one module of its own. No journal line is lost, and the window's settled search,
// its read and its save's read-back are in the inventory (two snapshots: the name changed).
TEST_F(WindowSaves, TheWindowAndTwentyCliSetsShareTheDatabase) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("VARNIX_CLI"));
    QJsonArray modules{Z2(kA, "192.168.0.50", "Line-1", 4017)};
    QStringList macs;
    for (int i = 0; i < 20; ++i) {
        macs << QStringLiteral("02 00 00 00 0D %1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
        const QByteArray ip = QStringLiteral("192.168.0.%1").arg(100 + i).toLatin1();
        const QByteArray name = QStringLiteral("Cell-%1").arg(i).toLatin1();
        modules.append(Z2(macs.back().toLatin1().constData(), ip.constData(), name.constData(), 4017));
    }
    ASSERT_NO_FATAL_FAILURE(Start(modules));
    ASSERT_NO_FATAL_FAILURE(Read(kA));
    std::vector<std::unique_ptr<QProcess>> clis;
    for (int i = 0; i < macs.size(); ++i) {
        clis.push_back(std::make_unique<QProcess>());
        clis.back()->start(qEnvironmentVariable("VARNIX_CLI"),
                           {QStringLiteral("--interface"),
                            qEnvironmentVariable("VARNIX_NS_PC_IPS").section(u',', 0, 0),
                            QStringLiteral("--home"), home_.path(), QStringLiteral("set"), macs[i],
                            QStringLiteral("ModName=Set-%1").arg(i), QStringLiteral("--verify-timeout"),
                            QStringLiteral("10")});
    }
    Find<QLineEdit>("edt_ModName")->setText(QStringLiteral("Line-1b"));
    const std::vector<QString> log = Save("btn_Z2NetSet");
    EXPECT_TRUE(log.back().startsWith(QStringLiteral("Saved and verified"))) << log.back().toStdString();
    for (auto& p : clis) {
        // One that ended while the window's save ran is already finished.
        ASSERT_TRUE(p->state() == QProcess::NotRunning || p->waitForFinished(60000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    win_->close();
    win_.reset(); // the inventory's worker finishes what it was given

    const TJournalRead journal = ReadJournalEntries(home_.path());
    EXPECT_TRUE(journal.Error.isEmpty()) << journal.Error.toStdString();
    QStringList journalled;
    for (const TJournalEntry& e : journal.Entries)
        journalled << e.Mac;
    journalled.sort();
    QStringList expected = macs + QStringList{QString::fromLatin1(kA)};
    expected.sort();
    EXPECT_EQ(journalled, expected);

    auto inv = TInventory::Open(home_.path());
    ASSERT_TRUE(inv) << inv.Error().Message;
    const auto rows = (*inv)->Modules();
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 21u);
    const auto snaps = (*inv)->Snapshots(QString::fromLatin1(kA));
    ASSERT_TRUE(snaps);
    ASSERT_EQ(snaps->size(), 2u);
    const auto last = (*inv)->Snapshot(snaps->back().Id);
    ASSERT_TRUE(last && *last);
    EXPECT_EQ((*last)->Settings().Base.ModName, "Line-1b");
}
