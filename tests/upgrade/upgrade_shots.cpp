// Writes screenshots of the upgrade window (English and Chinese, idle and during a run) to the
// directory given as the first argument. Not a test: a tool for looking at the layout.
#include "../dark_palette.h"
#include "lang/app_lang.h"
#include "ui/common/prompts.h"
#include "ui/upgrade/upgrade_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <cerrno>

using namespace varnix;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    test::UseDarkPaletteIfAsked();
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/shots");
    QDir().mkpath(dir);
    QTemporaryDir home;
    TAppContext context(home.path());
    TScriptedPrompts prompts;
    for (const bool chinese : {false, true}) {
        context.Lang().IsChinese = chinese;
        TUpgradeWindowOptions o;
        o.Prompts = &prompts;
        o.LocalAddresses = [] { return std::vector<std::string>{"192.168.0.10", "10.77.0.1"}; };
        // The check before Program sees a PC of the picture's own: every port free at first.
        int refusal = 0;
        TUpgradeHost host;
        host.LocalAddresses = o.LocalAddresses;
        host.ProgramPath = "/usr/bin/varnix";
        host.TryBind = [&refusal](std::uint32_t, std::uint16_t port) {
            if (refusal == 1 && port < 1024)
                return port == 67 ? EADDRINUSE : EACCES;
            return 0;
        };
        o.Host = host;
        Tfrm_Upgrade w(context, o);
        w.setUpgradeFileName(QStringLiteral("/home/tech/firmware/vorz2-4017.bin"));
        w.Open(QStringLiteral("192.168.0.7"), QStringLiteral("00 1A 2B 3C 4D 5E"));
        const QString lang = chinese ? QStringLiteral("cn") : QStringLiteral("en");
        QApplication::processEvents();
        w.grab().save(dir + QStringLiteral("/upgrade-idle-") + lang + QStringLiteral(".png"));
        // A run in progress: what the window shows after block 120 of a 256 KiB image.
        w.findChild<QLabel*>(QStringLiteral("lbl_Info"))
            ->setText(context.Text("lang_Hint_UpProgress") + QStringLiteral("23%"));
        w.findChild<QProgressBar*>(QStringLiteral("pb1"))->setValue(23);
        w.findChild<QPushButton*>(QStringLiteral("btn_Program"))->setEnabled(false);
        w.findChild<QPushButton*>(QStringLiteral("btn_Exit"))->setEnabled(false);
        QApplication::processEvents();
        w.grab().save(dir + QStringLiteral("/upgrade-run-") + lang + QStringLiteral(".png"));
        // A port that cannot be used.
        w.findChild<QLabel*>(QStringLiteral("lbl_Info"))
            ->setText(context.Text("lang_Hint_Upfailed") + QStringLiteral(" ") +
                      EndpointErrorText({67, EACCES}, QStringLiteral("192.168.0.10"),
                                        [&context](const QString& key) { return context.Text(key); }));
        w.findChild<QProgressBar*>(QStringLiteral("pb1"))->setValue(0);
        QApplication::processEvents();
        w.grab().save(dir + QStringLiteral("/upgrade-port-") + lang + QStringLiteral(".png"));
        // The check with ports refused or held, then with no address on the module's network.
        w.findChild<QLabel*>(QStringLiteral("lbl_Info"))->clear();
        w.findChild<QPushButton*>(QStringLiteral("btn_Program"))->setEnabled(true);
        w.findChild<QPushButton*>(QStringLiteral("btn_Exit"))->setEnabled(true);
        refusal = 1;
        w.CheckReadiness();
        QApplication::processEvents();
        w.grab().save(dir + QStringLiteral("/upgrade-check-ports-") + lang + QStringLiteral(".png"));
        refusal = 0;
        w.findChild<QLineEdit*>(QStringLiteral("edt_IP"))->setText(QStringLiteral("172.16.5.20"));
        w.findChild<QComboBox*>(QStringLiteral("cbbSvrIP"))->setCurrentText(QString());
        w.CheckReadiness();
        QApplication::processEvents();
        w.grab().save(dir + QStringLiteral("/upgrade-check-network-") + lang + QStringLiteral(".png"));
        w.hide();
    }
    return 0;
}
