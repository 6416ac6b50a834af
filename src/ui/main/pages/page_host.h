#pragma once
// What a parameter page (and the serial link beside them) needs from the window that hosts it.
// The main window implements this interface and passes itself to each page's constructor; tests
// pass a small fake. A page never reaches into the host's widgets and the host never reaches into
// a page's widgets: the host calls the page methods (ShowSettings, ReadSettings, ClearSettings,
// ApplyTexts, SetLanTabActive, ...) and reacts to the pages' save signals; a page calls back
// through this interface only for prompts and the debugging window.

#include "lang/apply_texts.h"
#include "ui/common/prompts.h"

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

namespace varnix {

// One device-list row as the window's save and read paths need it.
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
    // Questions and messages (the custom baud rate, a field that does not read).
    virtual IUserPrompts& Prompts() = 0;
    // Opens the network data debugging window.
    virtual void OpenDataDebug() = 0;
    // The texts of the host's language list (its application context's).
    virtual const TTexts& Texts() const = 0;
};

} // namespace varnix
