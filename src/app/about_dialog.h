#pragma once
// TFrm_About: the program's name and version, and a contact line whose web address opens in
// the browser when clicked (nothing happens while the address text is empty).

#include "lang/apply_texts.h"

#include <QDialog>
#include <QUrl>
#include <functional>
#include <memory>

namespace Ui {
class TFrm_About;
}

namespace varnix {

class TAppContext;

class TFrm_About final : public QDialog {
    Q_OBJECT
public:
    // openUrl opens a web address; QDesktopServices::openUrl when empty.
    // The texts come from `context`, which must outlive the dialog.
    explicit TFrm_About(TAppContext& context, QWidget* parent = nullptr,
                        std::function<void(const QUrl&)> openUrl = {});
    ~TFrm_About() override;

    void ApplyAboutTexts();
    // Application-modal without a nested event loop, or raised when already showing.
    void ShowModal();
    // " V" and the four-part version, as the main window caption shows it.
    static QString VersionText();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void lbl_About_WebsiteClick();
    TTexts texts_;
    std::unique_ptr<Ui::TFrm_About> ui;
    std::function<void(const QUrl&)> openUrl_;
};

} // namespace varnix
