#include "ui/debug/data_debug.h"
#include "lang/error_text.h"

#include "debug/recv_model.h"
#include "lan/local_addresses.h"
#include "lang/apply_texts.h"
#include "ui/common/prompts.h"
#include "ui/common/screen_fit.h"
#include "ui/debug/frame_cmd.h"
#include "ui_data_debug.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QWheelEvent>

#include <cstdio>

namespace varnix {

namespace {
// One wheel notch (120 units) moves the rows by this many pixels.
constexpr int WheelStepPx = 13;
// 50 rows of 25 px plus one.
constexpr int RowsRangePx = CmdRowCount * 25 + 1;
const QString CmdFileFilter = QStringLiteral("Txt File (*.txt);;All File (*)");
} // namespace

Tfrm_DataDebug::Tfrm_DataDebug(TAppContext& context, TDataDebugOptions options, QWidget* parent)
    : QDialog(parent), ctx_(context), texts_(context.Lang()), ui(std::make_unique<Ui::Tfrm_DataDebug>()),
      options_(std::move(options)), cmdFilePath_(LoadCmdFilePath(context.Settings(), QString())) {
    ui->setupUi(this);
    capture_ = &ctx_.Capture();
    if (options_.Prompts == nullptr)
        ownPrompts_ = std::make_unique<TQtPrompts>();
    prompts_ = options_.Prompts ? options_.Prompts : ownPrompts_.get();
    setModal(true);
    statusPanel_ = new QLabel(ui->stat1);
    statusPanel_->setObjectName(QStringLiteral("stat1Panel"));
    statusPanel_->setFixedWidth(300);
    ui->stat1->addWidget(statusPanel_);
    recv_ = new TRecvModel(this);
    ui->lvRecv->setModel(recv_);
    recvFlush_.setInterval(50);
    connect(&recvFlush_, &QTimer::timeout, this, [this] {
        recv_->Flush();
        if (recv_->Pending() == 0)
            recvFlush_.stop();
    });
    CreateCmdRows();
    WireControls();
    WireSockets();
    DropDefaultButtons();
    ApplyDataDebugTexts();
    RestorePlace(this, ctx_.Settings(), IniDebugGeometry);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (const TStatus r = SaveCmdFilePath(ctx_.Settings(), cmdFilePath_); !r)
            std::fprintf(stderr, "varnix: %s\n", qPrintable(ErrorMessage(r.Error())));
    });
}

Tfrm_DataDebug::~Tfrm_DataDebug() {
    worker_.Stop();
    ++cycleRun_;
}

QString Tfrm_DataDebug::Text(const char* key) const {
    return texts_.Text(key);
}

bool Tfrm_DataDebug::CaptionIs(const QWidget* button, const char* key) const {
    return static_cast<const QAbstractButton*>(button)->text() == Text(key);
}

void Tfrm_DataDebug::CreateCmdRows() {
    auto* box = ui->ScrollBox2Contents;
    for (int i = 0; i < CmdRowCount; ++i) {
        auto* row = new TFrameCmd(i, *prompts_, texts_, box);
        ui->lay_Rows->addWidget(row);
        connect(row, &TFrameCmd::SendClicked, this, &Tfrm_DataDebug::SendRow);
        connect(row, &TFrameCmd::Changed, this, &Tfrm_DataDebug::UpdateCycleRows);
        connect(row, &TFrameCmd::StaysHex, this,
                [this](int index) { SetStatus(Text("lang_DataDebug_StaysHex").arg(index + 1)); });
        cmdRows_.push_back(row);
    }
    box->setMinimumHeight(RowsRangePx);
    ui->ScrollBox2->viewport()->installEventFilter(this);
    box->installEventFilter(this);
    UpdateCycleRows();
}

