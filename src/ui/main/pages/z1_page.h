#pragma once
// The Z1 page: the 28-byte Z1 parameter body of Z1 modules (and of Z3 modules on the serial
// link). It is filled from a serial read reply and built into the 31-byte serial write frame.

#include "core/blocks.h"
#include "core/records.h"
#include "model/page_rules.h"
#include "ui/main/pages/page_host.h"

#include <QWidget>
#include <array>
#include <memory>
#include <optional>

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

    // Fills the page from a decoded Z1 body and logs the success line.
    void ShowZ1Params(const TZ1Params& values);
    // Reads the page into the serial write frame. A field that does not convert refuses the
    // build with a message naming it and gives no frame; nothing may be sent then.
    std::optional<std::array<std::uint8_t, Z1FrameSize>> BuildZ1SerialFrameFromPage();
    // Destination address and port only for the UDP and TCP Client modes.
    void ApplyZ1WorkMode();

    // The controls as plain values, and back: the one place values cross between them.
    TZ1Form ReadForm() const;
    void WriteForm(const TZ1Form& form);

signals:
    // btn_ComSet: save over the serial port (the serial link builds the frame and sends it).
    void SerialSaveRequested();

private:
    void btn_Z1SetClick();

    IPageHost& host_;
    std::unique_ptr<Ui::TZ1PageForm> ui_;
};

} // namespace varnix
