#pragma once
// Tfrm_Upgrade: loads a firmware image into one module over the LAN (see upgrade_session.h for
// the exchange). The window only moves values between its controls and a TUpgradeRunner. It owns
// its three settings keys (UpgradeIP, UpgradeMAC, UpgradeFileName): it reads them when it is made
// and writes them when btn_Exit closes it and when the program ends.
//
// Fixed size, centred, no title-bar buttons; Esc and the window manager's close do nothing, so
// btn_Exit, disabled during a run, is the only way out.

#include "app/app_context.h"
#include "lang/apply_texts.h"
#include "upgrade/upgrade_readiness.h"
#include "upgrade/upgrade_runner.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class Tfrm_Upgrade;
}

namespace varnix {

class IUserPrompts;

struct TUpgradeWindowOptions {
    // Modal steps (message box, file dialog); the real dialogs when null.
    IUserPrompts* Prompts = nullptr;
    // The PC's IPv4 addresses for cbbSvrIP; every interface's (no loopback) when unset.
    std::function<std::vector<std::string>()> LocalAddresses;
    // What the check before Program asks of this PC; the real PC (with LocalAddresses) when unset.
    std::optional<TUpgradeHost> Host;
};

class Tfrm_Upgrade final : public QDialog {
    Q_OBJECT
public:
    // `context` must outlive the window.
    explicit Tfrm_Upgrade(TAppContext& context, TUpgradeWindowOptions options = {},
                          QWidget* parent = nullptr);
    ~Tfrm_Upgrade() override;

    // Shows the window modal, with the selected module's IP and MAC; an empty text leaves its
    // edit as it was.
    void Open(const QString& ip, const QString& mac);
    void ApplyUpgradeTexts();
    const TUpgradeRunner& Runner() const { return *runner_; }
    // Checks whether this PC can serve the upgrade to the module in edt_IP from cbbSvrIP's address
    // and shows the outcome with what to do (not while a run holds the ports).
    void CheckReadiness();
    const TUpgradeReadiness& Readiness() const { return readiness_; }

    void setUpgradeIP(const QString& text);
    void setUpgradeMAC(const QString& text);
    void setUpgradeFileName(const QString& text);
    QString upgradeIP() const;
    QString upgradeMAC() const;
    QString upgradeFileName() const;
    // Writes the window's three keys.
    TStatus SaveSettings();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void btn_BrowseClick();
    void btn_ProgramClick();
    void btn_ExitClick();
    void cbbSvrIPDropDown();
    void Show(const TUpgradeOutput& out);
    void ShowReadiness();
    bool Running() const;

    TAppContext& ctx_;
    TTexts texts_;
    TUpgradeWindowOptions options_;
    std::unique_ptr<IUserPrompts> ownPrompts_;
    IUserPrompts* prompts_ = nullptr;
    std::unique_ptr<Ui::Tfrm_Upgrade> ui;
    std::unique_ptr<TUpgradeRunner> runner_;
    TUpgradeHost host_;
    TUpgradeReadiness readiness_;
    bool closing_ = false;
};

} // namespace varnix
