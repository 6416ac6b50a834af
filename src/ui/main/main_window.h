#pragma once
// TFrm_Main: the program's working window. The left panel holds the two search tabs (LAN device
// list, serial controls) above the operation log and the hex stream; the right half holds the
// parameter pages, shown one at a time by the page mode. The window owns the UDP endpoint and
// routes its events to the panes, the device list and the pages.

#include "app/app_context.h"
#include "engine/module_ref.h"
#include "lan/udp_svr.h"
#include "model/module_settings.h"
#include "ui/common/prompts.h"
#include "ui/main/device_list_model.h"
#include "ui/main/pages/page_host.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QScrollArea;
class QLabel;
class QKeyEvent;
class QPushButton;

namespace Ui {
class TFrm_Main;
}

namespace varnix {

class TLogPane;
class TDeviceListModel;
class TFrm_About;
class TFrm_Pswd;
class TPageSet;
class TSerialLink;
class TLanLink;
class TClock;
class TSearchHealth;
class TWindowInventory;
enum class TRestoreMode;

// Everything the window takes from outside; tests replace the parts that reach the desktop.
struct TMainOptions {
    // Where Cfg.ini, Lang.txt and exported lists live (already resolved, see app_paths.h).
    QString ProgramDir;
    // The endpoint: destination address, loopback, ports, local address list.
    TUdpSvrOptions Udp;
    // Modal steps; the real dialogs when null. Must outlive the window.
    IUserPrompts* Prompts = nullptr;
    // Opens a web address in the desktop's browser; QDesktopServices::openUrl when empty.
    std::function<void(const QUrl&)> OpenUrl;
    // The clock of the export file name; the local time when empty.
    std::function<QDateTime()> Now;
    // The clock of the LAN and serial jobs (pauses, reply waits, verification); RealClock() when null. Must
    // outlive the window.
    TClock* Clock = nullptr;
    // How long a saved module has to answer again and read back what was sent.
    int VerifyTimeoutMs = 15000;
    // Default of the "Language" setting; the system language test when unset.
    std::optional<bool> SystemIsChinese;
};

class TFrm_Main final : public QMainWindow, public IPageHost {
    Q_OBJECT
public:
    // `context` must outlive the window; the window reads its own settings keys from it now and
    // writes them back when it closes.
    TFrm_Main(TAppContext& context, TMainOptions options, QWidget* parent = nullptr);
    ~TFrm_Main() override;

    // --- The other windows (created after this one, see main.cpp). ---
    void AttachAbout(TFrm_About* about) { about_ = about; }
    void AttachPswd(TFrm_Pswd* pswd) { pswd_ = pswd; }
    // A window whose texts a language switch re-applies, in the order added.
    void AddTextsApplier(std::function<void()> apply) { textAppliers_.push_back(std::move(apply)); }
    // Opens the upgrade window with the selected row's IP and MAC (empty without a selection).
    // Until the upgrade window exists, mni_FirmwareUp says so in the log instead.
    void SetUpgradeOpener(std::function<void(const QString& ip, const QString& mac)> open) {
        upgradeOpener_ = std::move(open);
    }
    // Opens the rollout window with the modules of the selected rows: "Firmware upgrade" with more
    // than one row selected. Without it, the upgrade window opens for the current row.
    void SetRolloutOpener(std::function<void(const std::vector<TFoundModule>&)> open) {
        rolloutOpener_ = std::move(open);
    }
    // Opens the inventory window (File > Inventory, shown once an opener is set).
    void SetInventoryOpener(std::function<void()> open);
    // The window's records in the fleet inventory, and its questions to it.
    TWindowInventory& Inventory() { return *inventory_; }
    // Asked before the window closes; false keeps it open (a rollout with modules in flight).
    void SetCloseGuard(std::function<bool()> mayClose) { closeGuard_ = std::move(mayClose); }
    // Run first when the window is destroyed, while its lanes still exist: a window that works on
    // them (the rollout's job) lets go of them here, since child windows are destroyed after.
    void SetBeforeLanesGo(std::function<void()> release) { beforeLanesGo_ = std::move(release); }
    // Opens the debugging window with the Z2 page's work mode index, remote IP, local and remote port.
    using TDataDebugOpener = std::function<void(int workMode, const QString& remoteIP,
                                                const QString& localPort, const QString& remotePort)>;
    void SetDataDebugOpener(TDataDebugOpener open);

