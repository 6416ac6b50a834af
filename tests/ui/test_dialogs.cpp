// The password dialog, the about box and the single-instance guard.

#include "app/run_once.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

TEST(PswdDialog, EditsTheLogInTextsOnOkOnly) {
    TWindowHarness h;
    const TLoginText& login = h.Context->Login();
    TFrm_Pswd dialog(*h.Context);
    auto* user = dialog.findChild<QLineEdit*>(QStringLiteral("edt_UsrName"));
    auto* pass = dialog.findChild<QLineEdit*>(QStringLiteral("edt_Paswd"));
    EXPECT_EQ(user->text(), u"vesta");
    EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(user->toolTip(), u"输入位数不能超过6字节");
    EXPECT_EQ(dialog.windowTitle(), u"User config");

    // The edits take five characters.
    user->clear();
    QTest::keyClicks(user, QStringLiteral("admin1"));
    EXPECT_EQ(user->text(), u"admin");

    // Cancel keeps the log-in texts; the typed text stays for the next showing.
    dialog.ShowModal();
    dialog.findChild<QPushButton*>(QStringLiteral("btn_Cancel"))->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(login.UserName, u"vesta");
    dialog.ShowModal();
    EXPECT_EQ(user->text(), u"admin");

    // Five Chinese characters fit the edit but are ten bytes: OK refuses them and says which
    // field, instead of sending a name cut to three characters.
    user->setText(QStringLiteral("用户名称长"));
    dialog.findChild<QPushButton*>(QStringLiteral("btn_OK"))->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(login.UserName, u"vesta");
    auto* refused = dialog.findChild<QLabel*>(QStringLiteral("lbl_Refused"));
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->isVisibleTo(&dialog));
    EXPECT_TRUE(
        refused->text().startsWith(QStringLiteral("The user name may hold at most 6 bytes (10 given")))
        << refused->text().toStdString();
    user->setText(QStringLiteral("admin"));

    // OK stores both, an empty password included.
    pass->clear();
    dialog.findChild<QPushButton*>(QStringLiteral("btn_OK"))->click();
    EXPECT_EQ(login.UserName, u"admin");
    EXPECT_EQ(login.Password, QString());
}

TEST(PswdDialog, TheMenuItemShowsItOnceAndCommandsCarryTheNewName) {
    TWindowHarness h;
    h.SearchWith({{{10, 0, 0, 50}, {0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 4017, "Line-1", 1500}});
    h.Find<QAction>("mni_Pswd")->trigger();
    h.Find<QAction>("mni_Pswd")->trigger();
    EXPECT_TRUE(h.Pswd->isVisible());
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TFrm_Pswd*>(w) != nullptr && w->isVisible())
            ++shown;
    EXPECT_EQ(shown, 1);
    h.Pswd->findChild<QLineEdit*>(QStringLiteral("edt_UsrName"))->setText(QStringLiteral("ab c"));
    h.Pswd->findChild<QPushButton*>(QStringLiteral("btn_OK"))->click();
    h.ClickRow(0);
    const auto sent = h.Z2.Drain();
    ASSERT_EQ(sent.size(), 1u);
    // The user name field: spaces removed, padded with zeros to six bytes.
    EXPECT_EQ(TIdBytes(sent[0].begin() + 9, sent[0].begin() + 15), (TIdBytes{'a', 'b', 'c', 0, 0, 0}));
}

TEST(AboutBox, ShowsTheVersionAndNoWebAddress) {
    TWindowHarness h;
    h.Find<QAction>("mni_About")->trigger();
    EXPECT_TRUE(h.About->isVisible());
    EXPECT_EQ(h.About->windowTitle(), u"About");
    EXPECT_EQ(h.About->findChild<QLabel*>(QStringLiteral("lbl_version"))->text(), u" V" VARNIX_VERSION);
    EXPECT_EQ(h.About->findChild<QLabel*>(QStringLiteral("lbl_SoftName"))->text(), u"Name:  Varnix");
    EXPECT_FALSE(
        h.About->findChild<QLabel*>(QStringLiteral("lbl_Aboutl_Description"))->isVisibleTo(h.About.get()));
    auto* site = h.About->findChild<QLabel*>(QStringLiteral("lbl_About_Website"));
    EXPECT_TRUE(site->text().isEmpty());
    QTest::mouseClick(site, Qt::LeftButton);
    EXPECT_TRUE(h.Opened.empty());
    // With an address in the label a click opens it.
    site->setText(QStringLiteral("https://example.org/"));
    QTest::mouseClick(site, Qt::LeftButton);
    ASSERT_EQ(h.Opened.size(), 1u);
    EXPECT_EQ(h.Opened[0], QUrl(QStringLiteral("https://example.org/")));
    h.About->findChild<QPushButton*>(QStringLiteral("btn_About_Yes"))->click();
    EXPECT_FALSE(h.About->isVisible());
}

TEST(RunOnce, TheSecondCopyRaisesTheFirstAndQuits) {
    QTemporaryDir dir;
    TRunOnce first(dir.path());
    int raised = 0;
    QObject::connect(&first, &TRunOnce::RaiseRequested, [&raised] { ++raised; });
    EXPECT_FALSE(first.CheckRunOnce());
    {
        TRunOnce second(dir.path());
        EXPECT_TRUE(second.CheckRunOnce());
    }
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 3000));
    // Another program directory is another copy.
    QTemporaryDir other;
    TRunOnce elsewhere(other.path());
    EXPECT_FALSE(elsewhere.CheckRunOnce());
}

TEST(RunOnce, AfterTheFirstCopyEndsANewStartRunsNormally) {
    QTemporaryDir dir;
    {
        TRunOnce first(dir.path());
        ASSERT_FALSE(first.CheckRunOnce());
    }
    TRunOnce next(dir.path());
    EXPECT_FALSE(next.CheckRunOnce());
}

TEST(RunOnce, OfTwoProgramsStartedTogetherOneRuns) {
    const QString program = qEnvironmentVariable("VARNIX_PROGRAM");
    if (program.isEmpty())
        GTEST_SKIP() << "VARNIX_PROGRAM not set";
    QTemporaryDir home;
    // Loopback only, nothing sent: no search is made.
    const QStringList args = {QStringLiteral("--home"),      home.path(),
                              QStringLiteral("--local"),     QStringLiteral("127.0.0.1"),
                              QStringLiteral("--broadcast"), QStringLiteral("127.0.0.1")};
    QProcess a, b;
    a.start(program, args);
    b.start(program, args);
    ASSERT_TRUE(a.waitForStarted() && b.waitForStarted());
    // The one that lost exits by itself with status 0; the other keeps running.
    QProcess* loser = nullptr;
    for (int i = 0; i < 100 && loser == nullptr; ++i) {
        if (a.waitForFinished(50))
            loser = &a;
        else if (b.waitForFinished(50))
            loser = &b;
    }
    ASSERT_NE(loser, nullptr) << "neither copy gave way";
    EXPECT_EQ(loser->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(loser->exitCode(), 0);
    QProcess* winner = loser == &a ? &b : &a;
    EXPECT_FALSE(winner->waitForFinished(500));
    EXPECT_EQ(winner->state(), QProcess::Running);
    winner->terminate();
    winner->waitForFinished(3000);
}
