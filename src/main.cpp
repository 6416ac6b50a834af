// Program entry: options, the single-instance guard, the application context, then the windows
// in their start-up order (main window, about box, password dialog, upgrade window, rollout
// window, debugging window) and the event loop until the main window closes.

#include "app/about_dialog.h"
#include "app/app_context.h"
#include "app/app_paths.h"
#include "app/pswd_dialog.h"
#include "app/quit_signals.h"
#include "app/run_once.h"
#include "app/settings.h"
#include "core/convert.h"
#include "lan/local_addresses.h"
#include "lang/error_text.h"
#include "ui/common/app_icon.h"
#include "ui/common/app_style.h"
#include "ui/common/startup_probe.h"
#include "ui/main/main_window.h"
#include "ui/upgrade/upgrade_window.h"
#ifdef VARNIX_HAS_ROLLOUT_WINDOW
#include "app/login.h"
#include "lang/text_codec.h"
#include "ui/main/lan_link.h"
#include "ui/rollout/rollout_window.h"
#endif
#ifdef VARNIX_HAS_INVENTORY_WINDOW
#include "inventory/inventory_db.h"
#include "ui/inventory/inventory_window.h"
#include "ui/main/window_inventory.h"
#endif
#ifdef VARNIX_HAS_DEBUG_WINDOW
#include "ui/debug/data_debug.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QToolTip>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace varnix;

namespace {

void DefineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Finds serial-to-Ethernet modules on the LAN and reads and writes their parameters."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("home"),
                      QStringLiteral("Keep Cfg.ini, Lang.txt and exported lists in DIR."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("loopback"),
                      QStringLiteral("Include loopback interfaces among the local addresses.")});
    parser.addOption({QStringLiteral("broadcast"),
                      QStringLiteral("Send every LAN datagram to ADDR instead of 255.255.255.255."),
                      QStringLiteral("ADDR")});
    // varnix-cli calls the same address --interface; --local is this option's older name.
    parser.addOption(
        {QStringList{QStringLiteral("interface"), QStringLiteral("local")},
         QStringLiteral("Bind only these local IPv4 addresses (comma-separated) instead of every "
                        "interface's."),
         QStringLiteral("ADDRS")});
}

// An address of the command line in its canonical form, read by the one IPv4 parser.
std::optional<std::string> IPv4Argument(const QString& text) {
    // Latin-1 turns a character outside it into '?', which the parser refuses.
    const std::optional<std::uint32_t> ip = ParseIPv4Text(text.toLatin1().toStdString());
    return ip ? std::optional<std::string>(IntToIPText(*ip)) : std::nullopt;
}

bool WantsHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "--help" || a == "-?" || a == "-v" || a == "--version" || a == "--help-all")
            return true;
    }
    return false;
}

// Hints: the window-background balloon of the desktop, in a small font.
void StyleHints() {
    QPalette pal = QToolTip::palette();
    pal.setColor(QPalette::ToolTipBase, QApplication::palette().color(QPalette::HighlightedText));
    pal.setColor(QPalette::ToolTipText, QApplication::palette().color(QPalette::WindowText));
    QToolTip::setPalette(pal);
    QFont f = QToolTip::font();
    f.setPixelSize(11);
    QToolTip::setFont(f);
}

// The program's windows are laid out for a FormFontPixels font in the desktop's family; the main
// window sets it on itself. It is the application's font too, before any window is made: uic builds a
// tab's page and a scroll box's contents without a parent, and under another application font
// every control in them would take a second font change as it moves into its window (each
// drop-down building its pop-up list for it), some 480 changes in the main window alone.
void UseFormFont() {
    QFont f = QApplication::font();
    f.setPixelSize(FormFontPixels);
    QApplication::setFont(f);
}

void ReportSaveError(const TStatus& saved) {
    if (!saved)
        std::fprintf(stderr, "varnix: %s\n", qPrintable(ErrorMessage(saved.Error())));
}

} // namespace