void Tfrm_DataDebug::DropDefaultButtons() {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

void Tfrm_DataDebug::WireControls() {
    connect(ui->cbbProtrolType, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0)
            return;
        ui->btnConnet->setText(index == TcpClient ? Text("lang_DataDebug_btnConnet")
                                                  : Text("lang_DataDebug_btnStart"));
    });
    connect(ui->cbbIP, &TDropDownCombo::DroppingDown, this, &Tfrm_DataDebug::FillLocalAddresses);
    connect(ui->btnConnet, &QPushButton::clicked, this, &Tfrm_DataDebug::btnConnetClick);
    connect(ui->btnCycleSend, &QPushButton::clicked, this, &Tfrm_DataDebug::btnCycleSendClick);
    connect(ui->btnClearAll, &QPushButton::clicked, this, &Tfrm_DataDebug::ClearCmdRows);
    connect(ui->btnImport, &QPushButton::clicked, this, &Tfrm_DataDebug::btnImportClick);
    connect(ui->btnExport, &QPushButton::clicked, this, &Tfrm_DataDebug::btnExportClick);
    connect(ui->chkChooseAll, &QCheckBox::clicked, this, [this](bool on) {
        for (TFrameCmd* row : cmdRows_)
            row->SetChosen(on);
    });
    connect(ui->chkHexAll, &QCheckBox::clicked, this, [this](bool on) {
        for (TFrameCmd* row : cmdRows_)
            row->SetHexConverting(on);
    });
    connect(ui->btnRecvClear, &QPushButton::clicked, this, [this] { recv_->Clear(); });
    connect(recv_, &TRecvModel::DroppedChanged, this, [this](qint64 dropped) {
        ui->lblRecvDropped->setVisible(dropped > 0);
        ui->lblRecvDropped->setText(Text("lang_DataDebug_RecvDropped") + QString::number(dropped));
    });
    for (QWidget* w : {static_cast<QWidget*>(ui->edtCycle), static_cast<QWidget*>(ui->edtLoport),
                       static_cast<QWidget*>(ui->edtPort), static_cast<QWidget*>(ui->btnCycleSend)})
        w->installEventFilter(this);
    for (QWidget* w : {static_cast<QWidget*>(ui->pnlTop), static_cast<QWidget*>(ui->pnlTools),
                       static_cast<QWidget*>(ui->pnlBottom)})
        w->installEventFilter(this);
}

void Tfrm_DataDebug::ApplyDataDebugTexts() {
    auto& u = *ui;
    texts_.SetTexts({{this, "lang_DataDebug_Title"},
                     {u.lblProtocol, "lang_DataDebug_lblProtocol"},
                     {u.chkChooseAll, "lang_DataDebug_chkChooseAll"},
                     {u.btnClearAll, "lang_DataDebug_btnClearAll"},
                     {u.btnImport, "lang_DataDebug_btnImport"},
                     {u.btnExport, "lang_DataDebug_btnExport"},
                     {u.lblDelay, "lang_DataDebug_lblDelay"},
                     {u.lblCycleInternal, "lang_DataDebug_lblCycleInternal"},
                     {u.btnCycleSend, "lang_DataDebug_btnCycleSend"},
                     {u.lblRemote, "lang_DataDebug_lblRemote"},
                     {u.grpRecv, "lang_DataDebug_grpRecv"},
                     {u.btnRecvClear, "lang_DataDebug_btnRecvClear"}});
    // The connect button's caption is also the role's state (start, stop, connect, disconnect):
    // it is turned into the same row's text of the current language, never reset.
    u.btnConnet->setText(u.btnConnet->text().isEmpty() ? Text("lang_DataDebug_btnConnet")
                                                       : texts_.Text(u.btnConnet->text()));
    u.lblRecvDropped->setText(Text("lang_DataDebug_RecvDropped") + QString::number(recv_->Dropped()));
}

void Tfrm_DataDebug::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred over the main window it may reach above or below a small screen.
    KeepOnScreen(this);
}

void Tfrm_DataDebug::ShowModal(const TDataDebugPreset& preset, const TDataDebugModule& module) {
    PrepareShow(preset, module);
    exec();
}

