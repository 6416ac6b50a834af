#pragma once
// TSerialLink: the serial tab and the serial save buttons of the pages. It owns the port
// component (cm1) and runs each operation as a job of the engine (open, send, take the replies,
// close): a button starts the job and returns at once, and the window stays responsive while
// the job waits for replies and pauses between frames. One operation at a time: Read Config is
// disabled while one runs and a second is refused. What the jobs report becomes the log and hex
// lines: the open, every frame sent, every chunk received, the pages filled from the replies.
//
// Two rules keep a save from leaving a module half-written: every field is read and converted
// before the port opens (a field that does not convert refuses the save, nothing is sent), and
// the Z2 frames are encoded into a copy of the blocks of the last 137-byte reply read from the
// same port, so settings the page does not show go back exactly as the module reported them.

#include "core/blocks.h"
#include "engine/serial_job.h"
#include "inventory/snapshot_blocks.h"
#include "serial/comm.h"
#include "ui/main/window_journal.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QPushButton;
class QRadioButton;

namespace varnix {

class IPageHost;
class TClock;
class TComPortBox;
class TPageSet;

struct TSerialLinkParts {
    TComPortBox* SelectCom = nullptr; // cbb_SelectCom
    QComboBox* SoftBitRate = nullptr; // cbbSoftBitRate
    QPushButton* ComRead = nullptr;   // btn_ComRead
    QRadioButton* Z1 = nullptr;       // rbZ1
    QRadioButton* Z2 = nullptr;       // rbZ2
    QRadioButton* Z3 = nullptr;       // rbZ3
    TPageSet* Pages = nullptr;        // the Z1 and Z2 pages show reads and give saves
    IPageHost* Host = nullptr;        // log lines, page mode, prompts, block store
    // A hex-pane line in a colour; an invalid colour is the pane's own text colour.
    std::function<void(const QString&, const QColor&)> Hex;
    // Clears the hex pane and the log pane.
    std::function<void()> ClearPanes;
    // The clock of the pauses between Z2 frames and of the reply waits; RealClock() when null.
    TClock* Clock = nullptr;
    // Port names; GetComPortList() when empty.
    std::function<std::vector<std::string>()> PortList;
    // Where journal.jsonl is kept; each save is recorded there.
    QString ProgramDir;
};

class TSerialLink final : public QObject {
    Q_OBJECT
public:
    TSerialLink(TSerialLinkParts parts, QObject* parent = nullptr);
    ~TSerialLink() override;

    TComm& Comm() { return cm1_; }
    // A read or a save is running.
    bool Busy() const;
    // Ends the running operation at once: the port closes and nothing more is logged for it. A
    // save cut short after its first frame is journalled with the acknowledgements it had.
    void Cancel();

    // --- The serial tab. ---
    void RefreshComPortList();
    void cbb_SelectComCloseUp();
    // Selecting the serial tab: a fresh list and the close-up rule.
    void TabSelected();

    // --- Operations (the buttons); each returns at once. ---
    void ReadConfig(); // btn_ComRead
    void SaveZ1();     // btn_ComSet (Z1 and Z3 modules)
    void SaveZ2();     // btn_Z2ComSet

    // Cancels what runs, closes the port and says so (the window's close).
    void CloseComPort();
    // The family the radios choose: 35 Z1, 2 Z2, 36 Z3; 0 when none is checked.
    std::int32_t ChosenFamily() const;
    // Called with every Z2 read that came whole (parameters and follow-up): the fleet inventory
    // keeps it as a snapshot of the module.
    void SetZ2ReadObserver(std::function<void(const TSerialZ2Read&)> observer) {
        z2ReadObserver_ = std::move(observer);
    }

signals:
    // The running operation has ended (done or cancelled).
    void OperationFinished();

private:
    // A save being sent and what its journal line will say.
    struct TSaveRecord {
        TJournalEntry Entry;
        std::vector<TWrittenBlock> Blocks;
        int Frames = 0;
    };
    TSerialPort Port() const;
    void WireJob(TSerialJob& job);
    void BeginOperation();
    void EndOperation();
    void ShowSent(const TIdBytes& frame);
    void ShowChunk(std::span<const std::uint8_t> chunk, TSerialChunk use);
    void ShowReply(std::span<const std::uint8_t> chunk, TSerialChunk use);
    void ReadDone(const TSerialReadResult& r);
    void SaveDone(const TSerialSaveResult& r);
    void StartSave(TSaveRecord record, std::vector<TIdBytes> frames);
    // The lines of an operation whose port did not open: why, then one send failure per frame.
    void LogNotOpen(const TSerialOpenError& error, int frames);
    void Log(const QString& text, const QColor& colour);
    QString Text(const char* key) const;
    void JournalSave(const TSaveRecord& record, int acks, const QString& outcome);

    TSerialLinkParts p_;
    std::function<void(const TSerialZ2Read&)> z2ReadObserver_;
    TComm cm1_; // before the jobs: they drive it until they are gone
    std::unique_ptr<TSerialReadJob> read_;
    std::unique_ptr<TSerialSaveJob> save_;
    QString opPort_; // the port name of the running operation
    std::optional<TSaveRecord> saving_;
    // The last 137-byte reply's blocks and the port they came from.
    std::optional<std::array<std::uint8_t, ParamReplySize>> lastZ2Blocks_;
    QString lastZ2Port_;
    // The last Z1/Z3 reply's values and the port they came from (the journal's old bytes).
    std::optional<TZ1Params> lastZ1_;
    QString lastZ1Port_;
};

} // namespace varnix
