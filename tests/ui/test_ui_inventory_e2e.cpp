// Replacing a module through the window, against varnix-sim on a segment of its own
// (tests/netns-run --segments 1), by the keyboard alone: a module is configured and saved (its
// verified read-back is stored in varnix.db), it fails and a factory-fresh one takes its place;
// on the new one's row "Replace module" picks the old one from the inventory, shows what changes,
// asks naming the new module and writes. Read back, the new module holds every field of the old
// one but the MAC.

#include "core/convert.h"
#include "lang/text_codec.h"
#include "model/fields.h"
#include "sim_process.h"
#include "ui/main/device_list_model.h"
#include "ui/main/lan_link.h"
#include "ui/main/restore_dialog.h"
#include "window_harness.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

const char* kOld = "00 1A 2B 3C 4D 5E";
const char* kNew = "00 1A 2B 3C 4D 77";

QJsonObject Z2(const char* mac, const char* ip, const char* name) {
    return {{QStringLiteral("family"), QStringLiteral("z2")},
            {QStringLiteral("mac"), QString::fromLatin1(mac)},
            {QStringLiteral("ip"), QString::fromLatin1(ip)},
            {QStringLiteral("name"), QString::fromLatin1(name)},
            {QStringLiteral("firmware"), 4017}};
}

