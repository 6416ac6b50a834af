// Health checks over a search result: each check fires on a crafted fleet, a clean fleet is silent.

#include "core/types.h"
#include "lan/health_checks.h"

#include <gtest/gtest.h>

using namespace varnix;

namespace {

const std::vector<THealthBinding> TwoLans{{"10.77.0.1", "255.255.255.0"}, {"10.78.0.1", "255.255.0.0"}};

THealthModule M(const std::string& ip, const std::string& name, const std::string& mac, int binding = 0,
                std::int32_t family = FamilyZ2) {
    return THealthModule{ip, name, mac, 4017, family, binding};
}

std::vector<std::pair<THealthKind, std::vector<int>>> Summary(const std::vector<THealthFinding>& f) {
    std::vector<std::pair<THealthKind, std::vector<int>>> out;
    for (const auto& x : f)
        out.emplace_back(x.Kind, x.Rows);
    return out;
}

} // namespace

TEST(HealthChecks, CleanFleetIsSilent) {
    // Same module answering twice on one binding, different MACs in two subnets, Z3 and Z2.
    const std::vector<THealthModule> fleet{
        M("10.77.0.10", "a", "00 1A 2B 3C 4D 01"), M("10.77.0.10", "a", "00:1a:2b:3c:4d:01"),
        M("10.78.200.3", "b", "00 1A 2B 3C 4D 02", 1, FamilyZ3), M("10.77.0.11", "", "00 1A 2B 3C 4D 03"),
        M("10.77.0.12", "", "00 1A 2B 3C 4D 04")};
    EXPECT_TRUE(RunHealthChecks(fleet, TwoLans).empty());
}

TEST(HealthChecks, EachCheckFiresOnItsRows) {
    const std::vector<THealthModule> fleet{
        M("10.77.0.10", "pump", "00 1A 2B 3C 4D 01"),  // 0: shares IP with 1
        M("10.77.0.10", "valve", "00 1A 2B 3C 4D 02"), // 1
        M("10.77.0.20", "pump", "00 1A 2B 3C 4D 03"),  // 2: shares name with 0
        M("192.168.0.7", "x", "00 1A 2B 3C 4D 04"),    // 3: outside 10.77.0.0/24
        M("192.168.0.7", "x", "00-1A-2B-3C-4D-04", 1), // 4: same module via the second adapter, outside too
        M("10.77.0.30", "old", "00 1A 2B 3C 4D 05", 0, FamilyUnknown), // 5
    };
    const auto f = RunHealthChecks(fleet, TwoLans);
    using K = THealthKind;
    const std::vector<std::pair<K, std::vector<int>>> want{
        {K::DuplicateIp, {0, 1}}, {K::TwoAdapters, {3, 4}},       {K::OutsideSubnet, {3}},
        {K::OutsideSubnet, {4}},  {K::IncompatibleFirmware, {5}}, {K::DuplicateName, {0, 2}}};
    EXPECT_EQ(Summary(f), want);
    EXPECT_EQ(f[0].Subject, "10.77.0.10");
    EXPECT_EQ(f[2].Local, "10.77.0.1/255.255.255.0");
    EXPECT_EQ(f[4].Subject, "4017");
    EXPECT_EQ(f[5].Subject, "pump");
    EXPECT_STREQ(HealthKindName(K::OutsideSubnet), "outside-subnet");
}

TEST(HealthChecks, UnknownMaskOrBadAddressIsNotReported) {
    const std::vector<THealthBinding> unknown{{"10.77.0.1", ""}, {"0.0.0.0", "255.0.0.0"}};
    const std::vector<THealthModule> fleet{M("192.168.0.7", "", "01"), M("192.168.0.8", "", "02", 1),
                                           M("not-an-ip", "", "03"), M("10.0.0.1", "", "04", 7)};
    EXPECT_TRUE(RunHealthChecks(fleet, unknown).empty());
    std::uint32_t v = 0;
    EXPECT_TRUE(ParseIpv4("255.255.255.0", v));
    EXPECT_EQ(v, 0xFFFFFF00u);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4 ", "0001.2.3.4"})
        EXPECT_FALSE(ParseIpv4(bad, v)) << bad;
}