int main(int argc, char** argv) {
    if (WantsHelpOrVersion(argc, argv)) {
        // No display is needed to print these.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("varnix"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VARNIX_VERSION));
        QCommandLineParser parser;
        DefineOptions(parser);
        parser.process(core); // prints and exits
        return 0;
    }

    QApplication app(argc, argv);
    // Installed first: a signal that arrives while the window is still being built waits in the
    // pipe and closes the window once the event loop runs.
    TQuitSignals quitSignals;
    QApplication::setApplicationName(QStringLiteral("varnix"));
    QApplication::setApplicationVersion(QStringLiteral(VARNIX_VERSION));
    // The installed .desktop file's name (data/), so that a dock shows the window with its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.varnix.Varnix"));
    // Every window and dialog without an icon of its own shows the program's.
    QApplication::setWindowIcon(AppIcon());
    QCommandLineParser parser;
    DefineOptions(parser);
    parser.process(app);

    TMainOptions options;
    options.ProgramDir = ResolveProgramDir();
    options.Udp.IncludeLoopback = parser.isSet(QStringLiteral("loopback"));
    if (parser.isSet(QStringLiteral("broadcast"))) {
        const QString addr = parser.value(QStringLiteral("broadcast"));
        const std::optional<std::string> ip = IPv4Argument(addr);
        if (!ip) {
            std::fprintf(stderr, "varnix: --broadcast needs an IPv4 address, not '%s'\n", qPrintable(addr));
            return 2;
        }
        options.Udp.DestinationAddr = *ip;
    }

    if (parser.isSet(QStringLiteral("interface"))) {
        std::vector<std::string> locals;
        for (const QString& a : parser.value(QStringLiteral("interface")).split(u',', Qt::SkipEmptyParts)) {
            const std::optional<std::string> ip = IPv4Argument(a.trimmed());
            if (!ip) {
                std::fprintf(stderr, "varnix: --interface needs IPv4 addresses, not '%s'\n", qPrintable(a));
                return 2;
            }
            locals.push_back(*ip);
        }
        options.Udp.LocalAddresses = [locals] { return locals; };
    }

    TRunOnce guard(options.ProgramDir);
    if (guard.CheckRunOnce())
        return 0; // the running copy has been brought forward

    QApplication::setStyle(new TAppStyle(QApplication::style()->name()));
    // Before the hints' font, which it would clear.
    UseFormFont();
    StyleHints();

    // Shared by every window and made before them: each takes it by reference. After the
    // single-instance guard, since it removes the settings file's stale temporary files.
    TAppContext context(options.ProgramDir);
    // Windows made when first opened, children of the main window (which deletes them). Declared
    // before it: its closing steps and destructor ask the rollout window.
    Tfrm_Upgrade* upgrade = nullptr;
#ifdef VARNIX_HAS_ROLLOUT_WINDOW
    TRolloutWindow* rollout = nullptr;
#endif
#ifdef VARNIX_HAS_DEBUG_WINDOW
    Tfrm_DataDebug* dataDebug = nullptr;
#endif
#ifdef VARNIX_HAS_INVENTORY_WINDOW
    TInventoryWindow* inventory = nullptr;
#endif
    TFrm_Main mainWindow(context, options);
    TFrm_About about(context, &mainWindow);
    // The password dialog, the upgrade and the debugging window write their settings keys at the
    // end of the program (after the main window's, which it writes as it closes) in this order.
    TFrm_Pswd pswd(context, &mainWindow);
    mainWindow.AttachAbout(&about);
    mainWindow.AttachPswd(&pswd);
    mainWindow.AddTextsApplier([&about] { about.ApplyAboutTexts(); });
    mainWindow.AddTextsApplier([&pswd] { pswd.ApplyPswdTexts(); });
    // The upgrade, rollout and debugging windows are children of the main window (modal over it,
    // their hints follow its switch), each made when it is first opened: a start builds only what
    // it shows. Their settings keys are written here at the end of the program, in the order the
    // windows made at start wrote them (a window not made yet writes them back as read).
    TUpgradeWindowOptions upgradeOptions;
    upgradeOptions.LocalAddresses = [udp = options.Udp] {
        if (udp.LocalAddresses)
            return udp.LocalAddresses();
        std::vector<std::string> list;
        GetLocalIPList(list, udp.IncludeLoopback);
        return list;
    };
    const auto makeUpgrade = [&] {
        if (upgrade == nullptr)
            upgrade = new Tfrm_Upgrade(context, upgradeOptions, &mainWindow);
        return upgrade;
    };
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &mainWindow, [&] {
        ReportSaveError(upgrade != nullptr ? upgrade->SaveSettings()
                                           : SaveUpgradeSettings(context.Settings(),
                                                                 LoadUpgradeSettings(context.Settings())));
    });
    mainWindow.SetUpgradeOpener(
        [makeUpgrade](const QString& ip, const QString& mac) { makeUpgrade()->Open(ip, mac); });
    mainWindow.AddTextsApplier([&upgrade] {
        if (upgrade != nullptr)
            upgrade->ApplyUpgradeTexts();
    });
