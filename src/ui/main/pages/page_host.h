#pragma once
// What a parameter page needs from the window that hosts it. The main window implements this
// interface and passes itself to each page's constructor; tests pass a small fake. A page never
// reaches into the host's widgets and the host never reaches into a page's widgets: the host
// calls the page methods (ShowZ2Params, ShowCloudParams, ..., ApplyTexts, SetLanTabActive,
// HideModbusGroup) and the page calls back through this interface.

#include "ui/common/prompts.h"

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

namespace varnix {

struct TBlockStore;
struct TSavePlan; // the ordered datagrams and pauses of one save (lan/save_plan.h)

// One device-list row as the pages need it.
struct TDeviceRef {
    int Binding = -1;        // index of the local binding the module's search reply arrived on
    QString Mac;             // MAC text as shown in the list ("00 1A 2B 3C 4D 5E")
    std::int32_t Family = 0; // 0 unknown, 2 Z2, 36 Z3 (35 Z1 only on the serial link)
    int Firmware = 0;        // firmware number; 0 when the version column is not a number
};

class IPageHost {
public:
    virtual ~IPageHost() = default;

    // Page modes: -1 initial arrangement, 0 no device, 1 Z1 page, 2 Z2 page, 3 Z3 page.
    virtual void SetPageMode(int mode) = 0;
    // One line of the operation log in the given colour.
    virtual void WriteLog(const QString& text, const QColor& colour) = 0;
    // The selected device-list row, if any.
    virtual std::optional<TDeviceRef> SelectedDevice() = 0;
    // The binding and MAC remembered at the last click-read of a Z2 row (the extended blocks of a
    // Z2 save go there); Family and Firmware are those of that row.
    virtual std::optional<TDeviceRef> CurrentDevice() = 0;
    // A save pressed with no row selected: layout without a device and the no-target hint in red.
    virtual void NoTarget() = 0;
    // Sends a save plan through the window's endpoint (plain pauses between datagrams).
    virtual void RunSavePlan(const TSavePlan& plan) = 0;
    virtual IUserPrompts& Prompts() = 0;
    // The program-wide block store the endpoint fills; LAN saves encode into it in place.
    virtual TBlockStore& Store() = 0;
    // Opens the network data debugging window.
    virtual void OpenDataDebug() = 0;
};

} // namespace varnix
