#include "ui/rollout/rollout_window.h"

#include "app/app_context.h"
#include "core/convert.h"
#include "lan/local_addresses.h"
#include "lang/apply_texts.h"
#include "lang/error_text.h"
#include "ui/common/confirm_text.h"
#include "ui/common/prompts.h"
#include "ui/common/screen_fit.h"
#include "ui/rollout/rollout_form.h"
#include "upgrade/upgrade_endpoint.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace varnix {

namespace {

enum TColumn { ColMac, ColAddress, ColStage, ColProgress, ColFirmware, ColResult, ColumnCount };
constexpr int MaxLogLines = 2000;

QString DefaultParallel() {
    return QStringLiteral("20"); // as varnix-cli rollout
}

template <typename T> T* Named(T* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

} // namespace

TRolloutWindow::TRolloutWindow(TAppContext& context, TRolloutWindowOptions options, QWidget* parent)
    : QDialog(parent), ctx_(context), texts_(context.Lang()), capture_(context.Capture()),
      options_(std::move(options)) {
    if (options_.Prompts != nullptr) {
        prompts_ = options_.Prompts;
    } else {
        ownPrompts_ = std::make_unique<TQtPrompts>();
        prompts_ = ownPrompts_.get();
    }
    setObjectName(QStringLiteral("frm_Rollout"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    Build();
    redraw_.setInterval(std::max(10, options_.RedrawMs));
    connect(&redraw_, &QTimer::timeout, this, &TRolloutWindow::Redraw);
    ApplyRolloutTexts();
    SetRunning(false);
}

TRolloutWindow::~TRolloutWindow() {
    Release();
}

void TRolloutWindow::Release() {
    redraw_.stop();
    job_.reset(); // before the endpoint it sends through
    link_.reset();
}

QGroupBox* TRolloutWindow::BuildOptions() {
    auto* box = Named(new QGroupBox(this), "grp_Options");
    auto* grid = new QGridLayout(box);
    const auto label = [box](const char* name) { return Named(new QLabel(box), name); };
    const auto edit = [box](const char* name, const QString& text) {
        auto* e = Named(new QLineEdit(text, box), name);
        return e;
    };
    lblImage_ = label("lbl_Image");
    edtImage_ = edit("edt_Image", {});
    btnBrowse_ = Named(new QPushButton(box), "btn_Browse");
    lblLocal_ = label("lbl_Local");
    cbbLocal_ = Named(new QComboBox(box), "cbb_Local");
    cbbLocal_->setEditable(true);
    lblParallel_ = label("lbl_Parallel");
    edtParallel_ = edit("edt_Parallel", DefaultParallel());
    lblCanary_ = label("lbl_Canary");
    edtCanary_ = edit("edt_Canary", QStringLiteral("0"));
    lblExpect_ = label("lbl_Expect");
    edtExpect_ = edit("edt_Expect", {});
    lblPool_ = label("lbl_Pool");
    edtPool_ = edit("edt_Pool", {});
    lblLogin_ = label("lbl_FactoryLogin");
    edtLogin_ = edit("edt_FactoryLogin", TRolloutForm{}.FactoryLogin);
    chkKeep_ = Named(new QCheckBox(box), "chk_Keep");
    chkKeep_->setChecked(true);

    grid->addWidget(lblImage_, 0, 0);
    grid->addWidget(edtImage_, 0, 1, 1, 3);
    grid->addWidget(btnBrowse_, 0, 4);
    grid->addWidget(lblLocal_, 1, 0);
    grid->addWidget(cbbLocal_, 1, 1);
    grid->addWidget(lblPool_, 1, 2);
    grid->addWidget(edtPool_, 1, 3, 1, 2);
    grid->addWidget(lblParallel_, 2, 0);
    grid->addWidget(edtParallel_, 2, 1);
    grid->addWidget(lblCanary_, 2, 2);
    grid->addWidget(edtCanary_, 2, 3, 1, 2);
    grid->addWidget(lblExpect_, 3, 0);
    grid->addWidget(edtExpect_, 3, 1);
    grid->addWidget(lblLogin_, 3, 2);
    grid->addWidget(edtLogin_, 3, 3, 1, 2);
    grid->addWidget(chkKeep_, 4, 0, 1, 5);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    connect(btnBrowse_, &QPushButton::clicked, this, &TRolloutWindow::Browse);
    return box;
}

void TRolloutWindow::Build() {
    auto* layout = new QVBoxLayout(this);
    grpOptions_ = BuildOptions();
    layout->addWidget(grpOptions_);

    table_ = Named(new QTableWidget(0, ColumnCount, this), "tbl_Modules");
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    for (const auto& [column, width] :
         {std::pair{ColMac, 130}, {ColAddress, 110}, {ColStage, 120}, {ColProgress, 70}, {ColFirmware, 100}})
        table_->setColumnWidth(column, width);
    layout->addWidget(table_, 3);

    lblSummary_ = Named(new QLabel(this), "lbl_Summary");
    layout->addWidget(lblSummary_);
    log_ = Named(new QPlainTextEdit(this), "redt_RolloutLog");
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(MaxLogLines);
    layout->addWidget(log_, 1);

    auto* buttons = new QHBoxLayout;
    btnStart_ = Named(new QPushButton(this), "btn_Start");
    btnStop_ = Named(new QPushButton(this), "btn_Stop");
    btnClose_ = Named(new QPushButton(this), "btn_Close");
    buttons->addStretch(1);
    for (QPushButton* b : {btnStart_, btnStop_, btnClose_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    connect(btnStart_, &QPushButton::clicked, this, &TRolloutWindow::StartClicked);
    connect(btnStop_, &QPushButton::clicked, this, &TRolloutWindow::StopClicked);
    connect(btnClose_, &QPushButton::clicked, this, &QWidget::close);
    resize(900, 600);
    RestorePlace(this, ctx_.Settings(), IniRolloutGeometry);
}

void TRolloutWindow::ApplyRolloutTexts() {
    texts_.SetTexts({{this, "lang_Rollout_Title"},
                     {grpOptions_, "lang_Rollout_grpOptions"},
                     {lblImage_, "lang_Rollout_lblImage"},
                     {btnBrowse_, "lang_Rollout_btnBrowse"},
                     {lblLocal_, "lang_Rollout_lblLocal"},
                     {lblParallel_, "lang_Rollout_lblParallel"},
                     {lblCanary_, "lang_Rollout_lblCanary"},
                     {lblExpect_, "lang_Rollout_lblExpect"},
                     {lblPool_, "lang_Rollout_lblPool"},
                     {lblLogin_, "lang_Rollout_lblFactoryLogin"},
                     {chkKeep_, "lang_Rollout_chkKeep"},
                     {btnStart_, "lang_Rollout_btnStart"},
                     {btnStop_, "lang_Rollout_btnStop"},
                     {btnClose_, "lang_Rollout_btnClose"}});
    table_->setHorizontalHeaderLabels(
        {texts_.Text("lang_Rollout_colMac"), texts_.Text("lang_Rollout_colAddress"),
         texts_.Text("lang_Rollout_colStage"), texts_.Text("lang_Rollout_colProgress"),
         texts_.Text("lang_Rollout_colFirmware"), texts_.Text("lang_Rollout_colResult")});
    // The lines are made again in the new language.
    for (int row = 0; row < table_->rowCount(); ++row)
        WriteLine(row);
    if (job_ && !job_->Running())
        lblSummary_->setText(RolloutSummary(texts_, job_->Modules()));
}

void TRolloutWindow::Open(const std::vector<TTarget>& modules) {
    if (!Running()) {
        targets_ = modules;
        seenAt_.clear();
        for (const TTarget& t : targets_)
            seenAt_.emplace(MacKey(t.Mac.toStdString()), t.Address);
        job_.reset();
        link_.reset();
        dirty_.clear();
        log_->clear();
        lblSummary_->clear();
        RowsMade();
    }
    if (cbbLocal_->count() == 0)
        FillLocalAddresses();
    ShowCentredModal(this);
}

void TRolloutWindow::FillLocalAddresses() {
    std::vector<std::string> list;
    if (options_.LocalAddresses)
        list = options_.LocalAddresses();
    else
        GetLocalIPList(list);
    cbbLocal_->addItem(QString()); // where the modules answer
    for (const std::string& a : list)
        cbbLocal_->addItem(QString::fromStdString(a));
}

void TRolloutWindow::Browse() {
    const QString dir = QFileInfo(edtImage_->text()).absolutePath();
    if (auto name = prompts_->OpenFileName(this, texts_.Text("lang_Rollout_lblImage"), dir,
                                           QStringLiteral("*.bin (*.bin);;* (*)")))
        edtImage_->setText(*name);
}

bool TRolloutWindow::Running() const {
    return job_ && job_->Running();
}

void TRolloutWindow::StartClicked() {
    if (Running() || targets_.empty() || options_.Pool == nullptr)
        return;
    TRolloutForm form{edtImage_->text(),  cbbLocal_->currentText(), edtParallel_->text(),
                      edtCanary_->text(), edtExpect_->text(),       edtPool_->text(),
                      edtLogin_->text(),  chkKeep_->isChecked()};
    auto options = RolloutOptionsOf(form);
    if (!options) {
        prompts_->Message(this, windowTitle(), FormErrorText(texts_, options.Error()),
                          IUserPrompts::Icon::Warning);
        return;
    }
    if (!ConfirmStart())
        return;
    for (const TTarget& t : targets_)
        options->Macs.push_back(t.Mac.toStdString());
    if (options_.Login)
        options->Login = options_.Login();
    options->ProgramDir = options_.ProgramDir;
    job_.reset();
    auto endpoint = std::make_unique<TUpgradeEndpoint>();
    endpoint->SetCapture(&capture_);
    link_ = std::move(endpoint);
    job_ = std::make_unique<TRolloutJob>(*options_.Pool, options_.Clock ? *options_.Clock : RealClock(),
                                         *link_, std::move(*options));
    Wire(*job_);
    closeWhenEnded_ = false;
    dirty_.clear();
    log_->clear();
    lblSummary_->clear();
    SetRunning(true);
    redraw_.start();
    job_->Start();
}

// Every module of the rollout restarts, and loses its configuration without "keep": the
// technician sees which ones before anything is sent, with Cancel the default answer.
bool TRolloutWindow::ConfirmStart() {
    std::vector<TModuleLine> lines;
    for (const TTarget& t : targets_)
        lines.push_back({t.Address, t.Name, t.Mac});
    const QString text =
        ConfirmText(texts_.Text("lang_Confirm_Rollout"), texts_.Text("lang_Confirm_More"), lines);
    return prompts_->Confirm(this, texts_.Text("lang_Confirm_Title"), text, btnStart_->text(),
                             texts_.Text("lang_Confirm_Cancel"));
}

void TRolloutWindow::Wire(TRolloutJob& job) {
    job.OnRows = [this] { RowsMade(); };
    // A row's change is only noted; the timer writes the changed lines.
    job.OnModule = [this](int row) { dirty_.insert(row); };
    job.OnLog = [this](const QString& line) { Log(line); };
    // The job calls OnDone as its last step; the window reacts on a later turn.
    job.OnDone = [this] { QMetaObject::invokeMethod(this, &TRolloutWindow::Ended, Qt::QueuedConnection); };
}

void TRolloutWindow::StopClicked() {
    if (!Running() || job_->Stopping())
        return;
    job_->Stop();
    btnStop_->setEnabled(false);
    Log(texts_.Text("lang_Rollout_Stopping"));
}

void TRolloutWindow::RowsMade() {
    const int rows = job_ ? static_cast<int>(job_->Modules().size()) : static_cast<int>(targets_.size());
    table_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < ColumnCount; ++column)
            if (table_->item(row, column) == nullptr)
                table_->setItem(row, column, new QTableWidgetItem);
        WriteLine(row);
    }
}

void TRolloutWindow::WriteLine(int row) {
    TRolloutLine line;
    if (job_ && row < static_cast<int>(job_->Modules().size())) {
        const TRolloutModule& m = job_->Modules()[static_cast<std::size_t>(row)];
        const auto seen = seenAt_.find(MacKey(m.Mac));
        line = LineOf(texts_, m, seen != seenAt_.end() ? seen->second : QString());
    } else if (row < static_cast<int>(targets_.size())) {
        line.Mac = targets_[static_cast<std::size_t>(row)].Mac;
        line.Address = targets_[static_cast<std::size_t>(row)].Address;
    }
    const QString texts[ColumnCount] = {line.Mac,      line.Address,  line.Stage,
                                        line.Progress, line.Firmware, line.Result};
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem* item = table_->item(row, column);
        // Only a text that changed is written: the view repaints what was written.
        if (item != nullptr && item->text() != texts[column])
            item->setText(texts[column]);
    }
    if (QTableWidgetItem* result = table_->item(row, ColResult); result && result->toolTip() != line.Detail)
        result->setToolTip(line.Detail);
}

void TRolloutWindow::Redraw() {
    std::set<int> rows;
    rows.swap(dirty_);
    for (int row : rows)
        if (row < table_->rowCount())
            WriteLine(row);
}

void TRolloutWindow::Ended() {
    redraw_.stop();
    Redraw();
    if (!job_)
        return;
    lblSummary_->setText(RolloutSummary(texts_, job_->Modules()));
    if (!job_->Error().isEmpty())
        Log(job_->Error());
    SetRunning(false);
    if (closeWhenEnded_) {
        closeWhenEnded_ = false;
        close();
    }
    if (auto then = std::exchange(then_, nullptr))
        then();
}

void TRolloutWindow::StopThen(std::function<void()> ended) {
    if (!Running()) {
        ended();
        return;
    }
    then_ = std::move(ended);
    StopClicked();
}

void TRolloutWindow::SetRunning(bool running) {
    btnStart_->setEnabled(!running);
    btnStop_->setEnabled(running);
    grpOptions_->setEnabled(!running);
}

void TRolloutWindow::Log(const QString& line) {
    log_->appendPlainText(line);
}

bool TRolloutWindow::MayClose() {
    if (!Running())
        return true;
    if (!closeWhenEnded_ &&
        prompts_->Question(this, windowTitle(), texts_.Text("lang_Rollout_CloseRunning"))) {
        closeWhenEnded_ = true;
        StopClicked();
    }
    return false;
}

void TRolloutWindow::reject() {
    close();
}

void TRolloutWindow::closeEvent(QCloseEvent* event) {
    if (!MayClose()) {
        event->ignore();
        return;
    }
    event->accept();
    if (const TStatus r = SavePlace(this, ctx_.Settings(), IniRolloutGeometry); !r)
        prompts_->Message(this, windowTitle(), ErrorMessage(r.Error()), IUserPrompts::Icon::Critical);
}

} // namespace varnix