#ifdef VARNIX_HAS_ROLLOUT_WINDOW
    // Many rows selected: the rollout window, on the main window's lanes and clock.
    TRolloutWindowOptions rolloutOptions;
    rolloutOptions.Pool = &mainWindow.LanLink().Pool();
    rolloutOptions.Clock = &mainWindow.LanLink().Clock();
    rolloutOptions.Login = [&context] {
        return TLogin{DisplayToBytes(context.Login().UserName), DisplayToBytes(context.Login().Password)};
    };
    rolloutOptions.ProgramDir = options.ProgramDir;
    rolloutOptions.LocalAddresses = upgradeOptions.LocalAddresses;
    mainWindow.SetRolloutOpener([&](const std::vector<TFoundModule>& modules) {
        if (rollout == nullptr)
            rollout = new TRolloutWindow(context, rolloutOptions, &mainWindow);
        std::vector<TRolloutWindow::TTarget> targets;
        for (const TFoundModule& m : modules)
            targets.push_back({QString::fromStdString(m.Mac), BytesToDisplay(m.Ip), BytesToDisplay(m.Name)});
        rollout->Open(targets);
    });
    mainWindow.SetCloseGuard([&rollout] { return rollout == nullptr || rollout->MayClose(); });
    mainWindow.SetBeforeLanesGo([&rollout] {
        if (rollout != nullptr)
            rollout->Release();
    });
    mainWindow.AddTextsApplier([&rollout] {
        if (rollout != nullptr)
            rollout->ApplyRolloutTexts();
    });
#endif
#ifdef VARNIX_HAS_INVENTORY_WINDOW
    // File > Inventory: read on the main window's inventory worker thread, never on this one.
    mainWindow.SetInventoryOpener([&] {
        if (inventory == nullptr)
            inventory = new TInventoryWindow(
                context,
                [&mainWindow](std::function<void(TInventoryWindow::TRows)> done) {
                    mainWindow.Inventory().Ask<TInventoryWindow::TRows>(
                        [](TInventory* inv) -> TInventoryWindow::TRows {
                            if (inv == nullptr)
                                return TError{{}, {}, "the inventory could not be opened"};
                            return inv->Modules();
                        },
                        std::move(done));
                },
                &mainWindow);
        inventory->Open();
    });
    mainWindow.AddTextsApplier([&inventory] {
        if (inventory != nullptr)
            inventory->ApplyInventoryTexts();
    });
#endif
#ifdef VARNIX_HAS_DEBUG_WINDOW
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &mainWindow, [&dataDebug, &context] {
        ReportSaveError(SaveCmdFilePath(
            context.Settings(), dataDebug != nullptr ? dataDebug->CmdFilePath()
                                                     : LoadCmdFilePath(context.Settings(), QString())));
    });
    mainWindow.AddTextsApplier([&dataDebug] {
        if (dataDebug != nullptr)
            dataDebug->ApplyDataDebugTexts();
    });
    mainWindow.SetDataDebugOpener(
        [&dataDebug, &mainWindow, &context, &options](int workMode, const QString& remoteIP,
                                                      const QString& localPort, const QString& remotePort) {
            if (dataDebug == nullptr)
                dataDebug = new Tfrm_DataDebug(
                    context, TDataDebugOptions{options.ProgramDir, nullptr, options.Udp.IncludeLoopback},
                    &mainWindow);
            // The page shows the module last read; its row gives where it answers and which address
            // of this PC heard it.
            TDataDebugModule shown;
            const std::optional<TFoundModule> module = mainWindow.SelectedModule();
            if (module && MacKey(module->Mac) == MacKey(mainWindow.CurrentMac().toStdString()))
                shown = {QString::fromStdString(module->Ip), QString::fromStdString(module->Local)};
            dataDebug->ShowModal({workMode, remoteIP, localPort, remotePort}, shown);
        });
#endif

    QObject::connect(&guard, &TRunOnce::RaiseRequested, &mainWindow, &TFrm_Main::BringToFront);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        mainWindow.move(area.center() - mainWindow.rect().center());
    }
    // A termination signal closes the window as its Exit menu does: open modal dialogs are
    // dismissed first, then the window closes from the outer event loop (closing steps, settings
    // saved) and the program ends when it was the last window.
    // During a rollout the first signal stops it (no new module) and closes the program once the
    // modules in flight have ended; a second one closes at once (each module's configuration was
    // journalled before anything changed it, and a rerun resumes from there).
#ifdef VARNIX_HAS_ROLLOUT_WINDOW
    int rolloutSignals = 0;
#endif
    QObject::connect(&quitSignals, &TQuitSignals::Received, &mainWindow, [&](int sig) {
#ifdef VARNIX_HAS_ROLLOUT_WINDOW
        if (rollout != nullptr && rollout->Running()) {
            if (++rolloutSignals == 1) {
                std::fprintf(stderr,
                             "varnix: signal %d, stopping the rollout: closing once the modules in flight "
                             "have ended (again: at once)\n",
                             sig);
                rollout->StopThen([&mainWindow, rollout] {
                    rollout->close();
                    mainWindow.close();
                });
                return;
            }
            rollout->Release();
        }
#endif
        std::fprintf(stderr, "varnix: signal %d, closing\n", sig);
        for (int i = 0; i < 8; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal == &mainWindow)
                break;
            modal->close();
        }
        QMetaObject::invokeMethod(&mainWindow, &QWidget::close, Qt::QueuedConnection);
    });

    TStartupProbe::InstallIfAsked(mainWindow); // bench/bench_startup.py
    mainWindow.show();
    return QApplication::exec();
}
