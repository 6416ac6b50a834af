#include "ui/upgrade/upgrade_window.h"
#include "lang/error_text.h"

#include "lan/local_addresses.h"
#include "lang/apply_texts.h"
#include "ui/common/prompts.h"
#include "ui/common/screen_fit.h"
#include "ui_upgrade_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace varnix {

Tfrm_Upgrade::Tfrm_Upgrade(TAppContext& context, TUpgradeWindowOptions options, QWidget* parent)
    : QDialog(parent), ctx_(context), texts_(context.Lang()), options_(std::move(options)),
      ui(std::make_unique<Ui::Tfrm_Upgrade>()) {
    if (options_.Prompts) {
        prompts_ = options_.Prompts;
    } else {
        ownPrompts_ = std::make_unique<TQtPrompts>();
        prompts_ = ownPrompts_.get();
    }
    ui->setupUi(this);
    // Resizable, with a close button that leaves as Exit does while nothing runs.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    resize(460, 580);
    if (options_.Host) {
        host_ = *options_.Host;
    } else {
        host_ = SystemUpgradeHost(false);
        if (options_.LocalAddresses)
            host_.LocalAddresses = options_.LocalAddresses;
    }
    runner_ = std::make_unique<TUpgradeRunner>([this](const QString& key) { return ctx_.Text(key); });
    runner_->SetCapture(&ctx_.Capture());
    connect(runner_.get(), &TUpgradeRunner::Output, this, &Tfrm_Upgrade::Show);
    connect(ui->btn_Browse, &QPushButton::clicked, this, &Tfrm_Upgrade::btn_BrowseClick);
    connect(ui->btn_Program, &QPushButton::clicked, this, &Tfrm_Upgrade::btn_ProgramClick);
    connect(ui->btn_Exit, &QPushButton::clicked, this, &Tfrm_Upgrade::btn_ExitClick);
    connect(ui->cbbSvrIP, &TDropDownCombo::DropDown, this, &Tfrm_Upgrade::cbbSvrIPDropDown);
    connect(ui->btnRecheck, &QPushButton::clicked, this, &Tfrm_Upgrade::CheckReadiness);
    connect(ui->edt_IP, &QLineEdit::editingFinished, this, &Tfrm_Upgrade::CheckReadiness);
    connect(ui->cbbSvrIP, &QComboBox::currentTextChanged, this, [this] {
        if (isVisible())
            CheckReadiness();
    });
    const TUpgradeSettings saved = LoadUpgradeSettings(ctx_.Settings());
    setUpgradeIP(saved.IP);
    setUpgradeMAC(saved.MAC);
    setUpgradeFileName(saved.FileName);
    RestorePlace(this, ctx_.Settings(), IniUpgradeGeometry);
    // Written at every end of the program too: a window never opened keeps what it read.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (const TStatus r = SaveSettings(); !r)
            std::fprintf(stderr, "varnix: %s\n", qPrintable(ErrorMessage(r.Error())));
    });
    ApplyUpgradeTexts();
}

Tfrm_Upgrade::~Tfrm_Upgrade() = default;

