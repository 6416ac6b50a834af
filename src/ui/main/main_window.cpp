#include "ui/main/main_window.h"
#include "lang/error_text.h"

#include "app/about_dialog.h"
#include "app/pswd_dialog.h"
#include "core/convert.h"
#include "lan/local_addresses.h"
#include "lang/apply_texts.h"
#include "lang/safe_text.h"
#include "lang/text_codec.h"
#include "ui/common/app_style.h"
#include "ui/common/colours.h"
#include "ui/common/hint_filter.h"
#include "ui/common/screen_fit.h"
#include "ui/main/capture_saver.h"
#include "ui/main/device_csv.h"
#include "ui/main/device_list_model.h"
#include "ui/main/fleet_view.h"
#include "ui/main/lan_link.h"
#include "ui/main/log_pane.h"
#include "ui/main/serial_link.h"
#include "ui/main/window_journal.h"
#include "ui_main_window.h"

#include "ui/main/pages/page_set.h"
#include "ui/main/window_inventory.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

namespace varnix {

namespace {

QString Decimal(long long v) {
    return QString::number(v);
}

// Bytes from the endpoint (addresses, names, status texts) to screen text, control characters
// shown as "\x1B"-style escapes rather than acted on (a line break in a name would forge a
// log line).
QString Shown(const std::string& bytes) {
    return ShowControls(BytesToDisplay(bytes));
}

class TAppHook final : public QObject {
public:
    explicit TAppHook(std::function<bool(QObject*, QEvent*)> handler) : handler_(std::move(handler)) {}
    bool eventFilter(QObject* watched, QEvent* event) override { return handler_(watched, event); }

private:
    std::function<bool(QObject*, QEvent*)> handler_;
};

} // namespace

TFrm_Main::TFrm_Main(TAppContext& context, TMainOptions options, QWidget* parent)
    : QMainWindow(parent), ctx_(context), texts_(context.Lang()), ui(std::make_unique<Ui::TFrm_Main>()),
      options_(std::move(options)) {
    // The window's font before its controls exist: set later, it would make them measure the
    // form's built-in captions again. The program makes it the application's font as well, so
    // that the pages uic builds without a parent already have it.
    QFont windowFont = font();
    windowFont.setPixelSize(FormFontPixels);
    setFont(windowFont);
    ui->setupUi(this);
    if (options_.Prompts != nullptr) {
        prompts_ = options_.Prompts;
    } else {
        ownPrompts_ = std::make_unique<TQtPrompts>();
        prompts_ = ownPrompts_.get();
    }

    // The fixed-pitch font of both log panes (hex dumps line up).
    QFont paneFont;
    paneFont.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono CJK SC"),
                          QStringLiteral("Monospace")});
    paneFont.setStyleHint(QFont::TypeWriter);
    paneFont.setPixelSize(12);
    ui->redt_Log->setFont(paneFont);
    ui->redt_Hex->setFont(paneFont);

    log_ = new TLogPane(ui->redt_Log, false, texts_, this);
    hex_ = new TLogPane(ui->redt_Hex, true, texts_, this);

    devices_ = new TDeviceListModel(this);
    ui->lv_Dev->setModel(devices_);
    ui->lv_Dev->setColumnWidth(TDeviceListModel::ColIP, 100);
    ui->lv_Dev->setColumnWidth(TDeviceListModel::ColName, 108);
    ui->lv_Dev->setColumnWidth(TDeviceListModel::ColMac, 128);
    ui->lv_Dev->setColumnWidth(TDeviceListModel::ColVersion, 42);
    ui->lv_Dev->setColumnHidden(TDeviceListModel::ColFlag, true);
    ui->lv_Dev->setColumnHidden(TDeviceListModel::ColIpIndex, true);
    ui->lv_Dev->header()->setStretchLastSection(true);
    ui->lv_Dev->header()->setSectionsMovable(false);
    ui->lv_Dev->viewport()->setMouseTracking(true);
    ui->redt_Hex->viewport()->setMouseTracking(true);
    {
        // The selected row keeps the highlight colour when the list loses the focus.
        QPalette pal = ui->lv_Dev->palette();
        pal.setColor(QPalette::Inactive, QPalette::Highlight,
                     pal.color(QPalette::Active, QPalette::Highlight));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     pal.color(QPalette::Active, QPalette::HighlightedText));
        ui->lv_Dev->setPalette(pal);
    }
    rowTimer_.setSingleShot(true);
    rowTimer_.setInterval(TLogPane::FlushIntervalMs);
    connect(&rowTimer_, &QTimer::timeout, this, [this] { devices_->Flush(); });
    health_ = new TSearchHealth(
        {devices_,
         [this] {
             std::vector<THealthBinding> b;
             for (int i = 0; i < udp_->BindingCount(); ++i)
                 b.push_back({udp_->BindingAddress(i), LocalNetmask(udp_->BindingAddress(i))});
             return b;
         },
         QString::fromStdString(options_.Udp.DestinationAddr),
         [this](const QString& text, bool problem) { problem ? LogLine(text, kColourRed) : LogOk(text); },
         texts_},
        this);

    // The two status-bar panels; the program writes nothing into them.
    for (int width : {400, 50}) {
        auto* panel = new QLabel(ui->stat1);
        panel->setFixedWidth(width);
        ui->stat1->addWidget(panel);
    }

    auto* langGroup = new QActionGroup(this);
    langGroup->addAction(ui->mni_Cn);
    langGroup->addAction(ui->mni_En);
    // The pages are switched by the model, never by their tabs; the bar and its captions go. The
    // hidden bar takes no Tab stop either: the page control hands its focus to the bar, so Tab
    // would stop on it, invisible, and never reach the page.
    ui->rzpgcntrl_Param->tabBar()->hide();
    ui->rzpgcntrl_Param->tabBar()->setFocusPolicy(Qt::NoFocus);
    for (int i = 0; i < ui->rzpgcntrl_Param->count(); ++i)
        ui->rzpgcntrl_Param->setTabText(i, QString());

    options_.Udp.Capture = &ctx_.Capture(); // the search endpoint and every lane
    udp_ = std::make_unique<TUdpSvr>(options_.Udp);

    // Each page is built when it first shows (or something first needs it).
    pages_ = new TPageSet(*this, {ui->rztbsht_Z1, ui->rztbsht_Z3, ui->rztbsht_Z3Net}, this);
    connect(pages_, &TPageSet::Built, this, &TFrm_Main::NamePageControls);
    lan_ = new TLanLink(
        {pages_, this, options_.Clock, options_.Udp, options_.ProgramDir,
         [this] {
             return TLogin{DisplayToBytes(ctx_.Login().UserName), DisplayToBytes(ctx_.Login().Password)};
         },
         [this] { ShowPswd(); },
         [this](const TIdBytes& d, const std::string& dest, const std::string& local, std::uint16_t destPort,
                std::uint16_t localPort) { ShowSendTraffic(d, dest, local, destPort, localPort); },
         [this](const TIdBytes& d, const std::string& peer, const std::string& local, std::uint16_t peerPort,
                std::uint16_t localPort) { ShowReceiveTraffic(d, peer, local, peerPort, localPort); },
         [this](std::int32_t code, const std::string& text) { ShowStatus(code, Shown(text)); },
         [this](const TFoundModule& before, const TFoundModule& now) { ModuleMoved(before, now); },
         options_.VerifyTimeoutMs},
        this);
    // The fleet inventory records every settled search and every good read (window_inventory.h).
    inventory_ = new TWindowInventory(
        options_.ProgramDir, [this](const QString& t) { LogLine(t, kColourRed); }, this);
    health_->SetSearched([this](const std::vector<TDeviceRow>& rows) {
        std::vector<std::string> locals;
        for (int i = 0; i < udp_->BindingCount(); ++i)
            locals.push_back(udp_->BindingAddress(i));
        inventory_->RecordSearch(rows, std::move(locals));
    });
    lan_->SetReadObserver(
        [this](const TFoundModule& m, const TReadResult& r) { inventory_->StoreRead(m, r); });
    connect(pages_, &TPageSet::Z2NetSaveRequested, this, [this] { SaveFromPage(FamilyZ2); });
    connect(pages_, &TPageSet::Z3NetSaveRequested, this, [this] { SaveFromPage(FamilyZ3); });
    // Z1 modules are written over the serial port only: on the LAN this button has nothing to
    // send, but without a selected row it still points the user at the list.
    connect(pages_, &TPageSet::Z1NetSaveRequested, this, [this] {
        if (!SelectedDevice())
            NoTarget();
    });
    serial_ =
        new TSerialLink({ui->cbb_SelectCom,
                         ui->cbbSoftBitRate,
                         ui->btn_ComRead,
                         ui->rbZ1,
                         ui->rbZ2,
                         ui->rbZ3,
                         pages_,
                         this,
                         [this](const QString& text, const QColor& colour) { hex_->Append(text, colour); },
                         [this] {
                             hex_->Clear();
                             log_->Clear();
                         },
                         options_.Clock,
                         {},
                         options_.ProgramDir},
                        this);

    serial_->Comm().SetCapture(&ctx_.Capture());
    serial_->SetZ2ReadObserver([this](const TSerialZ2Read& r) { inventory_->StoreSerialRead(r); });
    auto* captureSaver = new TCaptureSaver(ctx_, *prompts_, ui->mni_File, ui->mniExporDevs, this);
    connect(captureSaver, &TCaptureSaver::Done, this,
            [this](bool saved, const QString& text) { saved ? LogOk(text) : LogLine(text, kColourRed); });
    AddTextsApplier([captureSaver] { captureSaver->ApplyTexts(); });

    BuildPopupMenu();
    BuildShortcuts();
    ConnectControls();
    // Resizable and maximisable; small enough for 1366x768 at 125 % (1093x614 logical pixels)
    // less the task bar and the window's frame.
    setMinimumSize(720, 500);
    ApplyPaletteColours();
    ui->lv_Dev->installEventFilter(this);
    ui->lv_Dev->viewport()->installEventFilter(this);
    ui->redt_Hex->viewport()->installEventFilter(this);
    appHook_ = std::make_unique<TAppHook>(
        [this](QObject* watched, QEvent* event) { return ApplicationEvents1Message(watched, event); });
    qApp->installEventFilter(appHook_.get());
    hintFilter_ = std::make_unique<THintFilter>(ctx_.Hints(), this);

    FormCreate();
}

