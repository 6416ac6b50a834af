// The rollout window against varnix-sim on a real segment (tests/netns-run --segments 1): rows of
// the device list are selected with the mouse and the keyboard, "Firmware upgrade" opens the
// rollout view, and the rollout runs through the window's own lanes. The simulator's record says
// what each module went through: its upgrades, its factory resets, and the name and address it
// holds afterwards (a factory reset gives every module "VOR-Z2" at 192.168.0.7, so a configuration
// that was not written back shows).
//
// With VARNIX_ROLLOUT_SHOTS=DIR the finished view is saved there in English and Chinese.

#include "app/app_context.h"
#include "lang/apply_texts.h"
#include "sim_process.h"
#include "ui/main/lan_link.h"
#include "ui/rollout/rollout_form.h"
#include "ui/rollout/rollout_window.h"
#include "window_harness.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <map>

using namespace varnix;
using namespace varnix::test;

namespace {

QString MacOfModule(int i) {
    return QStringLiteral("02 00 00 00 03 %1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
}

struct TSimState {
    int Firmware = 0, Upgrades = 0, Resets = 0;
    QString Ip, Name;
    QJsonArray Writes;
};

class RolloutWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qEnvironmentVariable("VARNIX_NS_TOPOLOGY"), u"segments")
            << "run through tests/netns-run --segments 1";
        pc_ = qEnvironmentVariable("VARNIX_NS_PC_IPS").section(u',', 0, 0);
        state_ = simDir_.filePath(QStringLiteral("state.json"));
    }

    // `count` modules on the PC's /24 at firmware 4017 with names and addresses of their own; the
    // window searched them.
    void Start(int count) {
        QJsonArray modules;
        const QString net = pc_.section(u'.', 0, 2);
        for (int i = 0; i < count; ++i)
            modules.append(
                QJsonObject{{QStringLiteral("family"), i == 1 ? QStringLiteral("z3") : QStringLiteral("z2")},
                            {QStringLiteral("mac"), MacOfModule(i)},
                            {QStringLiteral("ip"), QStringLiteral("%1.%2").arg(net).arg(50 + i)},
                            {QStringLiteral("name"), QStringLiteral("Line-%1").arg(i)},
                            {QStringLiteral("firmware"), 4017}});
        QFile config(simDir_.filePath(QStringLiteral("config.json")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QJsonDocument(QJsonObject{{QStringLiteral("modules"), modules}}).toJson());
        config.close();
        const QString iface = qEnvironmentVariable("VARNIX_NS_SIM_IFACES").section(u',', 0, 0);
        sim_ = std::make_unique<TSimProcess>(QStringList{
            QStringLiteral("--bind"), QStringLiteral("0.0.0.0"), QStringLiteral("--iface"), iface,
            QStringLiteral("--config"), config.fileName(), QStringLiteral("--upgrade-fleet"),
            QStringLiteral("--upgrade-iface"), iface, QStringLiteral("--upgrade-out-dir"),
            simDir_.filePath(QStringLiteral("images")), QStringLiteral("--upgrade-firmware"),
            QStringLiteral("4018"), QStringLiteral("--reset-to"), QStringLiteral("factory"),
            QStringLiteral("--state"), state_, QStringLiteral("--duration"), QStringLiteral("300")});
        ASSERT_TRUE(sim_->Ready()) << sim_->ErrorText().toStdString();
        QDir().mkpath(simDir_.filePath(QStringLiteral("images")));

        TMainOptions o;
        o.ProgramDir = home_.path();
        o.Prompts = &prompts_;
        o.SystemIsChinese = false;
        o.OpenUrl = [](const QUrl&) {};
        context_ = std::make_unique<TAppContext>(home_.path());
        win_ = std::make_unique<TFrm_Main>(*context_, o);
        TRolloutWindowOptions ro;
        ro.Pool = &win_->LanLink().Pool();
        ro.Clock = &win_->LanLink().Clock();
        ro.Prompts = &prompts_;
        ro.Login = [] { return TLogin{"vesta", "vesta"}; };
        ro.ProgramDir = home_.path();
        ro.LocalAddresses = [this] { return std::vector<std::string>{pc_.toStdString()}; };
        // A child of the main window, opened the way the program opens it.
        rollout_ = new TRolloutWindow(*context_, ro, win_.get());
        win_->SetRolloutOpener([this](const std::vector<TFoundModule>& modules) {
            std::vector<TRolloutWindow::TTarget> targets;
            for (const TFoundModule& m : modules)
                targets.push_back({QString::fromStdString(m.Mac), QString::fromStdString(m.Ip),
                                   QString::fromStdString(m.Name)});
            rollout_->Open(targets);
        });
        win_->SetUpgradeOpener([this](const QString&, const QString&) { ++singleUpgrades_; });
        win_->AddTextsApplier([this] { rollout_->ApplyRolloutTexts(); });
        win_->SetCloseGuard([this] { return rollout_->MayClose(); });
        win_->SetBeforeLanesGo([this] { rollout_->Release(); });
        win_->show();
        Find<QPushButton>(win_.get(), "btn_Search")->click();
        ASSERT_TRUE(PumpUntil([&] { return win_->DeviceCount() == count; }, 5000)) << win_->DeviceCount();
        win_->FlushPending();
    }

    void TearDown() override {
        if (rollout_ != nullptr && rollout_->Running()) {
            // Never leave transfers behind: stop and let the modules in flight end.
            Find<QPushButton>(rollout_, "btn_Stop")->click();
            PumpUntil([&] { return !rollout_->Running(); }, 120000);
        }
    }

    template <typename T = QWidget> static T* Find(QWidget* in, const char* name) {
        T* w = in->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    int RowOf(const QString& mac) {
        for (int i = 0; i < win_->DeviceCount(); ++i)
            if (win_->Devices().Row(i).Mac == mac)
                return i;
        ADD_FAILURE() << "no row for " << mac.toStdString();
        return -1;
    }

    void ClickRow(const QString& mac, Qt::KeyboardModifiers modifiers) {
        auto* list = Find<QTreeView>(win_.get(), "lv_Dev");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualRect(list->model()->index(RowOf(mac), 0)).center());
    }

    // "Firmware upgrade" of the device list's menu.
    void FirmwareUpgrade() {
        win_->PopupMenu()->findChild<QAction*>(QStringLiteral("mni_FirmwareUp"))->trigger();
    }

    // An image of `size` bytes after its signature; the options typed; Start.
    void StartRollout(int size, const QString& parallel) {
        QFile image(simDir_.filePath(QStringLiteral("fw.bin")));
        ASSERT_TRUE(image.open(QIODevice::WriteOnly));
        QByteArray data(size, Qt::Uninitialized);
        for (char& c : data)
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        image.write(QByteArray("\x5A\x32\x10\x07", 4) + data);
        image.close();
        Find<QLineEdit>(rollout_, "edt_Image")->setText(image.fileName());
        Find<QLineEdit>(rollout_, "edt_Parallel")->setText(parallel);
        Find<QLineEdit>(rollout_, "edt_Expect")->setText(QStringLiteral("4018"));
        auto* start = Find<QPushButton>(rollout_, "btn_Start");
        // Start asks first, naming every module; Cancel (the default) sends nothing.
        prompts_.NextQuestion(false);
        QTest::mouseClick(start, Qt::LeftButton);
        ASSERT_EQ(prompts_.Shown().size(), 1u);
        const TScriptedPrompts::TStep asked = prompts_.Shown().back();
        EXPECT_EQ(asked.kind, TScriptedPrompts::Kind::Confirm);
        for (const TDeviceRow& row : win_->Devices().Rows()) // every row is in the rollout
            EXPECT_TRUE(asked.text.contains(row.IP + QStringLiteral("  ") + row.Name + QStringLiteral("  ") +
                                            row.Mac))
                << asked.text.toStdString();
        EXPECT_FALSE(rollout_->Running());
        EXPECT_EQ(rollout_->Job(), nullptr);
        prompts_.Clear();
        prompts_.NextQuestion(true);
        QTest::mouseClick(start, Qt::LeftButton);
        prompts_.Clear();
        ASSERT_TRUE(rollout_->Running());
        EXPECT_FALSE(start->isEnabled());
        EXPECT_TRUE(Find<QPushButton>(rollout_, "btn_Stop")->isEnabled());
    }

    std::map<QString, TSimState> Sim() {
        std::map<QString, TSimState> out;
        QFile f(state_);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const auto& v :
             QJsonDocument::fromJson(f.readAll()).object()[QStringLiteral("modules")].toArray()) {
            const QJsonObject m = v.toObject();
            out[m[QStringLiteral("mac")].toString()] = {
                m[QStringLiteral("firmware")].toInt(), m[QStringLiteral("upgrades")].toInt(),
                m[QStringLiteral("resets")].toInt(),   m[QStringLiteral("ip")].toString(),
                m[QStringLiteral("name")].toString(),  m[QStringLiteral("writes")].toArray()};
        }
        return out;
    }

    QString Cell(int row, int column) {
        const QTableWidgetItem* item = Find<QTableWidget>(rollout_, "tbl_Modules")->item(row, column);
        return item != nullptr ? item->text() : QString();
    }

    QString pc_, state_;
    QTemporaryDir simDir_, home_;
    std::unique_ptr<TSimProcess> sim_;
    TScriptedPrompts prompts_;
    std::unique_ptr<TAppContext> context_;
    std::unique_ptr<TFrm_Main> win_;
    TRolloutWindow* rollout_ = nullptr;
    int singleUpgrades_ = 0;
};

