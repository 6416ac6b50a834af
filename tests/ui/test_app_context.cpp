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
} // namespace

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
    Tfrm_Upgrade upgrade(context, {&prompts, [] { return std::vector<std::string>{"127.0.0.1"}; }});
    EXPECT_EQ(upgrade.upgradeIP(), u"10.0.0.7");
    EXPECT_EQ(upgrade.upgradeMAC(), u"00 1A 2B 3C 4D 5E");
    EXPECT_EQ(upgrade.upgradeFileName(), u"/fw/z2.bin");
    Tfrm_DataDebug debug(context, {home.path(), &prompts, true});
    EXPECT_EQ(debug.CmdFilePath(), list);
}
