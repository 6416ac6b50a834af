#pragma once
// The Z3 page: base and port blocks of a Z3 module over the LAN (the Z3 layout of port bytes
// 52-58 and the device-ID type). A view of the field catalogue like the Z2 page: it shows the
// module's settings a read brought and reads them back with the user's changes; the window plans
// and runs the save (NetSaveRequested).

#include "core/result.h"
#include "model/module_settings.h"
#include "ui/main/pages/page_host.h"

#include <QJsonValue>
#include <QWidget>
#include <memory>

namespace Ui {
class TZ3PageForm;
}

namespace varnix {

class TPageBinding;

class TZ3Page final : public QWidget {
    Q_OBJECT
public:
    explicit TZ3Page(IPageHost& host, QWidget* parent = nullptr);
    ~TZ3Page() override;

    void ApplyTexts();

    // The same contract as the Z2 page's, for Z3 modules (other families are ignored).
    void ShowSettings(const TModuleSettings& s);
    TResult<TModuleSettings> ReadSettings(const TModuleSettings& before);
    void ClearSettings();
    void SetEditable(bool editable);
    void ShowFieldError(const TError& error);
    QString FieldText(const QString& field) const;
    // The value the control of a catalogue field holds, read as a save would read it.
    TResult<QJsonValue> FieldValue(const QString& field) const;

    void ApplyZ3WorkMode();
    void ApplyAddrType();

signals:
    // btn_Z3NetSet: save over the LAN.
    void NetSaveRequested();

private:
    void UpdateEditable();

    IPageHost& host_;
    std::unique_ptr<Ui::TZ3PageForm> ui_;
    std::unique_ptr<TPageBinding> binding_;
    bool editable_ = true;
    bool cleared_ = false;
};

} // namespace varnix
