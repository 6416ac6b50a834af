#include "lan/health_checks.h"

#include "core/types.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace varnix {

namespace {

std::string MacKeyOf(const std::string& mac) {
    std::string key;
    for (const char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return key;
}

// Rows grouped by a key, keeping only groups whose rows carry at least two distinct MACs (a
// module that answered twice is one module, not a conflict).
void SharedByDistinctMacs(const std::vector<THealthModule>& modules, THealthKind kind,
                          std::string (*keyOf)(const THealthModule&), std::vector<THealthFinding>& out) {
    std::map<std::string, std::vector<int>> groups;
    std::vector<std::string> order;
    for (int i = 0; i < static_cast<int>(modules.size()); ++i) {
        const std::string key = keyOf(modules[static_cast<std::size_t>(i)]);
        if (key.empty())
            continue;
        auto [it, added] = groups.try_emplace(key);
        if (added)
            order.push_back(key);
        it->second.push_back(i);
    }
    for (const std::string& key : order) {
        const std::vector<int>& rows = groups[key];
        std::set<std::string> macs;
        for (const int r : rows)
            macs.insert(MacKeyOf(modules[static_cast<std::size_t>(r)].Mac));
        if (macs.size() >= 2)
            out.push_back(THealthFinding{kind, rows, key, {}});
    }
}

std::string IpOf(const THealthModule& m) {
    return m.Ip;
}
std::string NameOf(const THealthModule& m) {
    return m.Name;
}

void TwoAdapters(const std::vector<THealthModule>& modules, std::vector<THealthFinding>& out) {
    std::map<std::string, std::vector<int>> byMac;
    std::vector<std::string> order;
    for (int i = 0; i < static_cast<int>(modules.size()); ++i) {
        const std::string key = MacKeyOf(modules[static_cast<std::size_t>(i)].Mac);
        auto [it, added] = byMac.try_emplace(key);
        if (added)
            order.push_back(key);
        it->second.push_back(i);
    }
    for (const std::string& key : order) {
        const std::vector<int>& rows = byMac[key];
        std::set<int> bindings;
        for (const int r : rows)
            bindings.insert(modules[static_cast<std::size_t>(r)].Binding);
        if (bindings.size() >= 2)
            out.push_back(THealthFinding{
                THealthKind::TwoAdapters, rows, modules[static_cast<std::size_t>(rows.front())].Mac, {}});
    }
}

void OutsideSubnet(const std::vector<THealthModule>& modules, const std::vector<THealthBinding>& bindings,
                   std::vector<THealthFinding>& out) {
    for (int i = 0; i < static_cast<int>(modules.size()); ++i) {
        const THealthModule& m = modules[static_cast<std::size_t>(i)];
        if (m.Binding < 0 || m.Binding >= static_cast<int>(bindings.size()))
            continue;
        const THealthBinding& b = bindings[static_cast<std::size_t>(m.Binding)];
        std::uint32_t ip = 0, local = 0, mask = 0;
        // Without the module's address, the binding's address or its mask there is nothing to
        // compare against; an unknown is not reported as a fault.
        if (!ParseIpv4(m.Ip, ip) || !ParseIpv4(b.Address, local) || !ParseIpv4(b.Netmask, mask) || local == 0)
            continue;
        if ((ip & mask) != (local & mask))
            out.push_back(THealthFinding{THealthKind::OutsideSubnet, {i}, m.Ip, b.Address + "/" + b.Netmask});
    }
}

void Incompatible(const std::vector<THealthModule>& modules, std::vector<THealthFinding>& out) {
    for (int i = 0; i < static_cast<int>(modules.size()); ++i) {
        const THealthModule& m = modules[static_cast<std::size_t>(i)];
        if (m.Family != FamilyZ2 && m.Family != FamilyZ3)
            out.push_back(
                THealthFinding{THealthKind::IncompatibleFirmware, {i}, std::to_string(m.Firmware), {}});
    }
}

} // namespace

const char* HealthKindName(THealthKind kind) {
    switch (kind) {
    case THealthKind::DuplicateIp:
        return "duplicate-ip";
    case THealthKind::TwoAdapters:
        return "two-adapters";
    case THealthKind::OutsideSubnet:
        return "outside-subnet";
    case THealthKind::IncompatibleFirmware:
        return "incompatible-firmware";
    case THealthKind::DuplicateName:
        return "duplicate-name";
    }
    return "";
}

const char* HealthKindTextKey(THealthKind kind) {
    switch (kind) {
    case THealthKind::DuplicateIp:
        return "lang_Check_DuplicateIP";
    case THealthKind::TwoAdapters:
        return "lang_Check_TwoAdapters";
    case THealthKind::OutsideSubnet:
        return "lang_Check_OutsideSubnet";
    case THealthKind::IncompatibleFirmware:
        return "lang_Check_Incompatible";
    case THealthKind::DuplicateName:
        return "lang_Check_DuplicateName";
    }
    return "";
}

bool ParseIpv4(const std::string& text, std::uint32_t& out) {
    std::uint32_t value = 0;
    int parts = 0, digits = 0, part = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9') {
            part = part * 10 + (c - '0');
            if (++digits > 3 || part > 255)
                return false;
        } else if (c == '.') {
            if (digits == 0 || ++parts > 4)
                return false;
            value = (value << 8) | static_cast<std::uint32_t>(part);
            part = digits = 0;
        } else {
            return false;
        }
    }
    if (parts != 4)
        return false;
    out = value;
    return true;
}

std::vector<THealthFinding> RunHealthChecks(const std::vector<THealthModule>& modules,
                                            const std::vector<THealthBinding>& bindings) {
    std::vector<THealthFinding> out;
    SharedByDistinctMacs(modules, THealthKind::DuplicateIp, &IpOf, out);
    TwoAdapters(modules, out);
    OutsideSubnet(modules, bindings, out);
    Incompatible(modules, out);
    SharedByDistinctMacs(modules, THealthKind::DuplicateName, &NameOf, out);
    return out;
}

} // namespace varnix
