// The simulator's module model and configuration, without sockets.

#include "config.h"
#include "module.h"
#include "state.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

using namespace varnix::sim;

namespace {

Bytes command(std::uint8_t code, const Mac& mac, const Bytes& payload = {}, const std::string& user = "vesta",
              const std::string& password = "vesta") {
    Bytes d;
    d.reserve(22 + payload.size());
    d.push_back(0xFF);
    d.push_back(static_cast<std::uint8_t>(payload.size() + 19));
    d.push_back(code);
    for (auto b : mac)
        d.push_back(b);
    for (const std::string* t : {&user, &password})
        for (std::size_t i = 0; i < 6; ++i)
            d.push_back(i < t->size() ? static_cast<std::uint8_t>((*t)[i]) : 0);
    d.insert(d.end(), payload.begin(), payload.end());
    d.push_back(sum8(d.data(), 1, d.size() - 1));
    return d;
}

ModuleDesc desc(Family f, const char* mac) {
    ModuleDesc s;
    s.family = f;
    s.mac = parseMac(mac);
    s.ip = parseIp("10.77.0.50");
    s.name = "M";
    return s;
}

// A module as the simulator makes the one at `index` of a run with this vary seed.
Module make(const ModuleDesc& d, std::uint64_t seed = 1, std::size_t index = 0) {
    return Module(d, Vary::forModule(seed, index));
}

Fleet::Result send(Fleet& fleet, Port port, const Bytes& d, double now = 0) {
    return fleet.handle(port, d.data(), d.size(), now);
}

const Mac kMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

TEST(SimConfig, ModuleDescsAcceptEveryMacSpelling) {
    for (const char* text :
         {"z2:00-1A-2B-3C-4D-5E:10.77.0.50:Line-1:4017", "z2:00:1A:2B:3C:4D:5E:10.77.0.50:Line-1:4017",
          "z2:001a2b3c4d5e:10.77.0.50:Line-1:4017"}) {
        const ModuleDesc m = parseModuleDesc(text);
        EXPECT_EQ(m.mac, kMac) << text;
        EXPECT_EQ(m.ip, (Ip4{10, 77, 0, 50})) << text;
        EXPECT_EQ(m.name, "Line-1") << text;
        EXPECT_EQ(m.firmware, 4017) << text;
    }
    EXPECT_EQ(parseModuleDesc("z3:001A2B3C4D5E").family, Family::Z3);
    for (const char* bad : {"z2", "z4:001A2B3C4D5E", "z2:001A2B3C4D", "z2:001A2B3C4D5E:10.77.0.300",
                            "z2:001A2B3C4D5E:10.77.0.5:n:70000", "z2:001A2B3C4D5E:1.2.3.4:n:12:extra"})
        EXPECT_THROW(parseModuleDesc(bad), std::invalid_argument) << bad;
}

TEST(SimConfig, GeneratedModulesCountInTheirMacAndAddress) {
    const auto mods = generatedModules(300);
    ASSERT_EQ(mods.size(), 300u);
    EXPECT_EQ(mods[0].mac, (Mac{2, 0, 0, 0, 0, 1}));
    EXPECT_EQ(mods[255].mac, (Mac{2, 0, 0, 0, 1, 0}));
    EXPECT_EQ(mods[255].ip, (Ip4{10, 0, 1, 0}));
    EXPECT_EQ(mods[299].name, "Sim-300");
}

TEST(SimConfig, JsonErrorsNameTheModule) {
    struct Case {
        const char* json;
        const char* mentions;
    };
    const Case cases[] = {
        {R"({"modules":[{"family":"z5","mac":"001A2B3C4D5E"}]})", "family"},
        {R"({"modules":[{"mac":"001A2B3C4D5E","port":"00"}]})", "port"},
        {R"({"modules":[{"mac":"001A2B3C4D5E","cloud":"zz"}]})", "cloud"},
        {R"({"modules":[{"mac":"001A2B3C4D5E","modbus":"0102"}]})", "modbus"},
        {R"({"modules":[{"mac":"001A2B3C4D5E","replies":["130","77x"]}]})", "77x"},
        {R"({"modules":[{"name":"no mac"}]})", "MAC"},
        {R"({"modules":[{"mac":"001A2B3C4D5E"}],"drop":2})", "drop"},
        {R"({"varySeed":-1})", "varySeed"},
        {R"({"varySeed":1.5})", "varySeed"},
        {R"([1,2])", "object"},
    };
    for (const auto& c : cases) {
        SimOptions o;
        try {
            parseConfigJson(c.json, o, false, false);
            ADD_FAILURE() << "accepted " << c.json;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
    }
    SimOptions o;
    o.drop = 0.25;
    parseConfigJson(R"({"modules":[{"mac":"001A2B3C4D5E","modbusKind":1}],"drop":0.5,"seed":9})", o, true,
                    false);
    EXPECT_EQ(o.drop, 0.25) << "the command line wins";
    EXPECT_EQ(o.seed, 9u);
    ASSERT_EQ(o.modules.size(), 1u);
    EXPECT_EQ(o.modules[0].modbusKind, 1);

    // The vary seed: from the file unless the command line gave one; the full 64-bit range there.
    parseConfigJson(R"({"varySeed":4294967296})", o, false, false);
    EXPECT_EQ(o.varySeed, 4294967296u);
    o.varySeed = 5;
    parseConfigJson(R"({"varySeed":6})", o, false, false);
    EXPECT_EQ(o.varySeed, 5u) << "the command line wins";
    EXPECT_EQ(parseVarySeed("18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"18446744073709551616", "-1", "", "1e3", "0x10"})
        EXPECT_THROW(parseVarySeed(bad), std::invalid_argument) << bad;
}

TEST(SimModule, IdentityComesFromAGivenBaseBlock) {
    ModuleDesc s;
    s.base = Bytes(67, 0);
    const Bytes ip{50, 0, 77, 10};
    std::copy(ip.begin(), ip.end(), s.base->begin() + 9);
    const std::string name = "From-base-block!"; // 16 characters: the search reply keeps 14
    std::copy(name.begin(), name.end(), s.base->begin() + 21);
    std::copy(kMac.begin(), kMac.end(), s.base->begin() + 53);
    const Module m = make(s);
    EXPECT_EQ(m.mac(), kMac);
    EXPECT_EQ(ipText(m.ip()), "10.77.0.50");
    const Bytes r = m.searchReply();
    EXPECT_EQ(std::string(r.begin() + 19, r.begin() + 33), "From-base-bloc");
}

TEST(SimModule, WhoListensOnWhichPort) {
    Fleet fleet;
    fleet.add(make(desc(Family::Z3, "001A2B3C4D5E")));
    // A Z3 module hears its commands on 1901 and the restart on 1500; it answers from 1901.
    auto r = send(fleet, Port::Z2, command(0x03, kMac));
    EXPECT_EQ(r.result, "ignored");
    r = send(fleet, Port::Z2, command(0x02, kMac));
    EXPECT_EQ(r.result, "K");
    ASSERT_EQ(r.replies.size(), 1u);
    EXPECT_EQ(r.replies[0].from, Port::Z3);
    // Z2-only blocks are not a Z3 module's.
    r = send(fleet, Port::Z3, command(0x0C, kMac, Bytes(50)), 1000);
    EXPECT_EQ(r.result, "E");
    // Other series answer the search only.
    Fleet others;
    others.add(make(desc(Family::Other256, "001A2B3C4D5E")));
    EXPECT_EQ(send(others, Port::Z2, command(0x02, kMac)).result, "ignored");
    r = send(others, Port::Z2, Bytes{0xFF, 0x01, 0x01, 0x02});
    ASSERT_EQ(r.replies.size(), 1u);
    EXPECT_EQ(r.replies[0].data.size(), 256u);
    // The search is heard on 1500 only.
    EXPECT_EQ(send(others, Port::Z3, Bytes{0xFF, 0x01, 0x01, 0x02}).result, "ignored");
    Fleet z2;
    z2.add(make(desc(Family::Z2, "001A2B3C4D5E")));
    EXPECT_EQ(send(z2, Port::Z2, command(0x04, kMac)).result, "E") << "0x04 ends a Z3 save only";
}

TEST(SimModule, ModbusBlockFollowsTheKind) {
    struct Case {
        int kind;
        Bytes write;
        Bytes reply;
    };
    const Case cases[] = {
        {1, {1}, {1}},
        {4, {1, 1, 0, 10}, {1, 1, 0, 10}},
        {7, {1}, {1, 0, 0, 0, 0, 0, 0}}, // a 1-byte block read as kind 7: zero-padded to 7 bytes
    };
    for (const auto& c : cases) {
        ModuleDesc s = desc(Family::Z2, "001A2B3C4D5E");
        s.modbusKind = c.kind;
        s.replies = {"modbus"};
        Fleet fleet;
        fleet.add(make(s));
        EXPECT_EQ(send(fleet, Port::Z2, command(0x24, kMac, c.write)).result, "K");
        auto r = send(fleet, Port::Z2, command(0x03, kMac));
        ASSERT_EQ(r.replies.size(), 1u);
        const Bytes& got = r.replies[0].data;
        // Kind 7 travels in 64 bytes of which only the first 7 are read.
        ASSERT_EQ(got.size(), c.kind == 7 ? 64u : c.reply.size()) << "kind " << c.kind;
        EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(c.reply.size())), c.reply)
            << "kind " << c.kind;
        EXPECT_EQ(fleet.modules()[0].blocks().modbus, c.write);
    }
}

TEST(SimModule, IgnoredWritesAndSilentModules) {
    ModuleDesc s = desc(Family::Z2, "001A2B3C4D5E");
    s.ignoreWrites = true;
    Fleet fleet;
    fleet.add(make(s));
    const Bytes before = fleet.modules()[0].blocks().port;
    auto r = send(fleet, Port::Z2, command(0x06, kMac, Bytes(63, 0x77)));
    EXPECT_EQ(r.result, "K");
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(fleet.modules()[0].blocks().port, before);
    EXPECT_TRUE(fleet.modules()[0].writes().empty());

    ModuleDesc q = desc(Family::Z2, "001A2B3C4D5E");
    q.silent = true;
    Fleet quiet;
    quiet.add(make(q));
    EXPECT_EQ(send(quiet, Port::Z2, Bytes{0xFF, 0x01, 0x01, 0x02}).replies.size(), 1u);
    r = send(quiet, Port::Z2, command(0x03, kMac));
    EXPECT_EQ(r.result, "ignored");
    EXPECT_TRUE(r.replies.empty());
    EXPECT_EQ(r.module, kMac);
}

TEST(SimModule, HttpdWritesLandInTheirHalves) {
    Fleet fleet;
    fleet.add(make(desc(Family::Z2, "001A2B3C4D5E")));
    EXPECT_EQ(send(fleet, Port::Z2, command(0x22, kMac, Bytes(101, 0xAA))).result, "K");
    EXPECT_EQ(send(fleet, Port::Z2, command(0x23, kMac, Bytes(201, 0xBB))).result, "K");
    const Bytes& h = fleet.modules()[0].blocks().httpd;
    EXPECT_EQ(Bytes(h.begin(), h.begin() + 101), Bytes(101, 0xAA));
    EXPECT_EQ(Bytes(h.begin() + 101, h.end()), Bytes(201, 0xBB));
    EXPECT_EQ(fleet.modules()[0].writes(), (std::vector<int>{0x22, 0x23}));
}

TEST(SimModule, ModulesSharingAMacAllAnswer) {
    Fleet fleet;
    fleet.add(make(desc(Family::Z2, "001A2B3C4D5E")));
    fleet.add(make(desc(Family::Z2, "001A2B3C4D5E")));
    const auto r = send(fleet, Port::Z2, command(0x02, kMac));
    EXPECT_EQ(r.replies.size(), 2u);
    EXPECT_EQ(fleet.modules()[0].restarts(), 1);
    EXPECT_EQ(fleet.modules()[1].restarts(), 1);
}

// A mask of the bits the program never interprets: whole bytes [from, from + n), then single bits.
Bytes openMask(std::size_t size, std::initializer_list<std::pair<std::size_t, std::size_t>> bytes,
               std::initializer_list<std::pair<std::size_t, std::uint8_t>> bits = {}) {
    Bytes m(size, 0);
    for (const auto& [from, n] : bytes)
        std::fill_n(m.begin() + static_cast<std::ptrdiff_t>(from), n, 0xFF);
    for (const auto& [at, mask] : bits)
        m[at] = mask;
    return m;
}

// Every sample equals the first outside `open`, and every open bit is 0 in some sample and 1 in
// another: the bytes the program reads are fixed, the ones it must not read are not.
void expectOnlyOpenBitsVary(const std::vector<Bytes>& samples, const Bytes& open, const char* what) {
    for (const Bytes& b : samples) {
        ASSERT_EQ(b.size(), open.size()) << what;
        for (std::size_t i = 0; i < b.size(); ++i)
            ASSERT_EQ(b[i] & ~open[i], samples[0][i] & ~open[i]) << what << " byte " << i;
    }
    for (std::size_t i = 0; i < open.size(); ++i)
        for (int bit = 0; bit < 8; ++bit) {
            if (((open[i] >> bit) & 1) == 0)
                continue;
            std::set<int> seen;
            for (const Bytes& b : samples)
                seen.insert((b[i] >> bit) & 1);
            EXPECT_EQ(seen.size(), 2u) << what << " byte " << i << " bit " << bit;
        }
}

TEST(SimVary, OnlyTheOpenBytesDifferBetweenModulesAndSeeds) {
    const Bytes baseOpen = openMask(kBaseSize, {{0, 3}, {8, 1}, {49, 3}, {64, 3}}, {{3, 0x48}});
    const Bytes portOpen = openMask(kPortSize, {{46, 4}, {57, 1}, {59, 4}}, {{50, 0x83}});
    const Bytes cloudOpen = openMask(kCloudSize, {{0, 2}, {30, 20}});
    const Bytes searchOpen = openMask(kSearchReplySize, {{3, 2}, {17, 2}, {33, 3}});
    const Bytes modbusOpen = openMask(64, {{7, 57}});
    const Bytes otherOpen = openMask(256, {{13, 243}});
    for (Family f : {Family::Z2, Family::Z3}) {
        std::vector<Bytes> base, port, cloud, search, modbus, other;
        for (std::uint64_t seed : {1u, 2u, 3u, 4u})
            for (std::size_t index = 0; index < 6; ++index) {
                Module m = make(desc(f, "001A2B3C4D5E"), seed, index);
                base.push_back(m.blocks().base);
                port.push_back(m.blocks().port);
                cloud.push_back(m.blocks().cloud);
                search.push_back(m.searchReply());
                if (f == Family::Z2) {
                    const Bytes read = command(0x03, kMac);
                    const auto r = m.command(read.data(), read.size(), 0, 300);
                    ASSERT_EQ(r.replies.size(), 5u);
                    modbus.push_back(r.replies[4]);
                }
                other.push_back(make(desc(Family::Other256, "001A2B3C4D5E"), seed, index).searchReply());
            }
        expectOnlyOpenBitsVary(base, baseOpen, "base");
        expectOnlyOpenBitsVary(port, portOpen, "port");
        expectOnlyOpenBitsVary(cloud, cloudOpen, "cloud");
        expectOnlyOpenBitsVary(search, searchOpen, "search reply");
        expectOnlyOpenBitsVary(other, otherOpen, "other-series reply");
        if (f == Family::Z2)
            expectOnlyOpenBitsVary(modbus, modbusOpen, "Modbus reply");
        // The read bytes keep their factory values: static IP, no status or socket flags set. The
        // open bits are never all clear, so an encoder that drops them always shows.
        EXPECT_EQ(base[0][3] & ~0x48, 0x80);
        EXPECT_EQ(port[0][50] & ~0x83, 0);
        for (std::size_t i = 0; i < base.size(); ++i) {
            EXPECT_NE(base[i][3] & 0x48, 0) << "module " << i;
            EXPECT_NE(port[i][50] & 0x83, 0) << "module " << i;
        }
        EXPECT_EQ(toHex(Bytes(search[0].begin(), search[0].begin() + 3)), "FF2401");
        EXPECT_EQ(toHex(Bytes(other[0].begin(), other[0].begin() + 13)), "FFFD01001A2B3C4D5E0A4D0032");

        // The last module again, from the same seed and position: the same bytes.
        const Module again = make(desc(f, "001A2B3C4D5E"), 4, 5);
        EXPECT_EQ(again.blocks().base, base.back());
        EXPECT_EQ(again.blocks().port, port.back());
        EXPECT_EQ(again.blocks().cloud, cloud.back());
        EXPECT_EQ(again.searchReply(), search.back());
    }
}

TEST(SimVary, AcknowledgementByte2IsNeverTheCommandCode) {
    // Two modules sharing a MAC answer every command, each from its own stream.
    auto run = [](std::uint64_t seed) {
        Fleet fleet;
        fleet.add(make(desc(Family::Z2, "001A2B3C4D5E"), seed, 0));
        fleet.add(make(desc(Family::Z2, "001A2B3C4D5E"), seed, 1));
        struct Case {
            std::uint8_t code;
            Bytes payload;
            const char* password;
            char status;
        };
        const Case cases[] = {
            {0x03, {}, "nope", 'P'},         {0x30, {}, "vesta", 'E'}, {0x05, Bytes(3), "vesta", 'E'},
            {0x0C, Bytes(50), "vesta", 'K'}, {0x00, {}, "vesta", 'E'},
        };
        std::vector<int> first, second;
        for (int i = 0; i < 400; ++i)
            for (const Case& c : cases) {
                const auto r = send(fleet, Port::Z2, command(c.code, kMac, c.payload, "vesta", c.password));
                EXPECT_EQ(r.replies.size(), 2u);
                for (const auto& reply : r.replies) {
                    const Bytes& a = reply.data;
                    EXPECT_EQ(a.size(), 4u);
                    EXPECT_EQ(toHex(Bytes{a[0], a[1], a[3]}),
                              toHex(Bytes{0xFF, 0x01, std::uint8_t(c.status)}));
                    EXPECT_NE(a[2], c.code);
                }
                first.push_back(r.replies[0].data[2]);
                second.push_back(r.replies[1].data[2]);
            }
        return std::make_pair(first, second);
    };
    const auto [first, second] = run(7);
    EXPECT_NE(first, second) << "modules differ";
    EXPECT_EQ(run(7).first, first) << "one seed, the same bytes";
    EXPECT_NE(run(8).first, first) << "another seed, others";
    // Every value occurs, 0 included (each code excludes only itself).
    EXPECT_EQ(std::set<int>(first.begin(), first.end()).size(), 256u);
}

TEST(SimVary, GivenBlocksAreUsedAsGiven) {
    ModuleDesc s = desc(Family::Z2, "001A2B3C4D5E");
    s.base = Bytes(kBaseSize, 0xA5);
    s.port = Bytes(kPortSize, 0x5A);
    s.cloud = Bytes(kCloudSize, 0x00);
    for (std::uint64_t seed : {1u, 2u}) {
        const Module m = make(s, seed);
        EXPECT_EQ(m.blocks().base, *s.base);
        EXPECT_EQ(m.blocks().port, *s.port);
        EXPECT_EQ(m.blocks().cloud, *s.cloud);
    }
}

TEST(SimState, JsonStringsStayValid) {
    EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(jsonString("\xC3\xA9"), "\"\xC3\xA9\"");      // valid UTF-8 as is
    EXPECT_EQ(jsonString("\xD6\xD0"), R"("\u00D6\u00D0")"); // GBK bytes escaped
    EXPECT_EQ(jsonString(std::string("\x01", 1)), R"("\u0001")");
}

} // namespace
