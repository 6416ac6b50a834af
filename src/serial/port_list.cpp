#include "serial/port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace varnix {

namespace {

namespace fs = std::filesystem;

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// The kernel keeps ttyS0..ttyS31 whether or not a UART answers; "type" 0 means none does.
bool IsRealUart(const fs::path& entry) {
    std::error_code ec;
    if (!fs::exists(entry / "device", ec))
        return false;
    std::ifstream type(entry / "type");
    int value = 0;
    return type >> value && value != 0;
}

bool Wanted(const std::string& name, const fs::path& entry) {
    for (std::string_view prefix : {"ttyUSB", "ttyACM", "ttyAMA", "rfcomm"})
        if (StartsWith(name, prefix))
            return true;
    return StartsWith(name, "ttyS") && IsRealUart(entry);
}

// "ttyUSB10" after "ttyUSB2": the trailing number compares as a number.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9')
            --i;
        const std::string digits = s.substr(i);
        return std::pair{s.substr(0, i), digits.empty() || digits.size() > 9 ? -1L : std::stol(digits)};
    };
    return split(a) < split(b);
}

} // namespace

std::vector<std::string> GetComPortList(const std::string& sysClassTty, const std::string& devDir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysClassTty, ec)) {
        const std::string name = entry.path().filename().string();
        if (Wanted(name, entry.path()))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (std::string& name : names)
        name = (fs::path(devDir) / name).string();
    return names;
}

std::string ChooseComPort(const std::string& current, const std::vector<std::string>& found) {
    std::error_code ec;
    const fs::path path(current);
    if (!current.empty() && (std::find(found.begin(), found.end(), current) != found.end() ||
                             (path.is_absolute() && fs::exists(path, ec))))
        return current;
    return found.empty() ? std::string() : found.front();
}

} // namespace varnix