TFrm_Main::~TFrm_Main() {
    if (beforeLanesGo_)
        beforeLanesGo_();
    qApp->removeEventFilter(appHook_.get());
    if (!closed_)
        FormClose();
}

void TFrm_Main::FormCreate() {
    if (!ctx_.Lang().FileError.isEmpty())
        LogLine(ctx_.Lang().FileError, kColourRed);
    LoadSettings();
    ApplyMainTexts();
    PutPanelsInScrollBox();
    SetPageMode(-1);
    SetPageMode(0);
    RestoreGeometry();
    WireEndpoint();
}

// The panels sit in a scroll box without a frame: on a screen too small for the widest page the
// window is cut to the screen and the panels scroll instead. The box measures the panels at once,
// so it is put in only once they carry the texts of the chosen language: measuring the built-in
// Chinese captions first would load a CJK font into every process, and lay the panels out twice.
void TFrm_Main::PutPanelsInScrollBox() {
    auto* fit = new QScrollArea(this);
    fit->setObjectName(QStringLiteral("scr_Bg"));
    fit->setFrameShape(QFrame::NoFrame);
    fit->setFocusPolicy(Qt::NoFocus); // no Tab stop of its own: it follows the focused control
    fit->setWidgetResizable(true);
    // Moved straight into the box: taken out of the window first, the panels would fall back to
    // the application's font for a moment, and every control would take two font changes (each
    // drop-down building its pop-up list for them).
    fit->setWidget(centralWidget());
    setCentralWidget(fit);
}

