#include "engine/save_executor.h"

#include "lan/lan_protocol.h"

#include <thread>

namespace varnix {

void SendSaveStep(TUdpSvr& svr, const TSaveStep& step, const TLanTarget& t, std::string_view user,
                  std::string_view password) {
    const bool z3 = step.Port == PortZ3;
    if (step.Payload.empty()) {
        if (z3)
            svr.SendCommandZ3(t.Binding, t.Mac, user, password, step.Code);
        else
            svr.SendCommandZ2(t.Binding, t.Mac, user, password, step.Code);
    } else {
        if (z3)
            svr.SendBlockZ3(t.Binding, t.Mac, step.Code, user, password, step.Payload);
        else
            svr.SendBlockZ2(t.Binding, t.Mac, step.Code, user, password, step.Payload);
    }
}

void ExecuteSavePlan(TUdpSvr& svr, const TSavePlan& plan, const TLanTarget& selected,
                     const TLanTarget& current, std::string_view user, std::string_view password,
                     const std::function<void(std::chrono::milliseconds)>& sleep) {
    if (!plan.Ok)
        return;
    for (const TSaveStep& step : plan.Steps) {
        SendSaveStep(svr, step, step.Target == TSaveTarget::CurrentDevice ? current : selected, user,
                     password);
        if (step.PauseAfterMs > 0) {
            const std::chrono::milliseconds pause(step.PauseAfterMs);
            if (sleep)
                sleep(pause);
            else
                std::this_thread::sleep_for(pause);
        }
    }
}

} // namespace varnix