class WindowReplace : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qEnvironmentVariable("VARNIX_NS_TOPOLOGY"), u"segments")
            << "run through tests/netns-run --segments 1";
    }

    // The simulator with this one module, a window on the shared program directory, a search.
    void Start(const QJsonObject& module) {
        win_.reset();
        context_.reset();
        sim_.reset();
        QFile config(simDir_.filePath(QStringLiteral("config.json")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(QJsonDocument(QJsonObject{{QStringLiteral("modules"), QJsonArray{module}}}).toJson());
        config.close();
        sim_ = std::make_unique<TSimProcess>(
            SegmentSimArgs({QStringLiteral("--config"), config.fileName(), QStringLiteral("--state"),
                            simDir_.filePath(QStringLiteral("state.json"))}));
        ASSERT_TRUE(sim_->Ready()) << sim_->ErrorText().toStdString();
        context_ = std::make_unique<TAppContext>(home_.path());
        win_ = std::make_unique<TFrm_Main>(*context_, SimWindowOptions(home_.path(), prompts_));
        win_->show();
        auto* search = Find<QPushButton>("btn_Search");
        search->setFocus();
        QTest::keyClick(search, Qt::Key_Space);
        ASSERT_TRUE(PumpUntil([&] { return win_->DeviceCount() == 1; }, 5000)) << win_->DeviceCount();
    }

    template <typename T = QWidget> T* Find(const char* name) {
        T* w = win_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // The only row, read by the keyboard (Space on the current row).
    void ReadRow(const char* mac) {
        auto* list = Find<QTreeView>("lv_Dev");
        list->setFocus();
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Space);
        ASSERT_TRUE(PumpUntil(
            [&] {
                const auto& r = win_->LanLink().LastRead();
                return !win_->LanLink().Reading() && r && MacKey(r->Settings.Base.UserMAC) == MacKey(mac);
            },
            5000));
    }

    // Waits for a save's one-line result; whether it was verified.
    bool SaveResult() {
        const QString verified = context_->Text("lang_Hint_SaveVerified").section(u'%', 0, 0);
        QString last;
        EXPECT_TRUE(PumpUntil(
            [&] {
                win_->FlushPending();
                const auto lines = PaneLines(Find<QPlainTextEdit>("redt_Log"));
                last = lines.empty() ? QString() : lines.back().Text;
                return last.startsWith(verified) || last.startsWith(QStringLiteral("Not verified"));
            },
            20000))
            << last.toStdString();
        return last.startsWith(verified);
    }

    QTemporaryDir simDir_, home_;
    std::unique_ptr<TSimProcess> sim_;
    TScriptedPrompts prompts_;
    std::unique_ptr<TAppContext> context_;
    std::unique_ptr<TFrm_Main> win_;
};

TEST_F(WindowReplace, TheNewModuleTakesEveryFieldOfTheOldButTheMac) {
    // The old module, configured away from its factory values and saved: its verified read-back
    // is its newest snapshot.
    ASSERT_NO_FATAL_FAILURE(Start(Z2(kOld, "192.168.0.60", "Old-1")));
    ASSERT_NO_FATAL_FAILURE(ReadRow(kOld));
    Find<QLineEdit>("edt_ModName")->setText(QStringLiteral("Press-9"));
    Find<QLineEdit>("edt_LocalPort0")->setText(QStringLiteral("9001"));
    Find<QComboBox>("RzComboBox2")->setCurrentIndex(3);
    Find<QLineEdit>("edtDid")->setText(QStringLiteral("98765432109876543210"));
    Find<QComboBox>("cbb_WorkMode0")->setCurrentIndex(4);
    Find<QLineEdit>("LabeledEdit2")->setText(QStringLiteral("/post"));
    auto* save = Find<QPushButton>("btn_Z2NetSet");
    save->setFocus();
    QTest::keyClick(save, Qt::Key_Space);
    ASSERT_TRUE(SaveResult());
    ASSERT_TRUE(win_->LanLink().LastRead());
    const TModuleSettings old = win_->LanLink().LastRead()->Settings;
    ASSERT_EQ(BytesToDisplay(old.Base.ModName), QStringLiteral("Press-9"));

    // It fails; a fresh module answers in its place (the window's inventory is written through
    // before the window goes).
    ASSERT_NO_FATAL_FAILURE(Start(Z2(kNew, "192.168.0.61", "Fresh")));
    ASSERT_NO_FATAL_FAILURE(ReadRow(kNew));
    const TModuleSettings fresh = win_->LanLink().LastRead()->Settings;

    auto* list = Find<QTreeView>("lv_Dev");
    QTest::keyClick(list, Qt::Key_Menu);
    QMenu* menu = win_->PopupMenu();
    ASSERT_TRUE(PumpUntil([&] { return menu->isVisible(); }, 1000));
    ASSERT_TRUE(menu->findChild<QAction*>(QStringLiteral("mni_Replace"))->isEnabled());
    QTest::keyClick(menu, Qt::Key_P);
    auto* dialog = win_->findChild<TRestoreDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* sources = dialog->findChild<QTreeWidget*>(QStringLiteral("lv_RestoreSources"));
    auto* changes = dialog->findChild<QTreeWidget*>(QStringLiteral("lv_RestoreChanges"));
    auto* write = dialog->findChild<QPushButton*>(QStringLiteral("btn_RestoreWrite"));
    // The inventory's other module is offered, the new module itself is not.
    ASSERT_TRUE(PumpUntil([&] { return sources->topLevelItemCount() > 0; }, 3000));
    ASSERT_EQ(sources->topLevelItemCount(), 1);
    EXPECT_EQ(sources->topLevelItem(0)->text(0), QString::fromLatin1(kOld));
    // The first row is chosen as the list arrives, whatever the focus did meanwhile.
    EXPECT_EQ(sources->currentItem(), sources->topLevelItem(0));
    sources->setFocus();
    QTest::keyClick(sources, Qt::Key_Down);
    ASSERT_TRUE(PumpUntil([&] { return write->isEnabled(); }, 3000));
    // Field, stored value, current value; the MAC is not among them.
    std::map<QString, std::pair<QString, QString>> shown;
    for (int i = 0; i < changes->topLevelItemCount(); ++i)
        shown[changes->topLevelItem(i)->text(0)] = {changes->topLevelItem(i)->text(1),
                                                    changes->topLevelItem(i)->text(2)};
    EXPECT_EQ(shown[QStringLiteral("ModName")],
              std::make_pair(QStringLiteral("Press-9"), QStringLiteral("Fresh")));
    EXPECT_EQ(shown[QStringLiteral("StaticIP")],
              std::make_pair(QStringLiteral("192.168.0.60"), QStringLiteral("192.168.0.61")));
    EXPECT_EQ(shown.count(QStringLiteral("UserMAC")), 0u);
    EXPECT_EQ(static_cast<qsizetype>(shown.size()), DiffSettings(fresh, old).size() - 1);

    // Asked first, naming the module written to; the first answer is Cancel and nothing is sent.
    QTest::keyClick(write, Qt::Key_Space);
    ASSERT_FALSE(prompts_.Shown().empty());
    const TScriptedPrompts::TStep asked = prompts_.Shown().back();
    EXPECT_EQ(asked.kind, TScriptedPrompts::Kind::Confirm);
    for (const char* part : {"192.168.0.61", "Fresh", kNew, kOld})
        EXPECT_TRUE(asked.text.contains(QLatin1String(part))) << part << " in " << asked.text.toStdString();
    EXPECT_TRUE(dialog->isVisible());
    prompts_.NextQuestion(true);
    QTest::keyClick(write, Qt::Key_Space);
    ASSERT_TRUE(SaveResult());

    // Read back under its own MAC: every field of the old module but the MAC.
    ASSERT_NO_FATAL_FAILURE(ReadRow(kNew));
    const TModuleSettings now = win_->LanLink().LastRead()->Settings;
    QStringList differ;
    for (const TFieldChange& c : DiffSettings(old, now))
        differ << c.Field->Name;
    EXPECT_EQ(differ, QStringList{QStringLiteral("UserMAC")});
    EXPECT_EQ(MacKey(now.Base.UserMAC), MacKey(kNew));

    // "Restore configuration" takes it back to its first snapshot, the factory-fresh one: its
    // snapshots newest first, the oldest chosen by the keyboard.
    QTest::keyClick(list, Qt::Key_Menu);
    ASSERT_TRUE(PumpUntil([&] { return menu->isVisible(); }, 1000));
    QTest::keyClick(menu, Qt::Key_T);
    TRestoreDialog* restore = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (auto* d : win_->findChildren<TRestoreDialog*>())
                if (d->isVisible())
                    restore = d;
            return restore != nullptr;
        },
        1000));
    sources = restore->findChild<QTreeWidget*>(QStringLiteral("lv_RestoreSources"));
    write = restore->findChild<QPushButton*>(QStringLiteral("btn_RestoreWrite"));
    ASSERT_TRUE(PumpUntil([&] { return sources->topLevelItemCount() == 2; }, 3000))
        << sources->topLevelItemCount();
    EXPECT_GT(sources->topLevelItem(0)->text(0), sources->topLevelItem(1)->text(0));
    sources->setFocus();
    QTest::keyClick(sources, Qt::Key_End);
    ASSERT_TRUE(PumpUntil([&] { return write->isEnabled(); }, 3000));
    const QString notes = restore->findChild<QLabel*>(QStringLiteral("lbl_RestoreNotes"))->text();
    prompts_.NextQuestion(true);
    QTest::keyClick(write, Qt::Key_Space);
    ASSERT_TRUE(SaveResult());
    ASSERT_NO_FATAL_FAILURE(ReadRow(kNew));
    // Every field is back, but for the device number and the HTTP URL: with the cloud and the
    // HTTP client switched off again, the save sends neither block (as a page's save does not),
    // and the dialog said so before anything was written.
    QStringList back;
    for (const TFieldChange& c : DiffSettings(fresh, win_->LanLink().LastRead()->Settings)) {
        back << c.Field->Name;
        EXPECT_TRUE(notes.contains(c.Field->Name))
            << c.Field->Name.toStdString() << " in " << notes.toStdString();
    }
    EXPECT_EQ(back, (QStringList{QStringLiteral("DeviceNo"), QStringLiteral("HttpdURL")}));
}

} // namespace