void Tfrm_DataDebug::PrepareShow(const TDataDebugPreset& preset, const TDataDebugModule& module) {
    closing_ = false;
    ApplyDataDebugTexts();
    setWindowTitle(Text("lang_DataDebug_Title"));
    ApplyPreset(preset, module);
    // Nothing chosen yet: the default list is read when there is one (the first closing writes it).
    if (cmdFilePath_.isEmpty())
        LoadCmdFile(DefaultCmdFile(), false);
    else
        LoadCmdFile(cmdFilePath_);
    ui->ScrollBox2->setFocus();
    ui->ScrollBox2->update();
    SetStatus(QString());
}

// The role mirrors the module's work mode: UDP Client -> UDP Server, TCP Client -> TCP Server,
// UDP Server -> UDP Client, TCP Server -> TCP Client; an HTTPD client selects nothing.
// A module that is a client reaches this PC at its remote IP and port, so the window serves there;
// a module that is a server is reached at its own address and local port. UDP roles send to the
// module's address and local port (where a UDP client module also receives).
void Tfrm_DataDebug::ApplyPreset(const TDataDebugPreset& p, const TDataDebugModule& module) {
    auto number = [](const QString& text) {
        bool ok = false;
        const int v = text.trimmed().toInt(&ok);
        return ok ? QString::number(v) : QString();
    };
    moduleIP_ = module.IP.trimmed();
    modulePort_ = number(p.LocalPort);
    ui->cbbIP->setEditText(p.RemoteIP);
    const int index = p.WorkModeIndex >= 0 && p.WorkModeIndex <= TcpClient ? p.WorkModeIndex : -1;
    ui->cbbProtrolType->setCurrentIndex(index);
    switch (index) {
    case UdpServer:
    case TcpServer:
        ui->edtPort->setText(number(p.RemotePort));
        ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        break;
    case UdpClient:
        // The module answers whoever sent: any address of this PC on its network will do.
        if (!module.LocalIP.isEmpty())
            ui->cbbIP->setEditText(module.LocalIP);
        ui->edtPort->setText(number(p.LocalPort));
        ui->btnConnet->setText(Text("lang_DataDebug_btnStart"));
        break;
    case TcpClient:
        ui->edtPort->setText(number(p.LocalPort));
        ui->btnConnet->setText(Text("lang_DataDebug_btnConnet"));
        ui->cbbIP->setEditText(moduleIP_); // empty: the user types the module's address
        break;
    default:
        break;
    }
}

void Tfrm_DataDebug::FillLocalAddresses() {
    std::vector<std::string> list;
    GetLocalIPList(list, options_.IncludeLoopback);
    const QString text = ui->cbbIP->currentText();
    ui->cbbIP->clear();
    for (const std::string& a : list)
        ui->cbbIP->addItem(QString::fromStdString(a));
    ui->cbbIP->setEditText(text);
}

void Tfrm_DataDebug::SetStatus(const QString& text) {
    statusPanel_->setText(text);
}
QString Tfrm_DataDebug::StatusText() const {
    return statusPanel_->text();
}

void Tfrm_DataDebug::LockConnControls(bool active) {
    ui->cbbProtrolType->setEnabled(!active);
    ui->cbbIP->setEnabled(!active);
    ui->edtPort->setEnabled(!active);
}

bool Tfrm_DataDebug::CheckIPPort() {
    if (!ui->cbbIP->currentText().isEmpty() && !ui->edtPort->text().isEmpty())
        return true;
    SetStatus(Text("lang_Hint_DataDebug_IPPort"));
    return false;
}

bool Tfrm_DataDebug::RoleOpen() const {
    return !CaptionIs(ui->btnConnet, "lang_DataDebug_btnConnet") &&
           !CaptionIs(ui->btnConnet, "lang_DataDebug_btnStart");
}

// --- Cycle send. ---

void Tfrm_DataDebug::UpdateCycleRows() {
    std::vector<TCycleRow> rows;
    for (const TFrameCmd* row : cmdRows_)
        if (row->Chosen())
            rows.push_back({row->Index(), row->DelayMs()});
    worker_.SetRows(std::move(rows));
}

void Tfrm_DataDebug::StopCycleSend() {
    if (!CaptionIs(ui->btnCycleSend, "lang_DataDebug_btnStopSend"))
        return;
    worker_.Stop();
    ++cycleRun_;
    ui->btnCycleSend->setText(Text("lang_DataDebug_btnCycleSend"));
}