    // --- Shell. ---
    void SetPageMode(int mode) override;
    int PageMode() const { return pageMode_; }
    // Every item of pm_NetDev, then the two copy items enabled in any case.
    void SetPopupItemsEnabled(bool enabled);
    void LogLine(const QString& text, const QColor& colour);
    void LogOk(const QString& text);
    void HexLine(const QString& text, const QColor& colour);
    void HexPlain(const QString& text);
    void ShowSendTraffic(const TIdBytes& data, const std::string& dest, const std::string& local,
                         std::uint16_t destPort, std::uint16_t localPort);
    void ShowReceiveTraffic(const TIdBytes& data, const std::string& peer, const std::string& local,
                            std::uint16_t peerPort, std::uint16_t localPort);
    void ShowStatus(std::int32_t code, const QString& text);
    void ApplyMainTexts();
    void SetLanguage(bool chinese);
    // Writes the queued pane lines and device rows now (they are otherwise written every 50 ms).
    void FlushPending();
    // Shows the password dialog (modal, or raised when it is already showing).
    void ShowPswd();
    void ShowAbout();
    // Asked by a later copy of the program: restores the window if minimised and brings it, and
    // the modal dialog it shows (debugging, upgrade, password, about), to the front.
    void BringToFront();

    // --- Device list. ---
    void Search();
    void AddDeviceRow(TDeviceRow row);
    void lv_DevClick();
    // Run when the pop-up menu opens: repeats the click handler.
    void pm_NetDevPopup();
    void ExportDevices();
    // The MAC (without spaces) of the module last read.
    QString CurrentMac() const;
    int DeviceCount() const;

    TUdpSvr& Endpoint() { return *udp_; }
    TLogPane& LogPane() { return *log_; }
    TLogPane& HexPane() { return *hex_; }
    TDeviceListModel& Devices() { return *devices_; }
    QMenu* PopupMenu() const { return pm_NetDev_; }
    // The serial tab and the serial saves (owns the port component cm1).
    TSerialLink& SerialLink() { return *serial_; }

    // The current device-list row when it is selected: what every item but "Firmware upgrade"
    // acts on, however many rows are selected.
    std::optional<TDeviceRef> SelectedDevice();
    // The modules of every selected row, in list order, each once (a module seen through two
    // adapters has two rows).
    std::vector<TFoundModule> SelectedModules() const;
    // A save pressed with no row selected: layout without a device and the no-target hint in red.
    void NoTarget();
    // The module of the selected row, if any.
    std::optional<TFoundModule> SelectedModule() const;
    // The LAN reads, saves and commands (the engine's jobs).
    TLanLink& LanLink() { return *lan_; }
    // The parameter pages, each built when it first shows.
    TPageSet& Pages() { return *pages_; }

    // --- IPageHost. ---
    void WriteLog(const QString& text, const QColor& colour) override { LogLine(text, colour); }
    IUserPrompts& Prompts() override { return *prompts_; }
    void OpenDataDebug() override;
    const TTexts& Texts() const override { return texts_; }

    // --- The controls behind the window's settings keys. ---
    void setLanguageChecked(bool chinese);
    void setRealTimeHelpChecked(bool checked);
    void setLocalCom(const QString& port);
    void setModelChecked(int zNum);
    bool realTimeHelpChecked() const;
    QString localCom() const;
    // 1, 2 or 3 for the checked model radio button, 0 when none is checked.
    int checkedModel() const;

