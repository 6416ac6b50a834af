#include "model/page_rules.h"

#include "core/convert.h"

#include <limits>

namespace varnix {

namespace {

// The number a page text holds, or nothing.
std::optional<std::int64_t> NumberOf(std::string_view text) {
    try {
        return TextToInt(text);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<std::uint32_t> ParseCustomBaud(std::string_view answer) {
    auto n = NumberOf(answer);
    if (!n || *n <= 0 || *n > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

bool PortTextShouldClear(std::string_view text) {
    if (text.empty())
        return false;
    auto n = NumberOf(text);
    return !n || *n > 65535 || *n <= 0;
}

bool PollTimeoutShouldClear(std::string_view text) {
    if (text.size() <= 1)
        return false;
    auto n = NumberOf(text);
    return !n || *n > 9999 || *n < 10;
}

bool PollIntervalShouldClear(std::string_view text) {
    if (text.empty())
        return false;
    auto n = NumberOf(text);
    return !n || *n > 9999 || *n < 0;
}

std::optional<std::string_view> EmptyEditDefault(std::string_view field) {
    if (field == "ShortConnTime")
        return "3";
    if (field == "RestartTimeout" || field == "DeviceID")
        return "0";
    return std::nullopt;
}

std::optional<std::string> RaisedPollTimeout(std::string_view text) {
    const auto n = NumberOf(text);
    if (n && *n < 10)
        return std::string("10");
    return std::nullopt;
}

std::string HttpdHeaderForModule(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string ToggleHexText(const std::string& shown, bool nowHex) {
    return nowHex ? TextToHex(shown) : HexToText(shown);
}

TWorkModeView WorkModeRule(int workMode, bool lanTabActive) {
    TWorkModeView v;
    v.ModbusTCPEnabled = workMode == 1 || workMode == 3;
    v.TCPServerEnabled = workMode == 3;
    v.RemoteIPEnabled = workMode != 3;
    v.GetPostEnabled = workMode == 4;
    v.HttpdGroupShown = workMode == 4 && lanTabActive;
    v.DataDebugShown = workMode != 4;
    return v;
}

TRegTypeView RegTypeRule(int regType) {
    TRegTypeView v;
    v.CloudShown = regType == 3;
    v.RegOptionsShown = regType == 1 || regType == 2;
    v.RegDataShown = regType == 2;
    return v;
}

TModbusView ModbusRule(int kind, bool modbusTcpOn, bool pollOn) {
    TModbusView v;
    if (kind != 1 && kind != 4 && kind != 7)
        return v;
    v.GroupShown = v.TcpShown = true;
    if (kind == 1)
        return v;
    v.PollShown = true;
    v.AbnormalShown = modbusTcpOn;
    v.PollSettingsShown = pollOn;
    return v;
}

} // namespace varnix