TEST_F(RolloutWindow, SelectedRowsAreUpgradedAndKeepTheirConfiguration) {
    ASSERT_NO_FATAL_FAILURE(Start(3));
    // The rows stand in the order the replies came.
    const QString first = win_->Devices().Row(0).Mac, second = win_->Devices().Row(1).Mac,
                  third = win_->Devices().Row(2).Mac;
    // One row: the single-module upgrade window, as before.
    ClickRow(first, Qt::NoModifier);
    FirmwareUpgrade();
    EXPECT_EQ(singleUpgrades_, 1);
    EXPECT_FALSE(rollout_->isVisible());

    // Shift+Down extends the selection by the keyboard and reads the new current row; a
    // Ctrl-click adds the last. The current row alone is what the other items act on.
    auto* list = Find<QTreeView>(win_.get(), "lv_Dev");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    ASSERT_TRUE(PumpUntil([&] { return win_->CurrentMac() == QString(second).remove(u' '); }, 2000));
    ClickRow(third, Qt::ControlModifier);
    ASSERT_EQ(win_->SelectedModules().size(), 3u);
    EXPECT_EQ(win_->SelectedDevice()->Mac, third);
    // The menu opens by a right click on one of the selected rows, which keeps the selection.
    {
        auto* list = Find<QTreeView>(win_.get(), "lv_Dev");
        const QPoint at = list->visualRect(list->model()->index(RowOf(first), 0)).center();
        QTest::mousePress(list->viewport(), Qt::RightButton, Qt::NoModifier, at);
        QTest::mouseRelease(list->viewport(), Qt::RightButton, Qt::NoModifier, at);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &menu);
        ASSERT_EQ(win_->SelectedModules().size(), 3u);
        EXPECT_EQ(win_->SelectedDevice()->Mac, first);
        win_->PopupMenu()->hide();
    }

    FirmwareUpgrade();
    EXPECT_EQ(singleUpgrades_, 1);
    ASSERT_TRUE(rollout_->isVisible());
    ASSERT_EQ(Find<QTableWidget>(rollout_, "tbl_Modules")->rowCount(), 3);
    const std::map<QString, TSimState> before = Sim();

    // Two at a time: the third waits for a free place.
    ASSERT_NO_FATAL_FAILURE(StartRollout(128 * 1024, QStringLiteral("2")));
    // The event loop keeps turning while the table follows the job: the longest gap between two
    // ticks of a 10 ms timer is reported, and the longest time the thread itself ran in one gap
    // (a gap may also be the wait for a core of a busy machine).
    const auto cpuMs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
    };
    QElapsedTimer gap;
    gap.start();
    qint64 longest = 0;
    double busiest = 0, cpuAtTick = cpuMs();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, gap.restart());
        busiest = std::max(busiest, cpuMs() - cpuAtTick);
        cpuAtTick = cpuMs();
    });
    tick.start(10);
    ASSERT_TRUE(PumpUntil([&] { return !rollout_->Running(); }, 240000));
    tick.stop();
    std::printf(
        "longest event-loop gap during the rollout: %lld ms, the thread's own run in one gap: %.1f ms\n",
        static_cast<long long>(longest), busiest);

    const TRolloutJob& job = *rollout_->Job();
    ASSERT_EQ(job.Modules().size(), 3u);
    const std::map<QString, TSimState> after = Sim();
    // The lines stand in the list's order.
    for (int i = 0; i < 3; ++i) {
        const TRolloutModule& m = job.Modules()[static_cast<std::size_t>(i)];
        const QString mac = win_->Devices().Row(i).Mac;
        EXPECT_EQ(QString::fromStdString(m.Mac), mac);
        EXPECT_EQ(m.Outcome, TRolloutOutcome::Done) << mac.toStdString() << ": " << m.Detail.toStdString();
        const TSimState& s = after.at(mac);
        EXPECT_EQ(s.Firmware, 4018) << mac.toStdString();
        EXPECT_EQ(s.Upgrades, 1) << mac.toStdString();
        EXPECT_EQ(s.Resets, 1) << mac.toStdString();
        // The factory reset's name and address are gone again: the kept configuration is back.
        EXPECT_EQ(s.Name, before.at(mac).Name) << mac.toStdString();
        EXPECT_EQ(s.Ip, before.at(mac).Ip) << mac.toStdString();
        // The line as shown: every module done, firmware before and after, the whole transfer.
        EXPECT_EQ(Cell(i, 0), mac);
        EXPECT_TRUE(Cell(i, 5).startsWith(context_->Text(QStringLiteral("lang_Rollout_Done"))))
            << Cell(i, 5).toStdString();
        EXPECT_EQ(Cell(i, 4), QStringLiteral("4017 \u2192 4018"));
        EXPECT_EQ(Cell(i, 3), QStringLiteral("100 %"));
    }
    EXPECT_TRUE(Find<QPushButton>(rollout_, "btn_Start")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(rollout_, "btn_Stop")->isEnabled());
    EXPECT_EQ(Find<QLabel>(rollout_, "lbl_Summary")->text(),
              context_->Text(QStringLiteral("lang_Rollout_Summary")).arg(3).arg(3).arg(0).arg(0).arg(0));

    // The language switch writes the finished lines again, and the headers and the summary.
    const QString shots = qEnvironmentVariable("VARNIX_ROLLOUT_SHOTS");
    if (!shots.isEmpty())
        rollout_->grab().save(shots + QStringLiteral("/rollout_en.png"));
    win_->SetLanguage(true);
    EXPECT_EQ(rollout_->windowTitle(), QStringLiteral("批量固件升级"));
    EXPECT_TRUE(Cell(0, 5).startsWith(QStringLiteral("完成")))
        << Cell(0, 5).toStdString(); // the Z3 adds its DNS
    EXPECT_EQ(Cell(0, 2), QStringLiteral("完成"));
    EXPECT_EQ(Find<QTableWidget>(rollout_, "tbl_Modules")->horizontalHeaderItem(5)->text(),
              QStringLiteral("结果"));
    EXPECT_TRUE(Find<QLabel>(rollout_, "lbl_Summary")->text().startsWith(QStringLiteral("3 个模块")));
    if (!shots.isEmpty())
        rollout_->grab().save(shots + QStringLiteral("/rollout_cn.png"));
    win_->SetLanguage(false);
}

