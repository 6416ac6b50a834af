#include "lan/save_plan.h"

#include "core/blocks.h"
#include "core/convert.h"
#include "lan/lan_protocol.h"

#include <array>
#include <span>

namespace varnix {

const char* SaveFieldName(TSaveField field) {
    switch (field) {
    case TSaveField::StaticIP:
        return "StaticIP";
    case TSaveField::GatewayIP:
        return "GatewayIP";
    case TSaveField::SubnetMask:
        return "SubnetMask";
    case TSaveField::UserMAC:
        return "UserMAC";
    case TSaveField::Dns:
        return "Dns";
    case TSaveField::HeartInterval:
        return "HeartbeatInterval";
    case TSaveField::PollTimeout:
        return "ModbusPollTimeout";
    case TSaveField::PollInterval:
        return "ModbusPollInterval";
    case TSaveField::ModName:
        return "ModName";
    case TSaveField::UserName:
        return "UserName";
    case TSaveField::Password:
        return "Password";
    case TSaveField::RemoteIP:
        return "RemoteIP";
    case TSaveField::DeviceNo:
        return "DeviceNo";
    case TSaveField::CommPassword:
        return "CommPassword";
    case TSaveField::HeartbeatData:
        return "HeartbeatData";
    case TSaveField::RegisterData:
        return "RegisterData";
    case TSaveField::HttpdURL:
        return "HttpdURL";
    case TSaveField::HttpdHeader:
        return "HttpdHeader";
    }
    return "";
}

namespace {

// Thrown inside planning only; turned into TSavePlan::Error.
struct TFieldFault {
    TSaveField Field;
    std::string Text;
    std::string Why; // empty: "'Text' is not a valid value"
};

TSavePlan Failed(const TFieldFault& e) {
    TSavePlan plan;
    plan.Ok = false;
    plan.Error.Field = e.Field;
    plan.Error.Text = e.Text;
    plan.Error.Message = std::string(SaveFieldName(e.Field)) + ": " +
                         (e.Why.empty() ? "'" + e.Text + "' is not a valid value" : e.Why);
    return plan;
}

// A text is written whole or not at all: cutting it to its field could split a GBK or UTF-8
// character and would save something the user did not type.
void CheckFits(TSaveField field, const std::string& text, std::size_t max) {
    if (text.size() > max)
        throw TFieldFault{field, text,
                          std::to_string(text.size()) + " bytes, at most " + std::to_string(max) + " fit"};
}

void CheckFixedTexts(const TBaseParam& base, const TPortParam& port) {
    CheckFits(TSaveField::ModName, base.ModName, ModNameMax);
    CheckFits(TSaveField::UserName, base.UserName, LoginMax);
    CheckFits(TSaveField::Password, base.Password, LoginMax);
    CheckFits(TSaveField::RemoteIP, port.RemoteIP, RemoteIPMax);
}

void CheckIP(TSaveField field, const std::string& text) {
    std::array<std::uint8_t, 4> scratch{};
    try {
        IPTextToBytes(text, scratch);
    } catch (const ConversionError&) {
        throw TFieldFault{field, text, {}};
    }
}

// The base encoder stops at the first text it cannot read; checking each text first names the
// field and keeps a half-encoded block out of the store.
void CheckBaseTexts(const TBaseParam& base, bool withDns) {
    CheckIP(TSaveField::StaticIP, base.StaticIP);
    CheckIP(TSaveField::GatewayIP, base.GatewayIP);
    CheckIP(TSaveField::SubnetMask, base.SubnetMask);
    std::array<std::uint8_t, 6> mac{};
    try {
        MacTextToBytes(base.UserMAC, mac);
    } catch (const ConversionError&) {
        throw TFieldFault{TSaveField::UserMAC, base.UserMAC, {}};
    }
    if (withDns)
        CheckIP(TSaveField::Dns, base.Dns);
}

std::int64_t Number(TSaveField field, const std::string& text) {
    try {
        return TextToInt(text);
    } catch (const ConversionError&) {
        throw TFieldFault{field, text, {}};
    }
}

template <std::size_t N>
TIdBytes Bytes(const std::array<std::uint8_t, N>& a, std::size_t offset, std::size_t count) {
    return TIdBytes(a.begin() + static_cast<std::ptrdiff_t>(offset),
                    a.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

TSaveStep Step(std::uint8_t code, std::uint16_t port, TIdBytes payload, int pause) {
    return TSaveStep{code, port, std::move(payload), pause};
}

} // namespace

TSavePlan PlanZ2Save(const TZ2SaveInput& in, TBlockStore& store) {
    // Everything is encoded into a copy; the store takes it only when the whole plan stands.
    TBlockStore work = store;
    TSavePlan plan;
    try {
        const auto& cond = in.Conditions;
        const bool newFirmware = in.Firmware > HeartFirmwareAbove;

        CheckBaseTexts(in.Base, true);
        CheckFixedTexts(in.Base, in.Port);
        EncodeBaseBlock(FamilyZ2, in.Base, work.Base(), work.KeptStatus);
        EncodePortBlock(FamilyZ2, in.Port, work.Port(), work.KeptSocketFlags);
        plan.Steps.push_back(Step(CmdWriteBase, PortZ2, Bytes(work.BasePort, 0, BaseBlockSize), SavePauseMs));
        plan.Steps.push_back(
            Step(CmdWritePort, PortZ2, Bytes(work.BasePort, BaseBlockSize, PortBlockSize), SavePauseMs));

        if (cond.RegistrationIndex == 3) {
            CheckFits(TSaveField::DeviceNo, in.Cloud.DeviceNo, DeviceNoMax);
            CheckFits(TSaveField::CommPassword, in.Cloud.CommPassword, CommPasswordMax);
            EncodeCloudBlock(in.Cloud, work.Cloud);
            plan.Steps.push_back(
                Step(CmdWriteCloud, PortZ2, Bytes(work.Cloud, 0, CloudBlockSize), SavePauseMs));
        }
        if (newFirmware) {
            const std::int64_t interval = Number(TSaveField::HeartInterval, in.Heart.IntervalText);
            if (!in.Heart.HeartIsHex)
                CheckFits(TSaveField::HeartbeatData, in.Heart.HeartText, HeartDataMax);
            if (!in.Heart.RegIsHex)
                CheckFits(TSaveField::RegisterData, in.Heart.RegText, HeartDataMax);
            EncodeHeartBlock(in.Heart.Flags, static_cast<int>(interval), in.Heart.HeartText,
                             in.Heart.HeartIsHex, in.Heart.RegText, in.Heart.RegIsHex, work.Heart);
            plan.Steps.push_back(
                Step(CmdWriteHeart, PortZ2, Bytes(work.Heart, 0, HeartBlockSize), SavePauseMs));
        }
        if (cond.WorkModeIndex == 4 && newFirmware) {
            CheckFits(TSaveField::HttpdURL, in.HttpdUrl, HttpdUrlMax);
            CheckFits(TSaveField::HttpdHeader, in.HttpdHeader, HttpdHeaderMax);
            EncodeHttpdBlocks(in.HttpdUrl, in.HttpdHeader, work.HttpdUrl(), work.HttpdHeader());
            plan.Steps.push_back(
                Step(CmdWriteHttpdUrl, PortZ2, Bytes(work.Httpd, 0, HttpdUrlBlockSize), SavePauseMs));
            plan.Steps.push_back(Step(CmdWriteHttpdHeader, PortZ2,
                                      Bytes(work.Httpd, HttpdUrlBlockSize, HttpdHeaderBlockSize),
                                      SavePauseMs));
        }
        if (cond.ModbusGroupVisible) {
            const int kind = cond.PollingVisible ? 7 : 1;
            TModbusParam values = in.Modbus;
            if (kind == 7) {
                // The module accepts poll time-outs from 10 on; a smaller one is raised to 10 and
                // the page shows the corrected value.
                if (Number(TSaveField::PollTimeout, values.PollTimeout) < 10) {
                    values.PollTimeout = "10";
                    plan.CorrectedPollTimeout = values.PollTimeout;
                }
                Number(TSaveField::PollInterval, values.PollInterval);
            }
            TIdBytes block = EncodeModbusBlock(kind, values);
            work.StoreModbus(block);
            plan.Steps.push_back(Step(CmdWriteModbus, PortZ2, std::move(block), 0));
        }
        plan.Steps.push_back(Step(CmdRestart, PortZ2, {}, 0));
    } catch (const TFieldFault& e) {
        return Failed(e);
    }
    plan.Ok = true;
    store = work;
    return plan;
}

TSavePlan PlanZ3Save(const TZ3SaveInput& in, TBlockStore& store) {
    TBlockStore work = store;
    TSavePlan plan;
    try {
        CheckBaseTexts(in.Base, false); // the Z3 encoder carries the DNS bytes
        CheckFixedTexts(in.Base, in.Port);
        EncodeBaseBlock(FamilyZ3, in.Base, work.Base(), work.KeptStatus);
        EncodePortBlock(FamilyZ3, in.Port, work.Port(), work.KeptSocketFlags);
    } catch (const TFieldFault& e) {
        return Failed(e);
    }
    plan.Steps.push_back(Step(CmdWriteBase, PortZ3, Bytes(work.BasePort, 0, BaseBlockSize), SavePauseMs));
    plan.Steps.push_back(
        Step(CmdWritePort, PortZ3, Bytes(work.BasePort, BaseBlockSize, PortBlockSize), SavePauseMs));
    plan.Steps.push_back(Step(CmdZ3SaveEnd, PortZ3, {}, 0));
    plan.Ok = true;
    store = work;
    return plan;
}

std::span<std::uint8_t> WrittenBlock(TBlockStore& store, std::uint8_t code) {
    switch (code) {
    case CmdWriteBase:
        return store.Base();
    case CmdWritePort:
        return store.Port();
    case CmdWriteCloud:
        return store.Cloud;
    case CmdWriteHeart:
        return store.Heart;
    case CmdWriteHttpdUrl:
        return store.HttpdUrl();
    case CmdWriteHttpdHeader:
        return store.HttpdHeader();
    default:
        return {};
    }
}

} // namespace varnix
