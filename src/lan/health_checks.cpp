#include "lan/health_checks.h"

#include "core/convert.h"
#include "core/types.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_map>

namespace varnix {

namespace {

// Rows grouped by a key in the order of each key's first row; empty keys are left out.
std::vector<std::vector<int>> GroupRows(const std::vector<std::string_view>& keys) {
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(keys.size());
    std::vector<std::vector<int>> groups;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].empty())
            continue;
        const auto [it, added] = index.try_emplace(keys[i], groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(static_cast<int>(i));
    }
    return groups;
}

// Whether the rows carry at least two distinct values of `of` (a module that answered twice is
// one module, not a conflict; one module seen twice on one binding is not two adapters).
template <typename T, typename Of> bool TwoDistinct(const std::vector<int>& rows, Of of) {
    const T first = of(rows.front());
    return std::any_of(rows.begin() + 1, rows.end(), [&](int r) { return of(r) != first; });
}

// Rows sharing an address or a name, where the rows carry at least two distinct MACs.
void SharedByDistinctMacs(const std::vector<THealthModule>& modules, const std::vector<std::string>& macKeys,
                          THealthKind kind, std::string THealthModule::*field, const THealthSink& out) {
    std::vector<std::string_view> keys;
    keys.reserve(modules.size());
    for (const THealthModule& m : modules)
        keys.emplace_back(m.*field);
    for (std::vector<int>& rows : GroupRows(keys))
        if (rows.size() >= 2 && TwoDistinct<std::string_view>(rows, [&](int r) {
                return std::string_view(macKeys[static_cast<std::size_t>(r)]);
            })) {
            std::string subject(keys[static_cast<std::size_t>(rows.front())]);
            out(THealthFinding{kind, std::move(rows), std::move(subject), {}});
        }
}

void TwoAdapters(const std::vector<THealthModule>& modules, const std::vector<std::string>& macKeys,
                 const THealthSink& out) {
    const std::vector<std::string_view> keys(macKeys.begin(), macKeys.end());
    for (std::vector<int>& rows : GroupRows(keys))
        if (rows.size() >= 2 &&
            TwoDistinct<int>(rows, [&](int r) { return modules[static_cast<std::size_t>(r)].Binding; })) {
            std::string subject = modules[static_cast<std::size_t>(rows.front())].Mac;
            out(THealthFinding{THealthKind::TwoAdapters, std::move(rows), std::move(subject), {}});
        }
}

void OutsideSubnet(const std::vector<THealthModule>& modules, const std::vector<THealthBinding>& bindings,
                   const THealthSink& out) {
    // Without the binding's address or its mask there is nothing to compare against, and
    // without the module's address neither; an unknown is not reported as a fault.
    struct TNet {
        bool Known = false;
        std::uint32_t Local = 0, Mask = 0;
        std::string Text;
    };
    std::vector<TNet> nets(bindings.size());
    for (std::size_t b = 0; b < bindings.size(); ++b) {
        TNet& n = nets[b];
        n.Known =
            ParseIpv4(bindings[b].Address, n.Local) && ParseIpv4(bindings[b].Netmask, n.Mask) && n.Local != 0;
        n.Text = bindings[b].Address + "/" + bindings[b].Netmask;
    }
    for (int i = 0; i < static_cast<int>(modules.size()); ++i) {
        const THealthModule& m = modules[static_cast<std::size_t>(i)];
        if (m.Binding < 0 || m.Binding >= static_cast<int>(nets.size()))
            continue;
        const TNet& n = nets[static_cast<std::size_t>(m.Binding)];
        std::uint32_t ip = 0;
        if (n.Known && ParseIpv4(m.Ip, ip) && (ip & n.Mask) != (n.Local & n.Mask))
            out(THealthFinding{THealthKind::OutsideSubnet, {i}, m.Ip, n.Text});
    }
}

void Incompatible(const std::vector<THealthModule>& modules, const THealthSink& out) {
    for (int i = 0; i < static_cast<int>(modules.size()); ++i) {
        const THealthModule& m = modules[static_cast<std::size_t>(i)];
        if (m.Family != FamilyZ2 && m.Family != FamilyZ3)
            out(THealthFinding{THealthKind::IncompatibleFirmware, {i}, std::to_string(m.Firmware), {}});
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

void VisitHealthFindings(const std::vector<THealthModule>& modules,
                         const std::vector<THealthBinding>& bindings, const THealthSink& sink) {
    std::vector<std::string> macKeys;
    macKeys.reserve(modules.size());
    for (const THealthModule& m : modules)
        macKeys.push_back(MacKey(m.Mac));
    SharedByDistinctMacs(modules, macKeys, THealthKind::DuplicateIp, &THealthModule::Ip, sink);
    TwoAdapters(modules, macKeys, sink);
    OutsideSubnet(modules, bindings, sink);
    Incompatible(modules, sink);
    SharedByDistinctMacs(modules, macKeys, THealthKind::DuplicateName, &THealthModule::Name, sink);
}

std::vector<THealthFinding> RunHealthChecks(const std::vector<THealthModule>& modules,
                                            const std::vector<THealthBinding>& bindings) {
    std::vector<THealthFinding> out;
    VisitHealthFindings(modules, bindings, [&out](THealthFinding&& f) { out.push_back(std::move(f)); });
    return out;
}

} // namespace varnix