void TFrm_Main::FormClose() {
    if (closed_)
        return;
    closed_ = true;
    serial_->CloseComPort();
    udp_->Destroy();
    const TStatus saved = SaveSettings();
    if (!saved)
        prompts_->Message(this, windowTitle(), ErrorMessage(saved.Error()), IUserPrompts::Icon::Critical);
}

void TFrm_Main::LoadSettings() {
    const TMainSettings s = LoadMainSettings(
        ctx_.Settings(), options_.SystemIsChinese ? *options_.SystemIsChinese : TLangList::IsSysChinese());
    ctx_.Lang().IsChinese = s.Chinese;
    setLanguageChecked(s.Chinese);
    ui->mni_About->setVisible(true);
    setRealTimeHelpChecked(s.RealTimeHelp);
    // No update or work-order page to open: both menu items stay hidden.
    ui->mni_Up->setVisible(false);
    ui->mni_WorkOrder->setVisible(false);
    ctx_.Hints().SetHidePause(HintHidePauseMs);
    ctx_.Hints().SetEnabled(s.RealTimeHelp);
    setLocalCom(s.LocalCom);
    setModelChecked(s.Model);
}

TStatus TFrm_Main::SaveSettings() {
    const TStatus saved = SaveMainSettings(
        ctx_.Settings(), {ctx_.Lang().IsChinese, realTimeHelpChecked(), localCom(), checkedModel()});
    if (!saved)
        return saved;
    return SavePlace(this, ctx_.Settings(), IniMainGeometry);
}

