#pragma once
// The Z2 page: base and port blocks of a Z2 module and, below them, the extended groups
// (registration and transparent cloud, HTTPD client, heartbeat, Modbus TCP), all in one scroll
// box. Filled reply by reply as a read's blocks arrive; saved over the LAN with btn_Z2NetSet.

#include "core/blocks.h"
#include "core/records.h"
#include "lan/save_plan.h"
#include "model/page_rules.h"
#include "ui/main/pages/page_host.h"

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace Ui {
class TZ2PageForm;
}

namespace varnix {

class TZ2Page final : public QWidget {
    Q_OBJECT
public:
    explicit TZ2Page(IPageHost& host, QWidget* parent = nullptr);
    ~TZ2Page() override;

    void ApplyTexts();
    // The LAN search tab shows the LAN save button and the heartbeat, registration and HTTPD
    // groups; the serial tab shows the serial save button instead.
    void SetLanTabActive(bool lanTab);
    // Before a read of a Z2 module: the Modbus controls reappear only with a Modbus reply.
    void HideModbusGroup();
    // Data debugging: the button stays disabled until the window exists.
    void SetDataDebugAvailable(bool available);

    // --- Decoders. ---
    // A parameter reply. Over the LAN (fromSerial false) it is shown only when its user MAC is
    // the selected row's; a Z3 reply (family 36) only logs the success line.
    void ShowZ2Params(const TBaseParam& base, const TarrComParam& ports, std::int32_t family,
                      bool fromSerial);
    void ShowCloudParams(const TarrCloudParam& cloud);
    // Only for family 2.
    void ShowHeartParams(std::span<const std::uint8_t, HeartBlockSize> block, std::int32_t family);
    void ShowHttpdParams(const std::string& url, const std::string& header);
    void ShowModbusParams(const TModbusParam& values, int kind);

    // --- Reading the page for a save. A numeric field that does not convert refuses with a
    // message naming its label and gives nothing. ---
    std::optional<TBaseParam> ReadZ2BaseParams();
    std::optional<TPortParam> ReadZ2PortParams();
    TCloudParam BuildCloudBlockFromPage() const;
    THeartInput BuildHeartBlockFromPage() const;
    std::pair<std::string, std::string> BuildHttpdBlocksFromPage() const; // URL, header
    TModbusParam BuildModbusBlockFromPage() const;
    // Which blocks a save includes, as the page decides it.
    TZ2SaveConditions SaveConditions() const;
    // Everything a Z2 save plan needs, for a module of the given firmware number.
    std::optional<TZ2SaveInput> ReadZ2SaveInput(int firmware);
    // btn_Z2NetSet: plans the Z2 save from the page and hands it to the host; a plan that fails
    // names the field and sends nothing.
    void btn_Z2NetSetClick();

    // --- Rules. ---
    void ApplyZ2WorkMode();
    void ApplyAddrType();
    void RzComboBox2Change();
    void RzComboBox1Change();

    // The controls as plain values, and back: the one place values cross between them.
    TZ2Form ReadForm() const;
    void WriteForm(const TZ2Form& form);
    TZ2ExtForm ReadExtForm() const;
    void WriteExtForm(const TZ2ExtForm& form);

signals:
    // btn_Z2ComSet: save over the serial port.
    void SerialSaveRequested();

private:
    void WireHandlers();
    void ReportSaveError(const TSaveError& error);

    IPageHost& host_;
    std::unique_ptr<Ui::TZ2PageForm> ui_;
    bool lanTab_ = true;
    // The HTTPD header as the module sent it, and as the editor gives it back.
    std::string headerBytes_, headerShown_;
};

} // namespace varnix
