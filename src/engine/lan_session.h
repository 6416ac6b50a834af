#pragma once
// The LAN side of varnix-cli: one TUdpSvr endpoint and event-loop waits with deadlines around
// it. Search, read, plain commands and save plans go out through the endpoint exactly as the
// windows send them; acknowledgements and replies come back through its events.

#include "core/block_store.h"
#include "core/convert.h" // MacKey
#include "engine/outcome.h"
#include "lan/save_plan.h"
#include "lan/udp_svr.h"
#include "model/module_settings.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnix {

class TModuleLane;

struct TSessionOptions {
    std::string Broadcast = "255.255.255.255";
    std::string Interface; // search and send from this local address only ("" = every address)
    bool Loopback = false; // include loopback interfaces among the local addresses
    std::uint16_t PortZ2 = 1500, PortZ3 = 1901;
    int QuietMs = 300; // a read ends when no reply arrived for this long
};

struct TLogin {
    std::string User, Password;
};

struct TFoundModule {
    std::string Ip, Name, Mac; // Mac as "00 1A 2B 3C 4D 5E"
    int Firmware = 0;
    std::int32_t Family = FamilyUnknown;
    int Binding = -1;
    std::string Local; // the local address it answered on
};

QString FamilyText(std::int32_t family); // "Z2", "Z3", "incompatible"

// One acknowledgement or error reply, as it arrived.
struct TAck {
    int Code = -1;   // byte 2 of an acknowledgement (the command it answers); -1 for a checksum error
    char Result = 0; // 'K', 'P', 'E', or 'C' (checksum error; Expected holds the module's sum)
    int Expected = 0;
};
QString AckResultText(const TAck& a);
// The acknowledgement or error an endpoint status event reports (stAck, stPswdError, stOtherError,
// stCheckError with the module's sum in `text`), from `datagram`, the datagram it came in; none
// for other events. Byte 2 of a 4-byte acknowledgement names the command it answers.
std::optional<TAck> AckOfStatus(std::int32_t code, const std::string& text, const TIdBytes& datagram);
TExit AckExit(const TAck& a); // K -> Ok, P -> Password, E/C -> ModuleError

struct TReadResult {
    TExit Status = TExit::NoAnswer;
    QString Error; // why Status is not Ok
    TReceivedBlocks Got;
    TBlockStore Store; // the module's blocks as it sent them
    TModuleSettings Settings;
    int ForeignReplies = 0; // 130-byte replies of another MAC that were ignored
};

class TLanSession {
public:
    explicit TLanSession(const TSessionOptions& options);
    ~TLanSession();

    // Sends the search request every `repeatMs` (once when 0) and collects the replies for
    // `timeoutMs`, or until `done` says enough. Replies are listed in arrival order; a module that
    // answers on two local addresses is listed twice. `onFound` sees each reply as it arrives, so
    // a caller can show it while the search goes on instead of all at once at its end.
    std::vector<TFoundModule> Search(int timeoutMs, int repeatMs = 0,
                                     const std::function<bool(const std::vector<TFoundModule>&)>& done = {},
                                     const std::function<void(const TFoundModule&)>& onFound = {});
    // Searches until every MAC answered (or the time is up); the first reply of each MAC wins.
    std::vector<TFoundModule> Find(const std::vector<std::string>& macs, int timeoutMs);
    int IncompatibleReplies() const { return incompatible_; }  // 193/256-byte replies seen
    QString BindingProblem() const { return bindingProblem_; } // "port is used" etc.

    // Sends the read (0x03) and collects replies until none came for QuietMs, at most timeoutMs.
    TReadResult Read(const TFoundModule& m, const TLogin& login, int timeoutMs);
    // Reads several modules side by side, at most `parallel` at a time, each from a port of its
    // own (TModuleLane); the results in the order asked.
    struct TReadRequest {
        TFoundModule Module;
        TLogin Login;
    };
    std::vector<TReadResult> ReadMany(const std::vector<TReadRequest>& requests, int timeoutMs, int parallel);

    // A plain command (restart 0x02 to port 1500 for every family; reset 0x0B to the family's
    // port) and its acknowledgement, waiting at most timeoutMs.
    std::vector<TAck> Command(const TFoundModule& m, const TLogin& login, std::uint8_t code, bool z3Port,
                              int timeoutMs);

    // Sends a save plan through the executor (its pauses are plain sleeps) and then collects the
    // acknowledgements that queued up meanwhile, at most waitMs for the last ones.
    std::vector<TAck> ExecutePlan(const TFoundModule& m, const TLogin& login, const TSavePlan& plan,
                                  int waitMs);

    // Saves several modules side by side, at most `parallel` at a time (TParallelSaves: each
    // module's steps in order with their pauses as timers), then waits at most waitMs for the
    // last acknowledgements. Returns each module's acknowledgements in the order given; `onDone(i,
    // acks)` is raised when module i's save is over (its acknowledgements in, or a second passed).
    struct TPlannedSave {
        TFoundModule Module;
        TSavePlan Plan;
    };
    std::vector<std::vector<TAck>>
    ExecutePlans(const std::vector<TPlannedSave>& saves, const TLogin& login, int parallel, int waitMs,
                 const std::function<void(int, const std::vector<TAck>&)>& onDone);

    TUdpSvr& Endpoint() { return *svr_; }

private:
    // Runs the event loop until `done` holds, the deadline passes, or (quietMs > 0) no activity
    // for quietMs after the first one. Never spins: the loop sleeps in the event dispatcher.
    void Wait(int timeoutMs, const std::function<bool()>& done, int quietMs = 0);
    void Activity();
    TUdpSvrOptions EndpointOptions(TBlockStore* store) const;
    void Lanes(std::size_t count); // makes sure lanes_ holds at least `count` lanes

    TSessionOptions options_;
    TBlockStore store_;
    std::unique_ptr<TUdpSvr> svr_;
    std::function<void()> activity_; // set while a Wait runs
    TIdBytes lastDatagram_;

    // What the current operation collects.
    std::vector<TFoundModule>* found_ = nullptr;
    std::function<void(const TFoundModule&)> onFound_;
    std::vector<TAck>* acks_ = nullptr;
    std::vector<std::unique_ptr<TModuleLane>> lanes_; // kept for the next ReadMany
    int incompatible_ = 0;
    QString bindingProblem_;
};

} // namespace varnix