void TFrm_Main::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        ApplyPaletteColours();
    QMainWindow::changeEvent(event);
}

void TFrm_Main::ApplyPaletteColours() {
    // A flagged row keeps the pale orange on a light list; on a dark one the tint is a dark amber
    // of the list's own base, and the row's text is whatever reads on it.
    const QPalette pal = ui->lv_Dev->palette();
    const QColor base = pal.color(QPalette::Base);
    const QColor tint =
        IsLight(base) ? QColor(0xFF, 0xE0, 0xA0) : Blend(base, QColor(0xC0, 0x80, 0x00), 0.35);
    devices_->SetTint(tint, ReadableText(pal.color(QPalette::Text), tint));
}

void TFrm_Main::closeEvent(QCloseEvent* event) {
    if (closeGuard_ && !closeGuard_()) {
        event->ignore();
        return;
    }
    // A serial operation still running is cancelled there (the port closes at once).
    FormClose();
    event->accept();
}

void TFrm_Main::WireEndpoint() {
    TUdpSvr& svr = *udp_;
    svr.OnSend = [this](const TIdBytes& data, const std::string& dest, const std::string& local,
                        std::uint16_t destPort,
                        std::uint16_t localPort) { ShowSendTraffic(data, dest, local, destPort, localPort); };
    svr.OnReceive = [this](const TIdBytes& data, const std::string& peer, const std::string& local,
                           std::uint16_t peerPort, std::uint16_t localPort) {
        ShowReceiveTraffic(data, peer, local, peerPort, localPort);
    };
    svr.OnStatus = [this](std::int32_t code, const std::string& text) { ShowStatus(code, Shown(text)); };
    svr.OnSearchReply = [this](const TSearchHit& h) {
        TDeviceRow row{Shown(h.Reply.IP),       Shown(h.Reply.Name), Shown(h.Reply.MAC),
                       Shown(h.Reply.Firmware), h.Reply.Family,      h.Binding};
        row.PeerAddr = ParseIPv4Text(h.PeerAddr).value_or(0);
        row.PeerPort = h.PeerPort;
        AddDeviceRow(std::move(row));
    };
}

// ---------------------------------------------------------------------------------------------
// Page modes and search tabs

void TFrm_Main::SetPopupItemsEnabled(bool enabled) {
    for (QAction* a : pm_NetDev_->actions())
        a->setEnabled(enabled);
    pm_NetDev_->findChild<QAction*>(QStringLiteral("mni_CopyTheMac"))->setEnabled(true);
    pm_NetDev_->findChild<QAction*>(QStringLiteral("mni_CopeAllMac"))->setEnabled(true);
    // A stored configuration goes only where the inventory can be read.
    for (const char* item : {"mni_Restore", "mni_Replace"})
        pm_NetDev_->findChild<QAction*>(QString::fromLatin1(item))
            ->setEnabled(enabled && inventory_->Usable());
}

