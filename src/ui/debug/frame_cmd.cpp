#include "ui/debug/frame_cmd.h"

#include "debug/cmd_text.h"
#include "lang/apply_texts.h"
#include "ui/common/prompts.h"
#include "ui_frame_cmd.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionButton>

namespace varnix {

namespace {
constexpr int MaxDelayMs = 65535;
}

bool DigitKeyAllowed(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    if (text.isEmpty())
        return true; // cursor movement, Delete, modifiers alone
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        break;
    }
    if ((modifiers & Qt::ControlModifier) != 0)
        return key == Qt::Key_V || key == Qt::Key_X;
    return text.size() == 1 && text[0] >= u'0' && text[0] <= u'9';
}

TFrameCmd::TFrameCmd(int index, IUserPrompts& prompts, TTexts texts, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TFrameCmdForm>()), index_(index), prompts_(prompts),
      texts_(texts) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("C") + QString::number(index));
    setFixedHeight(25);
    ui->lblNo->setText(QString::number(index + 1));
    ui->btnSend->setProperty("index", index);
    ui->edtCmd->setProperty("index", index);
    ui->edtDelay->installEventFilter(this);
    ui->btnExplanation->installEventFilter(this);
    Clear();
    connect(ui->btnSend, &QPushButton::clicked, this, [this] { emit SendClicked(index_); });
    connect(ui->btnExplanation, &QWidget::customContextMenuRequested, this, [this] { Rename(); });
    // The click has already changed the box: convert from the state it had before.
    connect(ui->chkHex, &QCheckBox::clicked, this, [this](bool on) {
        ui->chkHex->setChecked(!on);
        SetHexConverting(on);
    });
    connect(ui->chkChoose, &QCheckBox::toggled, this, &TFrameCmd::Changed);
    connect(ui->edtDelay, &QLineEdit::textChanged, this, &TFrameCmd::Changed);
}

TFrameCmd::~TFrameCmd() = default;

TCmdRow TFrameCmd::Row() const {
    return {ui->chkChoose->isChecked(), name_, ui->edtCmd->text(), ui->chkHex->isChecked(),
            ui->edtDelay->text()};
}

void TFrameCmd::SetRow(const TCmdRow& row) {
    ui->chkChoose->setChecked(row.Choose);
    SetName(row.Name);
    ui->edtCmd->setText(row.Cmd);
    ui->chkHex->setChecked(row.Hex);
    ui->edtDelay->setText(row.Delay);
    ui->btnSend->setText(texts_.Text("lang_FrameCmd_btnSend"));
}

void TFrameCmd::Clear() {
    SetRow({false, texts_.Text("lang_DataDebug_btnExplanation"), {}, false, {}});
}

bool TFrameCmd::Chosen() const {
    return ui->chkChoose->isChecked();
}
void TFrameCmd::SetChosen(bool on) {
    ui->chkChoose->setChecked(on);
}
bool TFrameCmd::Hex() const {
    return ui->chkHex->isChecked();
}
QString TFrameCmd::Cmd() const {
    return ui->edtCmd->text();
}

void TFrameCmd::SetHexConverting(bool on) {
    if (ui->chkHex->isChecked() == on)
        return;
    if (on) {
        ui->edtCmd->setText(CmdTextToHex(ui->edtCmd->text()));
    } else if (const std::optional<QString> text = CmdHexToText(ui->edtCmd->text())) {
        ui->edtCmd->setText(*text);
    } else {
        emit StaysHex(index_);
        return;
    }
    ui->chkHex->setChecked(on);
}

int TFrameCmd::DelayMs() const {
    bool ok = false;
    const int v = ui->edtDelay->text().toInt(&ok);
    return ok && v > 0 ? std::min(v, MaxDelayMs) : 0;
}

void TFrameCmd::SetName(const QString& name) {
    name_ = name;
    ui->btnExplanation->setToolTip(name); // the button is narrower than most names
    ShowName();
}

void TFrameCmd::ShowName() {
    QPushButton* button = ui->btnExplanation;
    QStyleOptionButton option;
    option.initFrom(button);
    const int frame = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    const int room = std::max(0, button->width() - 2 * frame);
    // A centred text wider than the button loses both ends; this one keeps its beginning.
    QString shown = button->fontMetrics().elidedText(name_, Qt::ElideRight, room);
    button->setText(shown.replace(u'&', QStringLiteral("&&"))); // no mnemonics
}

void TFrameCmd::Rename() {
    const auto answer = prompts_.Input(this, texts_.Text("lang_Hint_FrameCmd_PopupTitle"),
                                       texts_.Text("lang_Hint_FrameCmd_PopupText"), name_);
    if (!answer)
        return;
    if (answer->contains(u'&')) {
        prompts_.Message(this, QString(), texts_.Text("lang_Hint_FrameCmd_NoAmp"),
                         IUserPrompts::Icon::Warning);
        SetName(QString());
        return;
    }
    SetName(*answer);
}

bool TFrameCmd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->btnExplanation &&
        (event->type() == QEvent::Resize || event->type() == QEvent::FontChange ||
         event->type() == QEvent::StyleChange))
        ShowName();
    if (watched == ui->edtDelay && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!DigitKeyAllowed(key->key(), key->modifiers(), key->text()))
            return true;
    }
    if (watched == ui->edtDelay && event->type() == QEvent::KeyRelease) {
        bool ok = false;
        const qlonglong v = ui->edtDelay->text().toLongLong(&ok);
        if (!ui->edtDelay->text().isEmpty() && (!ok || v > MaxDelayMs))
            ui->edtDelay->clear();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace varnix
