#include "app/about_dialog.h"

#include "app/app_context.h"
#include "lang/apply_texts.h"
#include "ui_about_dialog.h"

#include <QDesktopServices>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace varnix {

namespace {

// The picture: the program's name on a blue band, painted for the screen's pixel ratio so that
// the name stays sharp at 2x (a 1x image would be scaled up and blurred).
QPixmap AboutPicture(qreal ratio) {
    constexpr QSize Size(249, 83);
    QPixmap pm(Size * ratio);
    pm.setDevicePixelRatio(ratio);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient band(0, 0, Size.width(), Size.height());
    band.setColorAt(0, QColor(0x1F, 0x4E, 0x8C));
    band.setColorAt(1, QColor(0x3A, 0x8E, 0xD0));
    const QRect area(QPoint(0, 0), Size);
    p.fillRect(area, band);
    p.setPen(QPen(QColor(255, 255, 255, 90), 2));
    for (int x = 150; x < Size.width(); x += 14)
        p.drawLine(x, Size.height(), x + 40, 0);
    QFont f;
    f.setPixelSize(36);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(area.adjusted(18, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Varnix"));
    return pm;
}

} // namespace

TFrm_About::TFrm_About(TAppContext& context, QWidget* parent, std::function<void(const QUrl&)> openUrl)
    : QDialog(parent), texts_(context.Lang()), ui(std::make_unique<Ui::TFrm_About>()),
      openUrl_(std::move(openUrl)) {
    ui->setupUi(this);
    // A fixed-size window with the system menu only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(473, 215);
    QPalette link = ui->lbl_About_Website->palette();
    link.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
    ui->lbl_About_Website->setPalette(link);
    QFont underlined = ui->lbl_About_Website->font();
    underlined.setUnderline(true);
    ui->lbl_About_Website->setFont(underlined);
    ui->lbl_About_Website->installEventFilter(this);
    connect(ui->btn_About_Yes, &QPushButton::clicked, this, &QDialog::accept);

    ApplyAboutTexts();
    ui->lbl_version->setText(VersionText());
}

TFrm_About::~TFrm_About() = default;

QString TFrm_About::VersionText() {
    return QStringLiteral(" V") + QStringLiteral(VARNIX_VERSION);
}

void TFrm_About::ApplyAboutTexts() {
    // lang_About_Description has no row: the hidden label receives the key itself.
    texts_.SetTexts({{this, "lang_About_Title"},
                     {ui->lbl_SoftName, "lang_About_SoftName"},
                     {ui->lbl_About_version, "lang_About_Version"},
                     {ui->lbl_Aboutl_Description, "lang_About_Description"},
                     {ui->lbl_About_Contact, "lang_About_Contact"},
                     {ui->lbl_About_Website, "lang_About_Website"},
                     {ui->lbl_About_Tel, "lang_About_Tel"},
                     {ui->lbl_About_Email, "lang_About_Email"},
                     {ui->btn_About_Yes, "lang_About_OK"}});
}

void TFrm_About::showEvent(QShowEvent* event) {
    // Painted when first shown (not at start-up) and again on a screen of another pixel ratio.
    const qreal ratio = devicePixelRatioF();
    if (ui->img_About->pixmap().isNull() || ui->img_About->pixmap().devicePixelRatio() != ratio)
        ui->img_About->setPixmap(AboutPicture(ratio));
    QDialog::showEvent(event);
}

void TFrm_About::ShowModal() {
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

bool TFrm_About::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->lbl_About_Website && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        lbl_About_WebsiteClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFrm_About::lbl_About_WebsiteClick() {
    const QString address = ui->lbl_About_Website->text().trimmed();
    if (address.isEmpty())
        return;
    const QUrl url = QUrl::fromUserInput(address);
    if (openUrl_)
        openUrl_(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace varnix
