#pragma once
// The Z2 page: base and port blocks of a Z2 module and, below them, the extended groups
// (registration and transparent cloud, HTTPD client, heartbeat, Modbus TCP), all in one scroll
// box. A view of the field catalogue: it shows a module's settings and reads them back with the
// user's changes on top; the window plans and runs the save (NetSaveRequested, SerialSaveRequested).

#include "core/result.h"
#include "model/module_settings.h"
#include "ui/main/pages/page_host.h"

#include <QJsonValue>
#include <QWidget>
#include <memory>

namespace Ui {
class TZ2PageForm;
}

namespace varnix {

class TPageBinding;

class TZ2Page final : public QWidget {
    Q_OBJECT
public:
    explicit TZ2Page(IPageHost& host, QWidget* parent = nullptr);
    ~TZ2Page() override;

    void ApplyTexts();
    // The LAN search tab shows the LAN save button and the heartbeat, registration and HTTPD
    // groups; the serial tab shows the serial save button instead.
    void SetLanTabActive(bool lanTab);
    // Data debugging: the button stays disabled until the window exists.
    void SetDataDebugAvailable(bool available);

    // --- The module's settings. ---
    // Fills every control of a field the module reported (a Z2 module's; other families are
    // ignored) and applies the rules; the Modbus group shows what the module's Modbus reply
    // carries. Called again as a read's replies arrive, it writes only what changed.
    void ShowSettings(const TModuleSettings& s);
    // `before` (the settings last shown) with the page's values on top, through the catalogue;
    // fields the page does not show, or that a Z2 save does not write, keep the module's values.
    // The first field that does not read fails with its TError (see ShowFieldError).
    TResult<TModuleSettings> ReadSettings(const TModuleSettings& before);
    // Empties the page; nothing can be edited or saved until the next ShowSettings.
    void ClearSettings();
    // Read-only (false) while a save runs; the values stay.
    void SetEditable(bool editable);
    // A field that does not read: the message naming its label, and the focus on its control.
    void ShowFieldError(const TError& error);
    // The text the control of a catalogue field holds (empty when the page has no such control).
    QString FieldText(const QString& field) const;
    // The value the control of a catalogue field holds, read as a save would read it.
    TResult<QJsonValue> FieldValue(const QString& field) const;

    // --- Rules. ---
    void ApplyZ2WorkMode();
    void ApplyAddrType();
    void RzComboBox2Change();
    void RzComboBox1Change();
    void ApplyModbusRule();

signals:
    // btn_Z2NetSet: save over the LAN.
    void NetSaveRequested();
    // btn_Z2ComSet: save over the serial port.
    void SerialSaveRequested();

private:
    void WireHandlers();
    void UpdateEditable();

    IPageHost& host_;
    std::unique_ptr<Ui::TZ2PageForm> ui_;
    std::unique_ptr<TPageBinding> binding_;
    bool lanTab_ = true;
    bool editable_ = true;
    bool cleared_ = false;
};

} // namespace varnix
