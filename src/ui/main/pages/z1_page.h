#pragma once
// The Z1 page: the 28-byte Z1 parameter body of Z1 modules (and of Z3 modules on the serial
// link). It is filled from a serial read reply and built into the 31-byte serial write frame.

#include "core/blocks.h"
#include "core/records.h"
#include "core/result.h"
#include "model/z1_fields.h"
#include "ui/main/pages/page_binding.h"
#include "ui/main/pages/page_host.h"

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Ui {
class TZ1PageForm;
}

namespace varnix {

class TZ1Page final : public QWidget {
    Q_OBJECT
public:
    explicit TZ1Page(IPageHost& host, QWidget* parent = nullptr);
    ~TZ1Page() override;

    // Captions, item texts and hints of the current language.
    void ApplyTexts();
    // The LAN search tab shows the LAN save button, the serial tab the serial one.
    void SetLanTabActive(bool lanTab);

    // Fills the page from a decoded Z1 body (every field of the Z1 table) and applies the rule.
    void ShowZ1(const TZ1Params& values);
    // The whole body from the page through the Z1 table; an empty device ID is first set to 0.
    // The first field that does not read fails with its TError (see ShowFieldError).
    TResult<TZ1Params> ReadZ1();
    // Reads the page into the serial write frame. A field that does not read refuses the build
    // with the message naming it and gives no frame; nothing may be sent then.
    std::optional<std::array<std::uint8_t, Z1FrameSize>> BuildZ1SerialFrameFromPage();
    // A field that does not read: the message naming its label, and the focus on its control.
    void ShowFieldError(const TError& error);
    // Destination address and port only for the UDP and TCP Client modes.
    void ApplyZ1WorkMode();

signals:
    // btn_Z1Set: the LAN button (Z1 modules are written over the serial port only).
    void NetSaveRequested();
    // btn_ComSet: save over the serial port (the serial link builds the frame and sends it).
    void SerialSaveRequested();

private:
    IPageHost& host_;
    std::unique_ptr<Ui::TZ1PageForm> ui_;
    // The Z1 table's fields and their controls, in table order.
    std::vector<std::pair<const TZ1Field*, TBinding>> bindings_;
};

} // namespace varnix
