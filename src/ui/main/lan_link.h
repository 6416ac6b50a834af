#pragma once
// TLanLink: the window's module work over the LAN, on the engine's jobs. A click on a device row
// reads that module on a lane of its own and shows its values on its family's page as they come;
// Save Config builds the save from that very read with the page's values on top, sends it with its
// pauses as timers (the window stays responsive), logs each acknowledgement as it arrives, journals
// the blocks written (old -> new bytes) with the acknowledgements, then searches the module again
// under its MAC, reads it back and says in one line whether every field holds what was sent.
// Restart and reset are plain commands on a lane. One save at a time; a click on another row
// during a save reads that row and leaves the save running.

#include "engine/clock.h"
#include "engine/lane_pool.h"
#include "engine/read_job.h"
#include "engine/save_job.h"
#include "engine/save_prepare.h"
#include "engine/verify_job.h"
#include "ui/main/device_list_model.h"

#include <QColor>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace varnix {

class IPageHost;
class TPageSet;

struct TLanLinkParts {
    TPageSet* Pages = nullptr; // the Z2 and Z3 pages show reads and give saves
    IPageHost* Host = nullptr; // log lines, page mode, prompts
    TClock* Clock = nullptr;   // RealClock() when null
    TUdpSvrOptions Udp;        // every lane's endpoint options
    QString ProgramDir;        // where the journal is kept
    std::function<TLogin()> Login;
    std::function<void()> AskPassword; // a module answered 'P'
    // Every datagram of every lane, for the hex pane.
    std::function<void(const TIdBytes&, const std::string&, const std::string&, std::uint16_t, std::uint16_t)>
        Sent, Received;
    // A datagram of a module that is no answer (an unknown length, another series): its status.
    std::function<void(std::int32_t code, const std::string& text)> Status;
    // A saved module answered again: its row's new address, name and MAC.
    std::function<void(const TFoundModule& before, const TFoundModule& now)> ModuleMoved;
    int VerifyTimeoutMs = 15000;
};

class TLanLink final : public QObject {
    Q_OBJECT
public:
    TLanLink(TLanLinkParts parts, QObject* parent = nullptr);
    ~TLanLink() override;

    // The module a device row stands for (`local`: the address of the row's binding).
    static TFoundModule ModuleOf(const TDeviceRow& row, const std::string& local);

    // A click on a Z2 or Z3 row: the pages forget what they showed and the module is read.
    void Read(const TFoundModule& module);
    // Save Config of a page: `selected` is the row selected now (none: nothing to save).
    void Save(std::int32_t family, const std::optional<TFoundModule>& selected);
    // A save of these assignments into `module`, built from its last read (lenient: an assignment
    // the module cannot take is left out and logged), then journalled and verified as a page's
    // save is. A stored configuration written back goes this way. False when nothing was sent.
    bool SaveAssignments(const TFoundModule& module, const QList<TAssignment>& list);
    // Whether the last read that ended well is of this module.
    bool LastReadIs(const TFoundModule& module) const;
    // Restart (0x02) or restore factory settings (0x0B).
    void Command(const TFoundModule& module, std::uint8_t code);

    bool Saving() const { return state_ != TSaveState::Idle; }
    bool Reading() const { return read_ && read_->Running(); }
    // The module of the last read (MAC without spaces; empty before the first).
    QString CurrentMac() const;
    // The last read that ended well, and its module.
    const std::optional<TReadResult>& LastRead() const { return lastRead_; }
    TLanePool& Pool() { return pool_; }
    // Sees every read that ended well: a row's read and a save's read-back.
    void SetReadObserver(std::function<void(const TFoundModule&, const TReadResult&)> observer) {
        readObserver_ = std::move(observer);
    }
    TClock& Clock() { return clock_; }

signals:
    // A save has ended (verified or not); the page is editable again.
    void SaveFinished(bool verified);

private:
    void ShowProgress();
    void ReadDone(TReadResult r);
    void StartSave(const TPreparedSave& save);
    bool SaveRefused(const TPreparedSave& save);
    void LogAck(const TAck& ack);
    void SaveDone(const TSaveReport& report);
    void StartVerify();
    void VerifyDone(const TVerifyOutcome& v);
    void EndSave(bool verified);
    void Log(const QString& text, const QColor& colour);
    QString Text(const char* key) const;

    TLanLinkParts p_;
    TClock& clock_;
    TLanePool pool_;
    TFoundModule reading_; // the module of the read running or last done
    TLane* readLane_ = nullptr;
    std::unique_ptr<TReadJob> read_;
    bool shown_ = false; // the read's first 130-byte reply has been shown
    std::optional<TReadResult> lastRead_;
    TFoundModule lastModule_;

    enum class TSaveState { Idle, Sending, Verifying };
    TSaveState state_ = TSaveState::Idle;
    // The save running: its module, what it sends, the read it was built from.
    TFoundModule saving_;
    TPreparedSave prepared_;
    TReadResult savedFrom_;
    TLane* saveLane_ = nullptr;
    std::unique_ptr<TSaveJob> save_;
    std::unique_ptr<TVerifyJob> verify_;
    std::int64_t savedAt_ = 0;
    std::vector<std::unique_ptr<TSaveJob>> commands_;
    std::function<void(const TFoundModule&, const TReadResult&)> readObserver_;
};

} // namespace varnix