void Tfrm_DataDebug::btnCycleSendClick() {
    // A running cycle stops whatever the interval field holds now (its interval was read at start).
    if (!CaptionIs(ui->btnCycleSend, "lang_DataDebug_btnCycleSend")) {
        worker_.Stop();
        ++cycleRun_;
        ui->btnCycleSend->setText(Text("lang_DataDebug_btnCycleSend"));
        ui->btnCycleSend->setEnabled(!ui->edtCycle->text().isEmpty());
        return;
    }
    if (ui->edtCycle->text().isEmpty())
        return;
    if (!RoleOpen()) {
        SetStatus(Text("lang_Hint_DataDebug_NotConn"));
        return;
    }
    // The interval is read once here and holds for the whole run.
    const int interval =
        static_cast<int>(std::min<qlonglong>(ui->edtCycle->text().toLongLong(), 1'000'000'000));
    UpdateCycleRows();
    worker_.Stop();
    const quint64 run = ++cycleRun_;
    QPointer<Tfrm_DataDebug> self(this);
    worker_.Start(interval, [self, run](int index) {
        // On the worker thread: only hand the send over. It is dropped when its run has ended.
        QMetaObject::invokeMethod(
            self.data(),
            [self, run, index] {
                if (self && self->cycleRun_ == run && self->RoleOpen())
                    self->SendRow(index);
            },
            Qt::QueuedConnection);
    });
    ui->btnCycleSend->setText(Text("lang_DataDebug_btnStopSend"));
}

// --- Rows and the file. ---

QString Tfrm_DataDebug::DefaultCmdFile() const {
    return QDir(options_.ProgramDir).filePath(QStringLiteral("DataSelf.txt"));
}

void Tfrm_DataDebug::ClearCmdRows() {
    for (TFrameCmd* row : cmdRows_)
        row->Clear();
    ui->chkChooseAll->setChecked(false);
    ui->chkHexAll->setChecked(false);
    UpdateCycleRows();
}

bool Tfrm_DataDebug::SaveCmdFile(const QString& path) {
    if (path.isEmpty())
        return false;
    if (refusedFiles_.count(QFileInfo(path).absoluteFilePath()) != 0) {
        // Its refusal already said so; closing adds nothing, an explicit export repeats it.
        if (!closing_)
            prompts_->Message(this, QString(), path + u' ' + Text("lang_Hint_DataDebug_NotSavedOver"),
                              IUserPrompts::Icon::Warning);
        return false;
    }
    std::vector<TCmdRow> rows;
    for (const TFrameCmd* row : cmdRows_)
        rows.push_back(row->Row());
    const TStatus written = WriteCmdFile(path, rows);
    if (written)
        return true;
    prompts_->Message(this, QString(),
                      Text("lang_Hint_DataDebug_SaveFailed") +
                          QString::fromStdString(written.Error().Message),
                      IUserPrompts::Icon::Warning);
    return false;
}

bool Tfrm_DataDebug::LoadCmdFile(const QString& path, bool reportMissing) {
    const TCmdFileRead read =
        path.isEmpty() ? TCmdFileRead{std::nullopt, QString(), true} : ReadCmdFile(path);
    if (read.Missing) {
        if (reportMissing)
            prompts_->Message(this, QString(), Text("lang_Hint_DataDebug_FileNotExist"));
        return false;
    }
    const QString key = QFileInfo(path).absoluteFilePath();
    if (read.Refused()) {
        refusedFiles_.insert(key);
        const QString why = read.Content ? path : read.Error;
        prompts_->Message(this, QString(),
                          Text("lang_Hint_DataDebug_NotCmdFile") + why + u'\n' +
                              Text("lang_Hint_DataDebug_NotSavedOver"),
                          IUserPrompts::Icon::Warning);
        return false;
    }
    refusedFiles_.erase(key);
    ClearCmdRows();
    const auto& rows = read.Content->Rows;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i])
            cmdRows_[i]->SetRow(*rows[i]);
    UpdateCycleRows();
    return true;
}