TEST_F(RolloutWindow, StopStartsNoNewModuleAndClosingWaitsForTheOnesInFlight) {
    ASSERT_NO_FATAL_FAILURE(Start(4));
    ClickRow(MacOfModule(0), Qt::NoModifier);
    // Ctrl+A selects every row.
    auto* list = Find<QTreeView>(win_.get(), "lv_Dev");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(win_->SelectedModules().size(), 4u);
    FirmwareUpgrade();
    ASSERT_TRUE(rollout_->isVisible());
    const std::map<QString, TSimState> before = Sim();

    // One at a time, an image large enough that the first transfer is still going when Stop comes.
    ASSERT_NO_FATAL_FAILURE(StartRollout(2 << 20, QStringLiteral("1")));
    const TRolloutJob& job = *rollout_->Job();
    ASSERT_TRUE(PumpUntil(
        [&] {
            return !job.Modules().empty() && job.Modules()[0].Stage == TRolloutStage::Upgrade &&
                   job.Modules()[0].Percent > 0;
        },
        60000));

    if (const QString shots = qEnvironmentVariable("VARNIX_ROLLOUT_SHOTS"); !shots.isEmpty()) {
        PumpUntil([] { return false; }, 300); // a redraw of the lines
        rollout_->grab().save(shots + QStringLiteral("/rollout_running_en.png"));
    }
    // Closing while a module is in flight asks; No leaves everything running.
    prompts_.NextQuestion(false);
    rollout_->close();
    ASSERT_EQ(prompts_.Shown().size(), 1u);
    EXPECT_EQ(prompts_.Shown().back().kind, TScriptedPrompts::Kind::Question);
    EXPECT_TRUE(rollout_->isVisible());
    EXPECT_TRUE(rollout_->Running());
    // The main window does not close under a running rollout either.
    prompts_.NextQuestion(false);
    win_->close();
    EXPECT_TRUE(win_->isVisible());

    QTest::mouseClick(Find<QPushButton>(rollout_, "btn_Stop"), Qt::LeftButton);
    EXPECT_TRUE(rollout_->Running()); // the module in flight goes on
    // Yes: the window closes once that module has ended, not before.
    prompts_.NextQuestion(true);
    rollout_->close();
    EXPECT_TRUE(rollout_->isVisible());
    ASSERT_TRUE(PumpUntil([&] { return !rollout_->Running(); }, 240000));
    ASSERT_TRUE(PumpUntil([&] { return !rollout_->isVisible(); }, 2000));

    const std::map<QString, TSimState> after = Sim();
    const QString first = QString::fromStdString(job.Modules()[0].Mac);
    EXPECT_EQ(job.Modules()[0].Outcome, TRolloutOutcome::Done) << job.Modules()[0].Detail.toStdString();
    EXPECT_EQ(after.at(first).Firmware, 4018);
    EXPECT_EQ(after.at(first).Name, before.at(first).Name);
    for (int i = 1; i < 4; ++i) {
        const QString mac = QString::fromStdString(job.Modules()[static_cast<std::size_t>(i)].Mac);
        EXPECT_EQ(job.Modules()[static_cast<std::size_t>(i)].Outcome, TRolloutOutcome::NotStarted)
            << mac.toStdString();
        EXPECT_TRUE(Cell(i, 5).startsWith(
            context_->Text(QStringLiteral("lang_Rollout_NotStarted")).section(u'%', 0, 0)))
            << Cell(i, 5).toStdString();
        // Untouched: no upgrade, no reset, nothing written.
        EXPECT_EQ(after.at(mac).Upgrades, 0) << mac.toStdString();
        EXPECT_EQ(after.at(mac).Resets, 0) << mac.toStdString();
        EXPECT_EQ(after.at(mac).Writes, before.at(mac).Writes) << mac.toStdString();
        EXPECT_EQ(after.at(mac).Firmware, 4017) << mac.toStdString();
    }
}