void TFrm_Main::ShowParamPage(int index) {
    if (index == 0)
        pages_->Z1();
    else if (index == 1)
        pages_->Z2();
    else
        pages_->Z3();
    // Only the active page counts for the size of the page control, so the window fits it.
    for (int i = 0; i < ui->rzpgcntrl_Param->count(); ++i) {
        QWidget* page = ui->rzpgcntrl_Param->widget(i);
        page->setSizePolicy(i == index ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
                                       : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
    }
    ui->rzpgcntrl_Param->setCurrentIndex(index);
    ui->rzpgcntrl_Param->show();
}

int TFrm_Main::PanelsWidth(QWidget* page) const {
    // The left panel alone, or the left panel and the whole page side by side.
    const QMargins m = ui->lay_Bg->contentsMargins();
    int width = m.left() + ui->pnl1->minimumWidth() + m.right();
    if (page == nullptr)
        return width;
    int pageWidth = page->sizeHint().expandedTo(page->minimumSizeHint()).width();
    // A scroll box on the page scrolls vertically only: widen it to its content.
    for (const QScrollArea* area : page->findChildren<QScrollArea*>()) {
        if (area->widget() == nullptr || area->isHidden())
            continue;
        const int needed = area->widget()->sizeHint().width() + 2 * area->frameWidth() +
                           area->verticalScrollBar()->sizeHint().width();
        pageWidth += std::max(0, needed - area->sizeHint().width());
    }
    const int frame = ui->rzpgcntrl_Param->width() - ui->rzpgcntrl_Param->contentsRect().width();
    return width + ui->lay_Bg->spacing() + pageWidth + std::max(frame, 4);
}

void TFrm_Main::FitPanels() {
    // The panels keep their full size inside the scroll box (a longer language may need more);
    // the window keeps the size the user gave it, and what it cannot show scrolls.
    const bool paged = ui->rzpgcntrl_Param->isVisibleTo(this);
    const int width = PanelsWidth(paged ? ui->rzpgcntrl_Param->currentWidget() : nullptr);
    // The page never gets less than its whole width: where the window is short of room the
    // left panel gives first, then the panels scroll.
    ui->rzpgcntrl_Param->setMinimumWidth(paged ? width - PanelsWidth(nullptr) - ui->lay_Bg->spacing() : 0);
    ui->pnl_Bg->setMinimumSize(width, ui->pnl_Bg->minimumSizeHint().height());
    // Without a page the left panel takes the whole width; beside a page it keeps its own.
    // Beside a page it has its designed width where there is room, and gives up to a fifth of it
    // on a small screen (its list scrolls sideways) before the page has to scroll.
    ui->pnl1->setMaximumWidth(paged ? LeftPanelWidth : QWIDGETSIZE_MAX);
}

// The first start's size (later ones restore the size the user left), wide enough for the widest
// page. Only that page is built for it, so the first start does not wait for the others.
void TFrm_Main::DefaultSize() {
    const int menuAndStatus = ui->mm1->sizeHint().height() + ui->stat1->sizeHint().height();
    const int width = PanelsWidth(pages_->WidestSheet()) + LeftPanelWidth - ui->pnl1->minimumWidth();
    // Room for the findings line under the list as it wraps beside a page (up to four lines): a
    // module with findings must not push the log's tabs or the page's buttons out of view.
    const int findings = 4 * ui->lbl_Findings->fontMetrics().lineSpacing();
    QSize wanted(width, std::max(564, ui->pnl_Bg->minimumSizeHint().height() + menuAndStatus) + findings);
    if (const QScreen* shown = screen()) {
        // Less the window manager's frame, which is not known before the first show: a title bar
        // and borders of a usual size.
        const QSize area = shown->availableGeometry().size() - QSize(16, 48);
        wanted = wanted.boundedTo(area);
    }
    resize(wanted.expandedTo(minimumSize()));
}

void TFrm_Main::RestoreGeometry() {
    if (!RestorePlace(this, ctx_.Settings(), IniMainGeometry)) {
        DefaultSize();
        KeepOnScreen(this);
    }
}

void TFrm_Main::SetPageMode(int mode) {
    switch (mode) {
    case -1:
        ui->rzpgcntrl_Srch->blockSignals(true);
        ui->rzpgcntrl_Srch->setCurrentIndex(0);
        ui->rzpgcntrl_Srch->blockSignals(false);
        ui->rzpgcntrl_Logs->setCurrentIndex(0);
        rzpgcntrl_SrchTabClick();
        // A family chosen in an earlier run stands; without one, reads ask for a Z2 module.
        if (ctx_.Settings().ReadString(IniZNum, QString()).isEmpty())
            ui->rbZ2->setChecked(true);
        break;
    case 0: {
        // Tabs fill the width of their page control.
        // (the left panel has a fixed width, which both page controls fill even before layout)
        const int panel = ui->pnl1->minimumWidth();
        const int srchTab = panel / ui->rzpgcntrl_Srch->count() - 4;
        const int logsTab = panel / ui->rzpgcntrl_Logs->count() - 3;
        ui->rzpgcntrl_Srch->tabBar()->setStyleSheet(
            QStringLiteral("QTabBar::tab { min-width: %1px; }").arg(std::max(srchTab, 40)));
        ui->rzpgcntrl_Logs->tabBar()->setStyleSheet(
            QStringLiteral("QTabBar::tab { min-width: %1px; }").arg(std::max(logsTab, 40)));
        ui->rzpgcntrl_Param->hide();
        FitPanels();
        SetPopupItemsEnabled(false);
        pm_NetDev_->findChild<QAction*>(QStringLiteral("mni_FirmwareUp"))->setEnabled(true);
        break;
    }
    case 1:
        ShowParamPage(0);
        FitPanels();
        SetPopupItemsEnabled(true);
        for (const char* name :
             {"mni_OpenWeb", "mni_Restart", "mni_FirmwareUp", "mni_Restore", "mni_Replace"})
            pm_NetDev_->findChild<QAction*>(QString::fromLatin1(name))->setEnabled(false);
        break;
    case 2:
        ShowParamPage(1);
        FitPanels();
        SetPopupItemsEnabled(true);
        break;
    case 3:
        ShowParamPage(2);
        FitPanels();
        SetPopupItemsEnabled(true);
        break;
    default:
        return;
    }
    pageMode_ = mode;
}

void TFrm_Main::rzpgcntrl_SrchTabClick() {
    const bool lan = ui->rzpgcntrl_Srch->currentIndex() == 0;
    // The pages show the LAN or the serial save buttons, and the groups only the LAN can reach.
    pages_->SetLanTabActive(lan);
    if (lan) {
        LogLine(Text("lang_rztbsht_Net") + u',' + Text("lang_ts_CfgFree"), kColourMaroon);
    } else {
        LogLine(Text("lang_rztbsht_Com") + u',' + Text("lang_ts_CfgGnd"), kColourMaroon);
        serial_->TabSelected();
    }
    SetPageMode(0);
}

// ---------------------------------------------------------------------------------------------
// Panes

void TFrm_Main::LogLine(const QString& text, const QColor& colour) {
    log_->Append(text, colour);
}
void TFrm_Main::LogOk(const QString& text) {
    log_->Append(text, kColourGreen);
}
void TFrm_Main::HexLine(const QString& text, const QColor& colour) {
    hex_->Append(text, colour);
}
void TFrm_Main::HexPlain(const QString& text) {
    hex_->Append(text, QColor());
}

void TFrm_Main::FlushPending() {
    rowTimer_.stop();
    devices_->Flush();
    log_->Flush();
    hex_->Flush();
}

void TFrm_Main::ShowSendTraffic(const TIdBytes& data, const std::string& dest, const std::string& local,
                                std::uint16_t destPort, std::uint16_t localPort) {
    HexPlain(QString());
    HexLine(QStringLiteral("[ ") + Shown(local) + QStringLiteral(" : ") + Decimal(localPort) +
                QStringLiteral(" ] \u2192 [ ") + Shown(dest) + QStringLiteral(" : ") + Decimal(destPort) +
                QStringLiteral(" ]"),
            kColourBlue);
    HexLine(QStringLiteral("[ Length : ") + Decimal(static_cast<long long>(data.size())) +
                QStringLiteral(" ]"),
            kColourBlue);
    HexPlain(Shown(BytesToHexDump(data)));
    LogOk(Text("lang_Hint_Sending"));
}

void TFrm_Main::ShowReceiveTraffic(const TIdBytes& data, const std::string& peer, const std::string& local,
                                   std::uint16_t peerPort, std::uint16_t localPort) {
    HexPlain(QString());
    HexLine(QStringLiteral("[ ") + Shown(local) + QStringLiteral(" : ") + Decimal(localPort) +
                QStringLiteral(" ] \u2190 [ ") + Shown(peer) + QStringLiteral(" : ") + Decimal(peerPort) +
                QStringLiteral(" ]"),
            kColourGreen);
    HexLine(QStringLiteral("[ Length : ") + Decimal(static_cast<long long>(data.size())) +
                QStringLiteral(" ]"),
            kColourGreen);
    // A module's datagrams are a few hundred bytes; more of a large one would only flood the pane.
    constexpr std::size_t MaxHexShown = 1500;
    const std::span<const std::uint8_t> shown(data.data(), std::min(data.size(), MaxHexShown));
    HexPlain(Shown(BytesToHexDump(shown)) +
             (data.size() > MaxHexShown ? QStringLiteral("\u2026") : QString()));
}

void TFrm_Main::ShowStatus(std::int32_t code, const QString& text) {
    switch (code) {
    case stSearchSent:
        LogOk(Text("lang_H_lv_Dev"));
        break;
    case stCheckError:
        LogLine(Text("lang_Hint_CheckErr") + text, kColourRed);
        break;
    case stAck:
        LogOk(Text("lang_Hint_ACK"));
        break;
    case stOtherError:
        LogLine(Text("lang_Hint_OtherErr"), kColourRed);
        break;
    case stPswdError:
        LogLine(Text("lang_Hint_PswdErr"), kColourRed);
        ShowPswd();
        break;
    case stPortInUse: {
        const QString line = Decimal(PortInUseNumber) + Text("lang_Hint_UDPPortInUse");
        LogLine(line, kColourRed);
        log_->Flush();
        prompts_->Message(this, windowTitle(), line, IUserPrompts::Icon::Warning);
        break;
    }
    case stVerIncompatible:
        SetPageMode(0);
        LogLine(Text("lang_Hint_VerIncompatible"), kColourRed);
        break;
    case stReceiveOther:
        LogLine(Text("lang_Hint_ReceiveOther") + text, kColourRed);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Device list

int TFrm_Main::DeviceCount() const {
    return devices_->rowCount();
}

void TFrm_Main::Search() {
    hex_->Clear();
    log_->Clear();
    devices_->Clear();
    rowTimer_.stop();
    ctx_.Capture().Restart(); // a capture runs from one search to the next
    udp_->Search();
    health_->SearchStarted();
}

void TFrm_Main::AddDeviceRow(TDeviceRow row) {
    if (!devices_->AddRow(std::move(row))) {
        if (devices_->RefusedCount() == 1)
            LogLine(Text("lang_Hint_DevListFull").arg(TDeviceListModel::MaxRows), kColourRed);
        return;
    }
    if (!rowTimer_.isActive())
        rowTimer_.start();
    health_->RowAdded();
}

std::optional<int> TFrm_Main::SelectedRow() const {
    const QItemSelectionModel* selection = ui->lv_Dev->selectionModel();
    const QModelIndex current = selection->currentIndex();
    if (!current.isValid() || !selection->isRowSelected(current.row(), current.parent()))
        return std::nullopt;
    return current.row();
}

std::optional<TDeviceRef> TFrm_Main::SelectedDevice() {
    const auto row = SelectedRow();
    if (!row)
        return std::nullopt;
    const TDeviceRow& r = devices_->Row(*row);
    bool ok = false;
    const int firmware = r.Version.toInt(&ok);
    return TDeviceRef{r.Binding, r.Mac, r.Family, ok ? firmware : 0};
}

void TFrm_Main::NoTarget() {
    SetPageMode(0);
    LogLine(Text("lang_Hint_NoTarget"), kColourRed);
}

QString TFrm_Main::CurrentMac() const {
    return currentMac_;
}

std::optional<TFoundModule> TFrm_Main::SelectedModule() const {
    const auto row = SelectedRow();
    if (!row)
        return std::nullopt;
    const TDeviceRow& r = devices_->Row(*row);
    return TLanLink::ModuleOf(r, udp_->BindingAddress(r.Binding));
}

void TFrm_Main::SaveFromPage(std::int32_t family) {
    const auto selected = SelectedModule();
    if (!selected) {
        NoTarget();
        return;
    }
    lan_->Save(family, selected);
}

void TFrm_Main::ModuleMoved(const TFoundModule& before, const TFoundModule& now) {
    // Every row of the module (one per adapter it answered through) shows where it is now.
    for (int i = 0; i < devices_->rowCount(); ++i) {
        TDeviceRow r = devices_->Row(i);
        if (MacKey(r.Mac.toStdString()) != MacKey(before.Mac))
            continue;
        r.IP = Shown(now.Ip);
        r.Name = Shown(now.Name);
        r.Mac = Shown(now.Mac);
        r.Version = QString::number(now.Firmware);
        if (udp_->BindingAddress(r.Binding) == now.Local) {
            r.PeerAddr = ParseIPv4Text(now.PeerAddr).value_or(0);
            r.PeerPort = now.PeerPort;
        }
        devices_->UpdateRow(i, std::move(r));
    }
}

void TFrm_Main::lv_DevClick() {
    const auto row = SelectedRow();
    if (!row) {
        SetPageMode(0);
        return;
    }
    const TDeviceRow r = devices_->Row(*row);
    currentMac_ = QString(r.Mac).remove(u' ');
    LogOk(Text("lang_ts_Read") + QStringLiteral(" [ Mac : ") + r.Mac + QStringLiteral(" ]"));
    if (r.Family == FamilyZ2 || r.Family == FamilyZ3) {
        lan_->Read(TLanLink::ModuleOf(r, udp_->BindingAddress(r.Binding)));
    } else {
        SetPageMode(0);
        LogLine(Text("lang_Hint_VerIncompatible"), kColourRed);
    }
}

void TFrm_Main::ExportDevices() {
    devices_->Flush();
    const int count = devices_->rowCount();
    if (count == 0)
        return;
    const QDateTime now = options_.Now ? options_.Now() : QDateTime::currentDateTime();
    const QString suggested = DeviceExportFileName(options_.ProgramDir, Text("lang_Menu_ExpDev"), now, count);
    const auto chosen =
        prompts_->SaveFileName(this, Text("lang_Menu_ExpDev"), suggested, QStringLiteral("CSV (*.csv)"));
    if (!chosen || chosen->isEmpty())
        return;
    const QString path = *chosen;
    std::vector<QString> findings;
    findings.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        findings.push_back(devices_->Mark(i));
    QSaveFile file(path);
    const QByteArray content = DeviceCsv(devices_->Rows(), findings);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        prompts_->Message(this, windowTitle(), file.errorString() + QStringLiteral(": ") + path,
                          IUserPrompts::Icon::Critical);
        return;
    }
    LogOk(path);
    log_->Flush();
    prompts_->Message(this, windowTitle(), path, IUserPrompts::Icon::Information);
}

void TFrm_Main::ShowFindings() {
    const QModelIndex current = ui->lv_Dev->currentIndex();
    const QString findings = current.isValid() ? devices_->Mark(current.row()) : QString();
    ui->lbl_Findings->setText(findings);
    ui->lbl_Findings->setVisible(!findings.isEmpty());
    ui->lv_Dev->setAccessibleDescription(findings);
}

} // namespace varnix
