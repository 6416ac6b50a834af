#pragma once
// TFrm_Pswd: edits the log-in user name and password that every addressed LAN command carries
// (LoginUserName, LoginPassword). Created once at start and reused; the edits are filled only
// at creation, so after Cancel they keep what was typed while the log-in values stay unchanged.

#include <QDialog>
#include <memory>

class QLabel;

namespace Ui {
class TFrm_Pswd;
}

namespace varnix {

class TFrm_Pswd final : public QDialog {
    Q_OBJECT
public:
    explicit TFrm_Pswd(QWidget* parent = nullptr);
    ~TFrm_Pswd() override;

    void ApplyPswdTexts();
    // Shows the dialog application-modal without a nested event loop (so the datagrams that
    // arrive meanwhile are still handled in order), or raises it when it is already showing.
    void ShowModal();

private:
    void btn_OKClick();
    std::unique_ptr<Ui::TFrm_Pswd> ui;
    QLabel* refused_ = nullptr; // why OK was refused, shown until the next OK
};

} // namespace varnix