// The options as typed: every refusal names its control and the text refused, and a form the job
// can use arrives whole (no field read into another's place).
TEST(RolloutForm, OptionsAreCheckedBeforeAnythingIsSent) {
    QTemporaryDir dir;
    TAppContext context(dir.path());
    const TTexts texts(context.Lang());
    const QString image = dir.filePath(QStringLiteral("fw.bin")),
                  stub = dir.filePath(QStringLiteral("stub.bin"));
    for (const auto& [path, bytes] : {std::pair{image, QByteArray("\x5A\x32\x10\x07 body", 9)},
                                      std::pair{stub, QByteArray("\x5A\x32\x10", 3)}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    TRolloutForm good{image,
                      QStringLiteral(" 10.9.0.1 "),
                      QStringLiteral("3"),
                      QStringLiteral("1"),
                      QStringLiteral("4018"),
                      QStringLiteral("10.9.0.200-10.9.0.201"),
                      QStringLiteral("adm:p:w"),
                      false};
    const auto o = RolloutOptionsOf(good);
    ASSERT_TRUE(o) << o.Error().Message;
    EXPECT_EQ(o->LocalIP, "10.9.0.1");
    EXPECT_EQ(o->Parallel, 3);
    EXPECT_EQ(o->Canary, 1);
    EXPECT_EQ(o->ExpectFirmware, 4018);
    ASSERT_TRUE(o->Pool.has_value());
    EXPECT_EQ(o->Pool->Last - o->Pool->First, 1u);
    EXPECT_EQ(o->FactoryLogin.User, "adm");
    EXPECT_EQ(o->FactoryLogin.Password, "p:w"); // only the first colon splits
    EXPECT_FALSE(o->KeepConfig);
    ASSERT_NE(o->Image, nullptr);
    EXPECT_EQ(o->Image->size(), 9u);

    struct TCase {
        QString TRolloutForm::*Member;
        QString Text;
        std::string Field;
    };
    const TCase cases[] = {
        {&TRolloutForm::Parallel, QStringLiteral("0"), "parallel"},
        {&TRolloutForm::Parallel, QStringLiteral("257"), "parallel"},
        {&TRolloutForm::Parallel, QStringLiteral("2x"), "parallel"},
        {&TRolloutForm::Canary, QStringLiteral("-1"), "canary"},
        {&TRolloutForm::Expect, QStringLiteral("65536"), "expect"},
        {&TRolloutForm::Local, QStringLiteral("10.9.0"), "local"},
        {&TRolloutForm::Local, QStringLiteral("10.9.0.\u0661"), "local"},
        {&TRolloutForm::Pool, QStringLiteral("10.9.0.201-10.9.0.200"), "pool"},
        {&TRolloutForm::Pool, QStringLiteral("10.9.0.1-10.9.1.255"), "pool"},
        {&TRolloutForm::Pool, QStringLiteral("10.9.0.200"), "pool"},
        {&TRolloutForm::FactoryLogin, QStringLiteral("vesta"), "factoryLogin"},
        {&TRolloutForm::FactoryLogin, QStringLiteral("vesta:seven77"), "factoryLogin"},
        {&TRolloutForm::FactoryLogin, QStringLiteral("\u7BA1\u7406\u5458\u4E00:x"), "factoryLogin"},
        {&TRolloutForm::ImageFile, dir.filePath(QStringLiteral("none.bin")), "image"},
        {&TRolloutForm::ImageFile, QString(), "image"},
        {&TRolloutForm::ImageFile, dir.path(), "image"},
        {&TRolloutForm::ImageFile, stub, "signature"},
    };
    for (const TCase& c : cases) {
        TRolloutForm form = good;
        form.*c.Member = c.Text;
        const auto r = RolloutOptionsOf(form);
        ASSERT_FALSE(r) << c.Text.toStdString();
        EXPECT_EQ(r.Error().Field, c.Field) << c.Text.toStdString();
        // The window's text shows what was refused (an unreadable image: the reader's reason).
        if (c.Field != "image") {
            EXPECT_TRUE(FormErrorText(texts, r.Error()).contains(c.Text))
                << FormErrorText(texts, r.Error()).toStdString();
        }
    }
}

} // namespace
