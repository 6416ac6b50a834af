#pragma once
// TSerialLink: the serial tab and the serial save buttons of the pages. It owns the port
// component (cm1) and runs each operation as open, send, a 2000 ms wait that keeps handling
// events (replies arrive during it), close. Replies are told apart by their length: 1 ('K'),
// 32 (Z1/Z3 parameters), 137 (Z2 parameters, answered with 55 C1) and 115 (Z2 cloud, heartbeat
// and registration).
//
// Two rules keep a save from leaving a module half-written: every field is read and converted
// before the port opens (a field that does not convert refuses the save, nothing is sent), and
// the Z2 frames are encoded into a copy of the blocks of the last 137-byte reply read from the
// same port, so settings the page does not show go back exactly as the module reported them.

#include "core/blocks.h"
#include "serial/comm.h"
#include "ui/main/window_journal.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <array>
#include <chrono>
#include <functional>
#include <optional>

class QComboBox;
class QPushButton;
class QRadioButton;

namespace varnix {

class IPageHost;
class TComPortBox;
class TZ1Page;
class TZ2Page;

struct TSerialLinkParts {
    TComPortBox* SelectCom = nullptr; // cbb_SelectCom
    QComboBox* SoftBitRate = nullptr; // cbbSoftBitRate
    QPushButton* ComRead = nullptr;   // btn_ComRead
    QRadioButton* Z1 = nullptr;       // rbZ1
    QRadioButton* Z2 = nullptr;       // rbZ2
    QRadioButton* Z3 = nullptr;       // rbZ3
    TZ1Page* Z1Page = nullptr;
    TZ2Page* Z2Page = nullptr;
    IPageHost* Host = nullptr; // log lines, page mode, prompts, block store
    // A hex-pane line in a colour; an invalid colour is the pane's own text colour.
    std::function<void(const QString&, const QColor&)> Hex;
    // Clears the hex pane and the log pane.
    std::function<void()> ClearPanes;
    // The plain pauses between Z2 frames; std::this_thread::sleep_for when empty.
    std::function<void(std::chrono::milliseconds)> Sleep;
    // Port names; GetComPortList() when empty.
    std::function<std::vector<std::string>()> PortList;
    // Where journal.jsonl is kept; each save is recorded there.
    QString ProgramDir;
};

class TSerialLink final : public QObject {
    Q_OBJECT
public:
    static constexpr int ReplyWaitMs = 2000;
    static constexpr std::chrono::milliseconds FramePause{500};

    TSerialLink(TSerialLinkParts parts, QObject* parent = nullptr);
    ~TSerialLink() override;

    TComm& Comm() { return cm1_; }
    bool ComIsOpen() const { return comIsOpen_; }
    // An operation (open … close) is running; the window's close waits for it.
    bool Busy() const { return busy_; }

    // --- The serial tab. ---
    void RefreshComPortList();
    void cbb_SelectComCloseUp();
    // Selecting the serial tab: a fresh list and the close-up rule.
    void TabSelected();

    // --- Operations (the buttons). ---
    void ReadConfig(); // btn_ComRead
    void SaveZ1();     // btn_ComSet (Z1 and Z3 modules)
    void SaveZ2();     // btn_Z2ComSet

    // --- Steps. ---
    bool OpenComPort();
    void CloseComPort();
    void SendComFrame(const TIdBytes& frame);
    void HandleComData(const std::uint8_t* buffer, std::uint16_t length);
    // The family the radios choose: 35 Z1, 2 Z2, 36 Z3; 0 when none is checked.
    std::int32_t ChosenFamily() const;

signals:
    // The running operation has ended (the window may close now).
    void OperationFinished();

private:
    void RunOperation(const std::function<void()>& sends);
    void ParseZ1ComReply(std::span<const std::uint8_t> reply);
    void Log(const QString& text, const QColor& colour);
    // The journal line of a save whose `frames` were just sent: identity, blocks, the
    // acknowledgements counted while the operation ran.
    void JournalSave(TJournalEntry entry, const std::vector<TWrittenBlock>& blocks, int frames);

    TSerialLinkParts p_;
    TComm cm1_;
    bool comIsOpen_ = false;
    bool busy_ = false;
    // The last 137-byte reply's blocks and the port they came from.
    std::optional<std::array<std::uint8_t, ParamReplySize>> lastZ2Blocks_;
    QString lastZ2Port_;
    // The last Z1/Z3 reply's values and the port they came from (the journal's old bytes).
    std::optional<TZ1Params> lastZ1_;
    QString lastZ1Port_;
    int acks_ = 0; // acknowledgements since the running save began
};

} // namespace varnix