void Tfrm_DataDebug::btnImportClick() {
    const auto chosen = prompts_->OpenFileName(this, QString(), options_.ProgramDir, CmdFileFilter);
    if (!chosen)
        return; // cancelled: the rows stay as they are, edits not yet saved included
    // The path is taken only for a file that reads as a command list, so that closing the window
    // cannot overwrite some other file with the rows.
    if (LoadCmdFile(*chosen))
        SetCmdFilePath(*chosen);
}

void Tfrm_DataDebug::btnExportClick() {
    auto chosen = prompts_->SaveFileName(this, QStringLiteral("Save"), options_.ProgramDir, CmdFileFilter);
    if (!chosen || chosen->isEmpty())
        return;
    if (QFileInfo(*chosen).suffix().isEmpty())
        *chosen += QStringLiteral(".txt");
    SetCmdFilePath(*chosen);
    SaveCmdFile(*chosen);
}

void Tfrm_DataDebug::SetCmdFilePath(const QString& path) {
    cmdFilePath_ = path;
    if (const TStatus saved = SaveCmdFilePath(ctx_.Settings(), path); !saved)
        prompts_->Message(this, QString(), ErrorMessage(saved.Error()), IUserPrompts::Icon::Critical);
}

// --- Closing: every way (close button, Esc, code) ends here. ---

void Tfrm_DataDebug::done(int result) {
    if (!closing_) {
        closing_ = true;
        FormClose();
    }
    QDialog::done(result);
}

void Tfrm_DataDebug::FormClose() {
    const QString& path = cmdFilePath_;
    SaveCmdFile(!path.isEmpty() && QFileInfo::exists(path) ? path : DefaultCmdFile());
    // The place is a convenience: a settings file that cannot be written is told by the command
    // list's own save above, so this one only notes it.
    if (const TStatus r = SavePlace(this, ctx_.Settings(), IniDebugGeometry); !r)
        std::fprintf(stderr, "varnix: %s\n", qPrintable(ErrorMessage(r.Error())));
    worker_.Stop();
    ++cycleRun_;
    if (CaptionIs(ui->btnCycleSend, "lang_DataDebug_btnStopSend"))
        ui->btnCycleSend->setText(Text("lang_DataDebug_btnCycleSend"));
    if (CaptionIs(ui->btnConnet, "lang_DataDebug_btnStop") ||
        CaptionIs(ui->btnConnet, "lang_DataDebug_disconnect"))
        CloseRole();
    recv_->Flush();
}

// --- Keys, wheel and focus. ---

void Tfrm_DataDebug::mousePressEvent(QMouseEvent* event) {
    ui->ScrollBox2->setFocus();
    QDialog::mousePressEvent(event);
}

bool Tfrm_DataDebug::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress && (watched == ui->edtCycle || watched == ui->edtLoport ||
                                     watched == ui->edtPort || watched == ui->btnCycleSend)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!DigitKeyAllowed(key->key(), key->modifiers(), key->text()))
            return true;
    }
    // A running cycle keeps its button usable, so that it can always be stopped.
    if (type == QEvent::KeyRelease && watched == ui->edtCycle)
        ui->btnCycleSend->setEnabled(!ui->edtCycle->text().isEmpty() ||
                                     CaptionIs(ui->btnCycleSend, "lang_DataDebug_btnStopSend"));
    if (type == QEvent::Wheel && watched == ui->ScrollBox2->viewport()) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        QScrollBar* bar = ui->ScrollBox2->verticalScrollBar();
        bar->setValue(bar->value() - wheel->angleDelta().y() * WheelStepPx / 120);
        return true;
    }
    // A click on a panel's background gives the command list the keys (its wheel and arrows);
    // hovering never moves the focus, so text being typed elsewhere is not lost.
    const bool panel = watched == ui->pnlTop || watched == ui->pnlTools || watched == ui->pnlBottom;
    if (type == QEvent::MouseButtonPress && panel)
        ui->ScrollBox2->setFocus();
    return QDialog::eventFilter(watched, event);
}

} // namespace varnix
