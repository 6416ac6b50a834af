// The application context: two contexts share nothing, and each window keeps its own settings
// keys in the context's file without the main window.

#include "debug/cmd_file.h"
#include "ui/debug/data_debug.h"
#include "ui/upgrade/upgrade_window.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

QByteArray IniBytes(const QString& home) {
    QFile f(home + QStringLiteral("/Cfg.ini"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whether a help event on `widget` puts a hint on screen.
bool HintShows(QWidget* widget) {
    QToolTip::hideText(); // hides after a short fade
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
    QHelpEvent e(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(widget, &e);
    const bool shown = QToolTip::isVisible();
    QToolTip::hideText();
    return shown;
}

} // namespace

TEST(AppContext, TwoContextsShareNothing) {
    TWindowHarness english(false);
    TWindowHarness chinese(true);
    auto* enSearch = english.Find<QPushButton>("btn_Search");
    auto* cnSearch = chinese.Find<QPushButton>("btn_Search");
    EXPECT_EQ(enSearch->text(), u"Search Device");
    EXPECT_EQ(cnSearch->text(), QString::fromUtf8("搜索设备"));

    // A language switch in one program changes its own windows and file only.
    english.Win().SetLanguage(true);
    chinese.Win().SetLanguage(false);
    EXPECT_EQ(enSearch->text(), QString::fromUtf8("搜索设备"));
    EXPECT_EQ(cnSearch->text(), u"Search Device");
    EXPECT_EQ(english.Pswd->windowTitle(), english.Context->Text("lang_Log_Title"));
    EXPECT_NE(english.Pswd->windowTitle(), chinese.Pswd->windowTitle());
    EXPECT_TRUE(IniBytes(english.Home()).contains("Language=1"));
    EXPECT_TRUE(IniBytes(chinese.Home()).contains("Language=0"));

    // Hints switched off in one program stay on in the other, dialogs included.
    english.Find<QAction>("mni_Hint")->trigger();
    EXPECT_FALSE(english.Win().HintsEnabled());
    EXPECT_TRUE(chinese.Win().HintsEnabled());
    english.Pswd->show();
    chinese.Pswd->show();
    auto* enEdit = english.Pswd->findChild<QWidget*>(QStringLiteral("edt_UsrName"));
    auto* cnEdit = chinese.Pswd->findChild<QWidget*>(QStringLiteral("edt_UsrName"));
    EXPECT_FALSE(HintShows(enEdit));
    EXPECT_TRUE(HintShows(cnEdit));

    // A log-in taken in one program is not carried by the other's commands.
    english.Pswd->findChild<QLineEdit*>(QStringLiteral("edt_UsrName"))->setText(QStringLiteral("abc"));
    english.Pswd->findChild<QPushButton*>(QStringLiteral("btn_OK"))->click();
    EXPECT_EQ(english.Context->Login().UserName, u"abc");
    EXPECT_EQ(chinese.Context->Login().UserName, u"vesta");
}

TEST(AppContext, EachWindowKeepsItsOwnKeysWithoutTheMainWindow) {
    QTemporaryDir home;
    const QString list = home.filePath(QStringLiteral("mine.txt"));
    ASSERT_TRUE(WriteCmdFile(list, {{true, QStringLiteral("n"), QStringLiteral("c"), false, QString()}}));
    TScriptedPrompts prompts;
    {
        TAppContext context(home.path());
        TFrm_Pswd pswd(context);
        pswd.findChild<QLineEdit*>(QStringLiteral("edt_UsrName"))->setText(QStringLiteral("tech"));
        pswd.findChild<QLineEdit*>(QStringLiteral("edt_Paswd"))->setText(QStringLiteral("pw;1"));
        pswd.findChild<QPushButton*>(QStringLiteral("btn_OK"))->click();

        TUpgradeWindowOptions upgradeOptions;
        upgradeOptions.Prompts = &prompts;
        upgradeOptions.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
        Tfrm_Upgrade upgrade(context, upgradeOptions);
        upgrade.Open(QStringLiteral("10.0.0.7"), QStringLiteral("00 1A 2B 3C 4D 5E"));
        upgrade.setUpgradeFileName(QStringLiteral("/fw/z2.bin"));
        upgrade.findChild<QPushButton*>(QStringLiteral("btn_Exit"))->click();

        Tfrm_DataDebug debug(context, {home.path(), &prompts, true});
        prompts.NextOpenFile(list);
        debug.findChild<QPushButton*>(QStringLiteral("btnImport"))->click();
        debug.close();
    }
    for (const auto& m : prompts.Messages())
        ADD_FAILURE() << m.text.toStdString();
    // Each window wrote its keys, and no window wrote another's (no main window ran).
    const QByteArray ini = IniBytes(home.path());
    for (const char* key : {"Language=", "RealTimeHelp=", "LocalCom=", "ZNum="})
        EXPECT_FALSE(ini.contains(key)) << key;

    // The next run's windows read them back, again without a main window.
    TAppContext context(home.path());
    TFrm_Pswd pswd(context);
    EXPECT_EQ(context.Login().UserName, u"tech");
    EXPECT_EQ(context.Login().Password, u"pw;1");
    EXPECT_EQ(pswd.findChild<QLineEdit*>(QStringLiteral("edt_UsrName"))->text(), u"tech");
    Tfrm_Upgrade upgrade(context, {&prompts, [] { return std::vector<std::string>{"127.0.0.1"}; }, {}});
    EXPECT_EQ(upgrade.upgradeIP(), u"10.0.0.7");
    EXPECT_EQ(upgrade.upgradeMAC(), u"00 1A 2B 3C 4D 5E");
    EXPECT_EQ(upgrade.upgradeFileName(), u"/fw/z2.bin");
    Tfrm_DataDebug debug(context, {home.path(), &prompts, true});
    EXPECT_EQ(debug.CmdFilePath(), list);
}