    bool HintsEnabled() const;
    int HintHidePause() const;
    TAppContext& Context() { return ctx_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString Text(const char* key) const { return texts_.Text(key); }
    void FormCreate();
    void PutPanelsInScrollBox();
    void FormClose();
    // Language, hint switch, serial port and model from the settings file, and back.
    void LoadSettings();
    TStatus SaveSettings();
    void WireEndpoint();
    void BuildPopupMenu();
    void ConnectControls();
    void mni_MenuClick(QAction* item);
    void mni_LvRightMmClick(QAction* item);
    void rzpgcntrl_SrchTabClick();
    void lv_DevContextMenu(const QPoint& pos);
    bool ApplicationEvents1Message(QObject* watched, QEvent* event);
    // A key of the device list: the ones that move or extend the selection go to the list, and
    // a new current row is read as a click on it would be.
    bool DeviceListKey(QKeyEvent* event);
    // The panels' minimum size: the left panel and the whole active page side by side. The
    // window keeps its size; what does not fit scrolls.
    void FitPanels();
    int PanelsWidth(QWidget* page) const;
    // The left panel's width beside a page when the window has room (its minimum is smaller).
    static constexpr int LeftPanelWidth = 433;
    // The first size of a window without a remembered one: wide enough for the widest page, as
    // far as the screen allows.
    void DefaultSize();
    void RestoreGeometry();
    void BuildShortcuts();
    // Mnemonics, label buddies and accessible names in the current language.
    void ApplyKeyTexts();
    // Accessible names for the controls of a page built after the window's texts were applied.
    void NamePageControls(QWidget* page);
    QPushButton* VisibleSaveButton() const;
    void OpenRowMenuFromKeyboard();
    static QAction* FirstEnabledItem(QMenu* menu);
    // The pop-up menu's items as the selected row's family allows them.
    void SetRowMenuItems();
    // "Restore configuration" and "Replace module" of a row: the dialog over the row's last read.
    void OpenRestore(TRestoreMode mode, const TDeviceRow& row);
    // Asks before a command on these modules, naming each; true to go on.
    bool ConfirmOnModules(const char* questionKey, const QAction* item, const std::vector<TDeviceRow>& rows);
    // The current row's health findings in the line under the list (and its description).
    void ShowFindings();
    // Row tints and pane colours that read on the current palette.
    void ApplyPaletteColours();
    void ShowParamPage(int index);
    void OpenUrl(const QUrl& url);
    std::optional<int> SelectedRow() const;
    // A page's save button: the save of the selected row's module, built from its read.
    void SaveFromPage(std::int32_t family);
    // A saved module answered again at `now`: its rows show it.
    void ModuleMoved(const TFoundModule& before, const TFoundModule& now);
    void SetVisibleIfPresent(const char* name, bool visible);

    TAppContext& ctx_;
    TTexts texts_;
    std::unique_ptr<Ui::TFrm_Main> ui;
    TMainOptions options_;
    std::unique_ptr<TQtPrompts> ownPrompts_;
    IUserPrompts* prompts_ = nullptr;
    std::unique_ptr<TUdpSvr> udp_;
    TLogPane* log_ = nullptr;
    TLogPane* hex_ = nullptr;
    TSearchHealth* health_ = nullptr;
    TWindowInventory* inventory_ = nullptr;
    TDeviceListModel* devices_ = nullptr;
    QTimer rowTimer_;
    QMenu* pm_NetDev_ = nullptr;
    QPointer<QScrollArea> scrollBox_;
    // The application-wide hook (hints, the wheel over the Z2 page): a filter object of its own,
    // so the window's own control filters do not see each event twice.
    std::unique_ptr<QObject> appHook_;
    // Shows or suppresses the hints of this window and its dialogs by the context's switch.
    std::unique_ptr<QObject> hintFilter_;

    TPageSet* pages_ = nullptr;
    TSerialLink* serial_ = nullptr;
    TLanLink* lan_ = nullptr;

    TFrm_About* about_ = nullptr;
    TFrm_Pswd* pswd_ = nullptr;
    std::vector<std::function<void()>> textAppliers_;
    std::function<void(const QString&, const QString&)> upgradeOpener_;
    std::function<void(const std::vector<TFoundModule>&)> rolloutOpener_;
    std::function<bool()> closeGuard_;
    std::function<void()> beforeLanesGo_;
    TDataDebugOpener dataDebugOpener_;
    std::function<void()> inventoryOpener_;
    QAction* inventoryItem_ = nullptr;

    int pageMode_ = -1;
    QString currentMac_; // the last clicked row's MAC, without spaces
    bool closed_ = false;
};

} // namespace varnix
