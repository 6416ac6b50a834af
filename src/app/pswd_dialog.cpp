#include "app/pswd_dialog.h"
#include "lang/error_text.h"

#include "app/app_context.h"
#include "core/convert.h"
#include "lang/apply_texts.h"
#include "lang/text_codec.h"
#include "ui_pswd_dialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cstdio>

namespace varnix {

namespace {

// The two small pictures beside the edits: a person and a padlock.
QPixmap PersonIcon() {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3A, 0x6E, 0xA5));
    p.drawEllipse(QRectF(7, 2, 10, 10));
    QPainterPath body;
    body.moveTo(2, 23);
    body.cubicTo(2, 13, 22, 13, 22, 23);
    body.closeSubpath();
    p.drawPath(body);
    return pm;
}

QPixmap LockIcon() {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x3A, 0x6E, 0xA5), 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 2, 12, 14), 0, 180 * 16);
    p.drawLine(QPointF(6, 9), QPointF(6, 12));
    p.drawLine(QPointF(18, 9), QPointF(18, 12));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xD9, 0x9A, 0x1E));
    p.drawRoundedRect(QRectF(3, 11, 18, 12), 2, 2);
    return pm;
}

} // namespace

TFrm_Pswd::TFrm_Pswd(TAppContext& context, QWidget* parent)
    : QDialog(parent), ctx_(context), ui(std::make_unique<Ui::TFrm_Pswd>()) {
    ui->setupUi(this);
    // A fixed-size window without title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(322, 145);
    QPalette white = ui->img3->palette();
    white.setColor(QPalette::Window, Qt::white);
    ui->img3->setPalette(white);
    ui->img1->setPixmap(PersonIcon());
    ui->img2->setPixmap(LockIcon());

    ctx_.Login() = LoadLoginSettings(ctx_.Settings(), ctx_.Login());
    ui->edt_UsrName->setText(ctx_.Login().UserName);
    ui->edt_Paswd->setText(ctx_.Login().Password);
    // Written at every end of the program, as the other windows write theirs.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { static_cast<void>(SaveSettings()); });
    // Where a log-in that does not fit is refused; the fixed height grows by its line.
    refused_ = new QLabel(this);
    refused_->setObjectName(QStringLiteral("lbl_Refused"));
    refused_->setStyleSheet(QStringLiteral("color: #C00000; padding: 2px 8px;"));
    refused_->setWordWrap(true);
    refused_->hide();
    ui->lay_Pswd->insertWidget(1, refused_);
    connect(ui->btn_OK, &QPushButton::clicked, this, &TFrm_Pswd::btn_OKClick);
    connect(ui->btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    ApplyPswdTexts();
}

TFrm_Pswd::~TFrm_Pswd() = default;

void TFrm_Pswd::ApplyPswdTexts() {
    TTexts(ctx_.Lang())
        .SetTexts(
            {{this, "lang_Log_Title"}, {ui->btn_OK, "lang_Log_OK"}, {ui->btn_Cancel, "lang_Log_Cancel"}});
}

void TFrm_Pswd::ShowModal() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
}

void TFrm_Pswd::btn_OKClick() {
    // The edits count characters; the module's fields hold six bytes, and a Chinese character
    // takes two of them. A text that does not fit is refused, never cut.
    const std::pair<QLineEdit*, const char*> edits[] = {{ui->edt_UsrName, "lang_Hint_UserNameTooLong"},
                                                        {ui->edt_Paswd, "lang_Hint_PasswordTooLong"}};
    for (const auto& [edit, key] : edits) {
        const std::string bytes = DisplayToBytes(edit->text());
        if (!CheckLoginText(std::string(), bytes)) {
            refused_->setText(ctx_.Text(key).arg(RemoveSpaces(bytes).size()));
            refused_->show();
            setFixedSize(322, 145 + refused_->sizeHint().height());
            edit->setFocus();
            edit->selectAll();
            return;
        }
    }
    refused_->hide();
    ctx_.Login() = {ui->edt_UsrName->text(), ui->edt_Paswd->text()};
    static_cast<void>(SaveSettings()); // a failure is written to stderr there
    accept();
}

TStatus TFrm_Pswd::SaveSettings() {
    const TStatus saved = SaveLoginSettings(ctx_.Settings(), ctx_.Login());
    if (!saved)
        std::fprintf(stderr, "varnix: %s\n", qPrintable(ErrorMessage(saved.Error())));
    return saved;
}

} // namespace varnix