void Tfrm_Upgrade::ApplyUpgradeTexts() {
    auto& u = *ui;
    texts_.SetTexts({{this, "lang_Upgrade_Title"},
                     {u.grp1, "lang_Upgrade_grpClnt"},
                     {u.grp2, "lang_Upgrade_grpFileName"},
                     {u.btn_Program, "lang_Upgrade_btnProgram"},
                     {u.btn_Exit, "lang_Upgrade_btnExit"},
                     {u.lbl_IP, "lang_Upgrade_lblClientIP"},
                     {u.lbl_MAC, "lang_Upgrade_lblClientMAC"}});
    u.lblFwUpTip->setText(
        texts_.Text("lang_Upgrade_Hint").replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    // A status that is exactly one row's text (in either language) turns into that row's text in
    // the current language; a status with more appended stays as it is.
    if (!u.lbl_Info->text().isEmpty())
        u.lbl_Info->setText(ctx_.Text(u.lbl_Info->text()));
    texts_.SetTexts({{u.lblLocalIP, "lang_Upgrade_lblLocalIP"},
                     {u.grpReady, "lang_UpCheck_Title"},
                     {u.btnRecheck, "lang_UpCheck_btnRecheck"}});
    ShowReadiness();
}

bool Tfrm_Upgrade::Running() const {
    const TUpgradeSession::Phase phase = runner_->Session().phase();
    return phase == TUpgradeSession::Phase::Searching || phase == TUpgradeSession::Phase::Transferring;
}

void Tfrm_Upgrade::CheckReadiness() {
    if (Running())
        return; // the run holds the ports itself
    readiness_ = CheckUpgradeReadiness(host_, ui->edt_IP->text().trimmed().toStdString(),
                                       ui->cbbSvrIP->currentText().trimmed().toStdString());
    ShowReadiness();
}

void Tfrm_Upgrade::ShowReadiness() {
    const TUpgradeTextFn text = [this](const QString& key) { return ctx_.Text(key); };
    QStringList lines;
    if (readiness_.Ready())
        lines << ReadyText(readiness_, host_.Ports, text);
    else
        for (const QString& problem : ReadinessTexts(readiness_, host_.ProgramPath, text))
            lines << QStringLiteral("\u2716 ") + problem;
    lines << FirewallAdviceText(text);
    ui->txtReady->setPlainText(lines.join(QStringLiteral("\n\n")));
}

void Tfrm_Upgrade::Open(const QString& ip, const QString& mac) {
    if (!ip.isEmpty())
        ui->edt_IP->setText(ip);
    if (!mac.isEmpty())
        ui->edt_MAC->setText(mac);
    if (ui->cbbSvrIP->currentText().isEmpty()) {
        // Offer the address on the module's /24 first, so a plain "Program" works.
        cbbSvrIPDropDown();
        const auto target = ParseIPv4(ui->edt_IP->text().toStdString());
        for (int i = 0; target && i < ui->cbbSvrIP->count(); ++i) {
            const auto local = ParseIPv4(ui->cbbSvrIP->itemText(i).toStdString());
            if (local && (*local & 0xFFFFFF00U) == (*target & 0xFFFFFF00U))
                ui->cbbSvrIP->setCurrentIndex(i);
        }
    }
    CheckReadiness();
    ShowCentredModal(this);
}

void Tfrm_Upgrade::cbbSvrIPDropDown() {
    std::vector<std::string> list;
    if (options_.LocalAddresses)
        list = options_.LocalAddresses();
    else
        GetLocalIPList(list);
    const QString typed = ui->cbbSvrIP->currentText();
    ui->cbbSvrIP->clear();
    for (const std::string& a : list)
        ui->cbbSvrIP->addItem(QString::fromStdString(a));
    if (!typed.isEmpty())
        ui->cbbSvrIP->setCurrentText(typed);
}

void Tfrm_Upgrade::btn_BrowseClick() {
    const QString dir = QFileInfo(ui->edt_BinFileName->text()).absolutePath();
    if (auto name = prompts_->OpenFileName(this, texts_.Text("lang_Upgrade_grpFileName"), dir,
                                           QStringLiteral("*.bin (*.bin)")))
        ui->edt_BinFileName->setText(*name);
}

void Tfrm_Upgrade::btn_ProgramClick() {
    TUpgradeStart start;
    start.TargetIP = ui->edt_IP->text().toStdString();
    start.TargetMAC = ui->edt_MAC->text().toStdString();
    start.LocalIP = ui->cbbSvrIP->currentText().toStdString();
    start.FileName = ui->edt_BinFileName->text().toStdString();
    if (!start.FileName.empty())
        ReadFirmwareFile(ui->edt_BinFileName->text(), start,
                         [this](const QString& key) { return ctx_.Text(key); });
    runner_->Start(std::move(start));
}

void Tfrm_Upgrade::btn_ExitClick() {
    runner_->Stop();
    closing_ = true;
    close();
    closing_ = false;
    if (const TStatus saved = SaveSettings(); !saved)
        prompts_->Message(this, windowTitle(), ErrorMessage(saved.Error()), IUserPrompts::Icon::Critical);
}

TStatus Tfrm_Upgrade::SaveSettings() {
    const TStatus saved =
        SaveUpgradeSettings(ctx_.Settings(), {upgradeIP(), upgradeMAC(), upgradeFileName()});
    return saved ? SavePlace(this, ctx_.Settings(), IniUpgradeGeometry) : saved;
}

void Tfrm_Upgrade::reject() {
    // Esc leaves an idle window as Exit does; during a run (Exit disabled) it does nothing.
    if (ui->btn_Exit->isEnabled())
        btn_ExitClick();
}

void Tfrm_Upgrade::closeEvent(QCloseEvent* event) {
    // The window manager's close button is Exit while Exit may be pressed, and ignored during a
    // run, so a transfer is never cut off by a stray click.
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    if (ui->btn_Exit->isEnabled())
        QMetaObject::invokeMethod(this, &Tfrm_Upgrade::btn_ExitClick, Qt::QueuedConnection);
}

void Tfrm_Upgrade::Show(const TUpgradeOutput& out) {
    if (out.LabelKey)
        ui->lbl_Info->setText(ctx_.Text(QString::fromStdString(*out.LabelKey)) +
                              QString::fromStdString(out.LabelSuffix));
    if (out.Progress)
        ui->pb1->setValue(*out.Progress);
    if (out.ProgramEnabled)
        ui->btn_Program->setEnabled(*out.ProgramEnabled);
    if (out.ExitEnabled)
        ui->btn_Exit->setEnabled(*out.ExitEnabled);
    if (out.Ended)
        CheckReadiness(); // the run let go of the ports
    if (out.MessageKey)
        prompts_->Message(this, windowTitle(), ctx_.Text(QString::fromStdString(*out.MessageKey)),
                          IUserPrompts::Icon::Warning);
}

void Tfrm_Upgrade::setUpgradeIP(const QString& text) {
    ui->edt_IP->setText(text);
}
void Tfrm_Upgrade::setUpgradeMAC(const QString& text) {
    ui->edt_MAC->setText(text);
}
void Tfrm_Upgrade::setUpgradeFileName(const QString& text) {
    ui->edt_BinFileName->setText(text);
}
QString Tfrm_Upgrade::upgradeIP() const {
    return ui->edt_IP->text();
}
QString Tfrm_Upgrade::upgradeMAC() const {
    return ui->edt_MAC->text();
}
QString Tfrm_Upgrade::upgradeFileName() const {
    return ui->edt_BinFileName->text();
}

} // namespace varnix
