#pragma once
// The Z3 page: base and port blocks of a Z3 module over the LAN, written with the Z3 encoders.
// No reply fills it; it holds its initial values or what the user typed, and btn_Z3NetSet saves.

#include "core/records.h"
#include "lan/save_plan.h"
#include "model/page_rules.h"
#include "ui/main/pages/page_host.h"

#include <QWidget>
#include <memory>
#include <optional>

namespace Ui {
class TZ3PageForm;
}

namespace varnix {

class TZ3Page final : public QWidget {
    Q_OBJECT
public:
    explicit TZ3Page(IPageHost& host, QWidget* parent = nullptr);
    ~TZ3Page() override;

    void ApplyTexts();

    // Read the page for a save; a numeric field that does not convert refuses with a message
    // naming its label and gives nothing.
    std::optional<TBaseParam> ReadZ3BaseParams();
    std::optional<TPortParam> ReadZ3PortParams();
    // btn_Z3NetSet: plans the Z3 save from the page and hands it to the host.
    void btn_Z3NetSetClick();

    void ApplyZ3WorkMode();
    void ApplyAddrType();

    TZ3Form ReadForm() const;
    void WriteForm(const TZ3Form& form);

private:
    IPageHost& host_;
    std::unique_ptr<Ui::TZ3PageForm> ui_;
};

} // namespace varnix
