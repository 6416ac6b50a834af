// Many upgrade runs over one set of ports, on a virtual clock, with the modules played on a link of
// the test's own: each module's run goes as if it were alone (its address, blocks, re-sends and
// time-out), and what no run can claim is counted, never taken. Also the transfer addresses.
#include "core/convert.h"
#include "upgrade/transfer_addresses.h"
#include "upgrade/upgrade_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace varnix;

namespace {

constexpr char Local[] = "10.9.0.1";

class TFakeLink final : public IUpgradeLink {
public:
    std::optional<TEndpointError> Open(const std::string&) override {
        open_ = true;
        return std::nullopt;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    std::optional<TEndpointError> Send(const TUpgradeSend& d) override {
        Sent.push_back(d);
        return std::nullopt;
    }
    void Deliver(std::uint16_t localPort, const std::string& ip, std::uint16_t port, const TIdBytes& data) {
        OnReceived(localPort, ip, port, data);
    }
    // The sends since the last call, and forget them.
    std::vector<TUpgradeSend> Take() { return std::exchange(Sent, {}); }
    std::vector<TUpgradeSend> Sent;

private:
    bool open_ = false;
};

TIdBytes Image(std::size_t dataBytes, std::uint8_t seed) {
    TIdBytes img{0x5A, 0x32, 0x10, 0x07};
    for (std::size_t i = 0; i < dataBytes; ++i)
        img.push_back(static_cast<std::uint8_t>(i * 7 + seed));
    return img;
}

TIdBytes Mac(int n) {
    return {0x02, 0x00, 0x00, 0x00, 0x01, static_cast<std::uint8_t>(n)};
}

TIdBytes BootRequest(const TIdBytes& mac, std::uint32_t xid, std::uint8_t byte26 = 0,
                     const TIdBytes& sig = {0x5A, 0x32, 0x10, 0x07}) {
    TIdBytes r(BootRecordSize, 0);
    r[0] = 1, r[1] = 1, r[2] = 6;
    for (int i = 0; i < 4; ++i)
        r[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(xid >> (24 - 8 * i));
    r[26] = byte26;
    std::copy(mac.begin(), mac.end(), r.begin() + 28);
    std::copy(sig.begin(), sig.end(), r.begin() + 44);
    return r;
}

TIdBytes ReadRequest() {
    TIdBytes r{0, 1};
    for (const char* p = "firmware.bin"; *p; ++p)
        r.push_back(static_cast<std::uint8_t>(*p));
    r.push_back(0);
    for (const char* p = "octet"; *p; ++p)
        r.push_back(static_cast<std::uint8_t>(*p));
    r.push_back(0);
    return r;
}

TIdBytes Ack(std::uint32_t n) {
    return {0, 4, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

// A module's side of its run, fed the datagrams the server sent to it.
struct TModule {
    TIdBytes MacBytes;
    std::string Ip;
    TIdBytes Received; // the image as it came, block by block
    std::uint32_t Expected = 1;
    bool Done = false;
};

struct TFixture {
    TVirtualClock Clock;
    TFakeLink Link;
    TUpgradeServer Server{Link, Clock};
    std::map<int, std::vector<TUpgradeOutput>> Outputs;

    TUpgradeServer::TRunId Start(const TModule& m, const TIdBytes& image) {
        TUpgradeStart s;
        s.TargetIP = m.Ip;
        s.TargetMAC = BytesToHexDump(m.MacBytes);
        s.FileName = "fw";
        s.SharedImage = std::make_shared<const TIdBytes>(image);
        auto id = std::make_shared<int>(0);
        auto r =
            Server.Start(std::move(s), [this, id](const TUpgradeOutput& o) { Outputs[*id].push_back(o); });
        EXPECT_TRUE(r.Ok()) << (r ? "" : r.Error().Message);
        *id = r ? *r : 0;
        return *id;
    }
    bool Ended(int id, bool success) {
        const auto& o = Outputs[id];
        return !o.empty() && o.back().Ended && o.back().Succeeded == success;
    }
};

std::string IpAt(const TIdBytes& d, std::size_t at) {
    return IntToIPText((std::uint32_t{d[at]} << 24) | (std::uint32_t{d[at + 1]} << 16) |
                       (std::uint32_t{d[at + 2]} << 8) | d[at + 3]);
}

// Hands every block sent to the module it is addressed to, as the module would take it: the next
// block is kept, a repeat is not, and both are acknowledged unless `lose` says the
// acknowledgement is lost. Returns when nothing more was sent.
void Exchange(TFixture& f, std::vector<TModule>& mods,
              const std::function<bool(const TModule&, std::uint32_t block)>& lose) {
    for (auto sent = f.Link.Take(); !sent.empty(); sent = f.Link.Take())
        for (const TUpgradeSend& d : sent) {
            ASSERT_EQ(d.DestPort, ModuleDataPort);
            const auto m =
                std::find_if(mods.begin(), mods.end(), [&d](const TModule& x) { return x.Ip == d.DestIP; });
            ASSERT_NE(m, mods.end()) << d.DestIP;
            const std::uint16_t n = static_cast<std::uint16_t>((d.Data[2] << 8) | d.Data[3]);
            const bool next = n == static_cast<std::uint16_t>(m->Expected);
            if (next) {
                m->Received.insert(m->Received.end(), d.Data.begin() + 4, d.Data.end());
                ++m->Expected;
            }
            if (!(next && lose(*m, n)))
                f.Link.Deliver(DataLocalPort, m->Ip, ModuleDataPort, Ack(n));
        }
}

} // namespace

TEST(UpgradeServer, ModulesSideBySideEachGetTheirOwnAddressBlocksResendsAndEnd) {
    TFixture f;
    ASSERT_FALSE(f.Server.Open(Local));
    std::vector<TModule> mods{{Mac(1), "10.9.0.50", {}, 1, false},
                              {Mac(2), "10.9.0.51", {}, 1, false},
                              {Mac(3), "10.9.0.52", {}, 1, false}};
    const TIdBytes image = Image(3 * 512 + 100, 1);
    std::vector<int> ids;
    for (const TModule& m : mods)
        ids.push_back(f.Start(m, image));
    auto sent = f.Link.Take();
    ASSERT_EQ(sent.size(), 3u); // one upgrade request per module, naming its MAC
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(std::equal(mods[i].MacBytes.begin(), mods[i].MacBytes.end(), sent[i].Data.begin() + 6));

    // Boot requests in another order: each reply gives the asker its own address, with its xid.
    for (std::size_t i : {2u, 0u, 1u}) {
        f.Link.Deliver(BootServerPort, "0.0.0.0", BootClientPort, BootRequest(mods[i].MacBytes, 0x1000u + i));
        sent = f.Link.Take();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(IpAt(sent[0].Data, 16), mods[i].Ip);
        EXPECT_EQ(IpAt(sent[0].Data, 4), IntToIPText(0x1000u + i));
    }
    // Another module's request (even one that says the image does not fit) and an acknowledgement
    // from an address no run has are nobody's: counted, answered by nothing.
    f.Link.Deliver(BootServerPort, "0.0.0.0", BootClientPort, BootRequest(Mac(9), 7, 1, {1, 2, 3, 4}));
    f.Link.Deliver(DataLocalPort, "10.9.0.99", ModuleDataPort, Ack(1));
    EXPECT_TRUE(f.Link.Take().empty());
    EXPECT_EQ(f.Server.Foreign(), 2);

    for (const TModule& m : mods)
        f.Link.Deliver(FileServerPort, m.Ip, ModuleDataPort, ReadRequest());
    // Module 2 loses its acknowledgement of block 2 once: only its block is sent again, 2 s later.
    bool lost = false;
    Exchange(f, mods, [&lost](const TModule& m, std::uint32_t n) {
        return m.Ip == "10.9.0.51" && n == 2 && !lost && (lost = true);
    });
    EXPECT_TRUE(f.Ended(ids[0], true));
    EXPECT_TRUE(f.Ended(ids[2], true));
    EXPECT_FALSE(f.Ended(ids[1], true));
    f.Clock.Advance(BlockTimeoutMs - 1);
    EXPECT_TRUE(f.Link.Sent.empty());
    f.Clock.Advance(1);
    ASSERT_EQ(f.Link.Sent.size(), 1u);
    EXPECT_EQ(f.Link.Sent[0].DestIP, "10.9.0.51");
    Exchange(f, mods, [](const TModule&, std::uint32_t) { return false; });
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(f.Ended(ids[i], true)) << i;
        EXPECT_TRUE(mods[i].Received == TIdBytes(image.begin() + 4, image.end())) << i;
        EXPECT_EQ(f.Server.Session(ids[i])->retryCount(), i == 1 ? 1 : 0);
    }
    EXPECT_EQ(f.Server.Running(), 0);
}

TEST(UpgradeServer, RunsThatCouldNotBeToldApartAreRefusedAndOneRunsEndLeavesTheOthers) {
    TFixture f;
    TModule a{Mac(1), "10.9.0.50", {}, 1, false}, b{Mac(2), "10.9.0.51", {}, 1, false};
    TUpgradeStart s;
    s.TargetIP = a.Ip, s.TargetMAC = "020000000101", s.FileName = "fw", s.Image = Image(10, 0);
    EXPECT_FALSE(f.Server.Start(s, {}).Ok()); // not bound yet
    ASSERT_FALSE(f.Server.Open(Local));
    const int ida = f.Start(a, Image(2000, 0));
    const int idb = f.Start(b, Image(2000, 0));
    TUpgradeStart again = s;
    again.TargetIP = "10.9.0.60";
    EXPECT_FALSE(f.Server.Start(again, {}).Ok()); // the same MAC twice
    s.TargetMAC = "020000000109";
    EXPECT_FALSE(f.Server.Start(s, {}).Ok()); // a's address for another module
    s.TargetIP = "10.9.1.5";
    EXPECT_FALSE(f.Server.Start(s, {}).Ok()); // outside the local /24

    // a's hardware says the image does not fit: a ends, b goes on.
    f.Link.Deliver(BootServerPort, "0.0.0.0", BootClientPort, BootRequest(a.MacBytes, 1, 1, {9, 9, 9, 9}));
    EXPECT_EQ(f.Outputs[ida].back().LabelKey, "lang_Hint_BinNotMatch");
    EXPECT_TRUE(f.Server.Session(idb)->Active());
    // a's address is free again.
    s.TargetIP = a.Ip;
    EXPECT_TRUE(f.Server.Start(s, {}).Ok());
    // b hears nothing for its 10 s: it times out by itself.
    f.Clock.Advance(SearchTimeoutMs);
    EXPECT_EQ(f.Outputs[idb].back().LabelKey, "lang_Hint_UpTimeOut");
    EXPECT_FALSE(f.Server.Session(idb)->Active());
}

TEST(TransferAddresses, OwnAddressPoolWaitOrRefusal) {
    const std::uint32_t local = *ParseIPv4Text("10.9.0.1");
    const auto ip = [](const char* t) { return *ParseIPv4Text(t); };
    EXPECT_FALSE(ParseAddressRange("10.9.0.9-10.9.0.8").Ok());
    EXPECT_FALSE(ParseAddressRange("10.9.0.9").Ok());
    EXPECT_FALSE(ParseAddressRange("10.9.0.0-10.9.1.0").Ok()); // 257 addresses
    EXPECT_FALSE(TTransferAddresses(local, *ParseAddressRange("10.9.1.5-10.9.1.6")).CheckPool().Ok());

    TTransferAddresses none(local, std::nullopt);
    EXPECT_EQ(none.Lease(ip("10.9.0.50")).Address, ip("10.9.0.50"));
    EXPECT_EQ(none.Lease(ip("10.9.0.50")).Kind, TLeaseKind::Wait); // a second module with that address
    const TLease outside = none.Lease(ip("192.168.0.7"));
    EXPECT_EQ(outside.Kind, TLeaseKind::Refused);
    EXPECT_NE(outside.Reason.find("--pool"), std::string::npos);
    EXPECT_EQ(none.Lease(local).Kind, TLeaseKind::Refused); // the PC's own address

    TTransferAddresses pool(local, *ParseAddressRange("10.9.0.0-10.9.0.3"));
    ASSERT_TRUE(pool.CheckPool().Ok());
    pool.Reserve(ip("10.9.0.2")); // a module answers there
    const TLease first = pool.Lease(ip("192.168.0.7"));
    EXPECT_TRUE(first.FromPool);
    EXPECT_EQ(first.Address, ip("10.9.0.3")); // .0 is the network, .1 the PC, .2 a module's
    EXPECT_EQ(pool.Lease(ip("192.168.0.7")).Kind, TLeaseKind::Wait);
    pool.Release(first.Address);
    EXPECT_EQ(pool.Lease(ip("192.168.0.8")).Address, ip("10.9.0.3"));

    TTransferAddresses full(local, *ParseAddressRange("10.9.0.2-10.9.0.2"));
    full.Reserve(ip("10.9.0.2"));
    EXPECT_EQ(full.Lease(ip("192.168.0.7")).Kind, TLeaseKind::Refused);
}
