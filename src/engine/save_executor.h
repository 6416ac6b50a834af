#pragma once
// Sends a save plan through an endpoint, with the plan's pauses as plain sleeps: the calling
// (GUI) thread dispatches nothing meanwhile, so acknowledgements queue up in the bindings' receive
// buffers and are handled once the sequence is done. Nothing waits for an acknowledgement.

#include "lan/save_plan.h"
#include "lan/udp_svr.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace varnix {

// A module as the commands address it: the binding it was found on and its MAC text.
struct TLanTarget {
    int Binding = -1;
    std::string Mac;
};

// Sends one step: to PortZ3 through SendBlockZ3/SendCommandZ3, else through SendBlockZ2/
// SendCommandZ2; a step without payload as a plain command. No pause.
void SendSaveStep(TUdpSvr& svr, const TSaveStep& step, const TLanTarget& target, std::string_view user,
                  std::string_view password);

// Sends every step of an Ok plan in order: steps for PortZ3 through SendBlockZ3/SendCommandZ3,
// the others through SendBlockZ2/SendCommandZ2, a step without payload as a plain command; after
// each step sleeps its PauseAfterMs. A plan that is not Ok sends nothing. `sleep` replaces the
// plain sleep (std::this_thread::sleep_for) when given.
void ExecuteSavePlan(TUdpSvr& svr, const TSavePlan& plan, const TLanTarget& selected,
                     const TLanTarget& current, std::string_view user, std::string_view password,
                     const std::function<void(std::chrono::milliseconds)>& sleep = {});

} // namespace varnix
