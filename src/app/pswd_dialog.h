#pragma once
// TFrm_Pswd: edits the log-in user name and password that every addressed LAN command carries
// (the context's Login()). Created once at start and reused; the edits are filled only at
// creation, so after Cancel they keep what was typed while the log-in values stay unchanged.
// The dialog owns the "UserName" and "Password" keys of the settings file: it reads them when it
// is made and writes them when OK takes a log-in and when the program ends.

#include "app/settings.h"

#include <QDialog>
#include <memory>

class QLabel;

namespace Ui {
class TFrm_Pswd;
}

namespace varnix {

class TAppContext;

class TFrm_Pswd final : public QDialog {
    Q_OBJECT
public:
    // `context` must outlive the dialog.
    explicit TFrm_Pswd(TAppContext& context, QWidget* parent = nullptr);
    ~TFrm_Pswd() override;

    void ApplyPswdTexts();
    // Shows the dialog application-modal without a nested event loop (so the datagrams that
    // arrive meanwhile are still handled in order), or raises it when it is already showing.
    void ShowModal();

    // Writes the log-in keys; the failure goes to the terminal (the dialog may be gone from view).
    TStatus SaveSettings();

private:
    void btn_OKClick();
    TAppContext& ctx_;
    std::unique_ptr<Ui::TFrm_Pswd> ui;
    QLabel* refused_ = nullptr; // why OK was refused, shown until the next OK
};

} // namespace varnix
