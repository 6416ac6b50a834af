// The pages against varnix-sim on a segment like a real one (tests/netns-run --segments 1: the
// modules in a namespace of their own, in a foreign subnet, answering by broadcast):
// a small harness wires a real TUdpSvr to the pages the way the main window does (the replies of
// the clicked module decoded into its settings and shown, a save button's request planned from
// the read with the page's values on top), reads modules by clicking them, saves through the
// pages' buttons and compares the simulator's stored blocks.

#include "fake_host.h"

#include "core/blocks.h"
#include "core/convert.h"
#include "engine/save_executor.h"
#include "lan/udp_svr.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace varnix;
using namespace varnix::pagetest;

namespace {

const char* kZ2Mac = "00 1A 2B 3C 4D 5E";
const char* kZ3Mac = "00 1A 2B 3C 4D 60";

struct TRow {
    std::string Mac;
    std::int32_t Family = 0;
    int Binding = -1;
};

TIdBytes Hex(const QString& text) {
    TIdBytes out;
    HexTextToBytes(text.toStdString(), out);
    return out;
}

// The simulator's stored blocks of one module.
struct TSimModule {
    TIdBytes Base, Port, Cloud, Heart, Httpd, Modbus;
    std::vector<int> Writes;
    int Restarts = 0;
};

class PagesE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariable("VARNIX_NS_TOPOLOGY") != QStringLiteral("segments") ||
            qEnvironmentVariableIsEmpty("VARNIX_SIM"))
            GTEST_SKIP() << "runs only inside tests/netns-run --segments 1 with VARNIX_SIM set";
        SetChinese(false);
    }
    void TearDown() override {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(3000);
        }
    }

    void StartSim(int firmware) {
        state_ = dir_.filePath(QStringLiteral("state.json"));
        const QString z2Module = QStringLiteral("z2:00-1A-2B-3C-4D-5E:192.168.0.50:Line-1:%1").arg(firmware);
        // The wrapper runs the simulator in the modules' namespace (and exec's, so terminate()
        // reaches the simulator itself).
        sim_.start(qEnvironmentVariable("VARNIX_NS_IN_MODULES"),
                   {qEnvironmentVariable("VARNIX_SIM"), QStringLiteral("--bind"), QStringLiteral("0.0.0.0"),
                    QStringLiteral("--iface"), qEnvironmentVariable("VARNIX_NS_SIM_IFACES"),
                    QStringLiteral("--state"), state_, QStringLiteral("--restart-ms"), QStringLiteral("200"),
                    QStringLiteral("--duration"), QStringLiteral("60"), QStringLiteral("--module"), z2Module,
                    QStringLiteral("--module"),
                    QStringLiteral("z3:00-1A-2B-3C-4D-60:192.168.0.60:Z3-1:4017")});
        ASSERT_TRUE(sim_.waitForReadyRead(5000));
        ASSERT_TRUE(sim_.readLine().startsWith("varnix-sim: ready"));
        Pump([this] { return QFile::exists(state_); }, 2000);
        ASSERT_TRUE(QFile::exists(state_));

        TUdpSvrOptions options;
        const QString pc = qEnvironmentVariable("VARNIX_NS_PC_IPS").section(QLatin1Char(','), 0, 0);
        options.LocalAddresses = [pc] { return std::vector<std::string>{pc.toStdString()}; };
        options.Store = &host.BlockStore;
        svr_ = std::make_unique<TUdpSvr>(options);
        // The window's wiring of the endpoint's events to the pages.
        svr_->OnSearchReply = [this](const TSearchHit& h) {
            rows_.push_back(TRow{h.Reply.MAC, h.Reply.Family, h.Binding});
        };
        svr_->OnDeviceParams = [this](const TBaseParam& b, const TarrComParam&, std::int32_t family,
                                      std::int32_t) {
            // Only the clicked module's own reply (its user MAC) is shown.
            if (selected_ && MacKey(b.UserMAC) == MacKey(ToStd(selected_->Mac))) {
                got_.Params = true;
                family_ = family;
                Decode();
            }
        };
        svr_->OnCloudParams = [this](const TarrCloudParam&, std::int32_t, std::int32_t) {
            got_.Cloud = true;
            Decode();
        };
        svr_->OnHeartParams = [this](const std::array<std::uint8_t, HeartBlockSize>&, std::int32_t,
                                     std::int32_t) {
            got_.Heart = true;
            Decode();
        };
        svr_->OnHttpdTexts = [this](const std::string&, const std::string&) {
            got_.Httpd = true;
            Decode();
        };
        svr_->OnModbusParams = [this](const TModbusParam& m, int kind) {
            got_.ModbusKind = kind;
            got_.Modbus = m;
            Decode();
        };
        QObject::connect(z2.get(), &TZ2Page::NetSaveRequested, [this] { Save(); });
        QObject::connect(z3.get(), &TZ3Page::NetSaveRequested, [this] { Save(); });
        svr_->Search();
        Pump([this] { return rows_.size() >= 2; }, 3000);
        ASSERT_EQ(rows_.size(), 2u);
    }

    static std::string ToStd(const QString& s) { return s.toStdString(); }

    void Decode() {
        if (!got_.Params)
            return;
        read_ = DecodeModuleSettings(family_, selected_->Firmware, host.BlockStore, got_);
        z2->ShowSettings(read_); // each page shows its own family's modules only
        z3->ShowSettings(read_);
    }

    // The window's save: the read with the page's values on top, planned and sent.
    void Save() {
        const bool isZ2 = read_.Family == FamilyZ2;
        const TResult<TModuleSettings> wanted = isZ2 ? z2->ReadSettings(read_) : z3->ReadSettings(read_);
        ASSERT_TRUE(wanted) << wanted.Error().Message;
        const TSavePlan plan = isZ2 ? PlanZ2Save(MakeZ2SaveInput(*wanted), host.BlockStore)
                                    : PlanZ3Save(MakeZ3SaveInput(*wanted), host.BlockStore);
        ASSERT_TRUE(plan.Ok) << plan.Error.Message;
        plans_.push_back(plan);
        const TLanTarget selected{selected_->Binding, RemoveSpaces(ToStd(selected_->Mac))};
        // A Z3 save has no "current device" (only a Z2 read sets it); its plan never targets it.
        TLanTarget current;
        if (current_)
            current = {current_->Binding, RemoveSpaces(ToStd(current_->Mac))};
        ExecuteSavePlan(*svr_, plan, selected, current, "vesta", "vesta");
    }

    void Pump(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QTest::qWait(20);
    }

    TRow RowOf(const char* mac) {
        for (const TRow& r : rows_)
            if (r.Mac == mac)
                return r;
        ADD_FAILURE() << "no row for " << mac;
        return {};
    }

    TSimModule Module(const char* mac) {
        QFile f(state_);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QJsonArray modules =
            QJsonDocument::fromJson(f.readAll()).object()[QStringLiteral("modules")].toArray();
        for (const auto& v : modules) {
            const QJsonObject m = v.toObject();
            if (m[QStringLiteral("mac")].toString() != QString::fromLatin1(mac))
                continue;
            TSimModule s{Hex(m[QStringLiteral("base")].toString()),
                         Hex(m[QStringLiteral("port")].toString()),
                         Hex(m[QStringLiteral("cloud")].toString()),
                         Hex(m[QStringLiteral("heart")].toString()),
                         Hex(m[QStringLiteral("httpd")].toString()),
                         Hex(m[QStringLiteral("modbus")].toString()),
                         {},
                         m[QStringLiteral("restarts")].toInt()};
            for (const auto& w : m[QStringLiteral("writes")].toArray())
                s.Writes.push_back(w.toInt());
            return s;
        }
        ADD_FAILURE() << "module " << mac << " not in the state";
        return {};
    }

    // Clicks a row: remembers it as selected (and, for Z2, as the current device), clears the
    // pages and reads it.
    void Click(const TRow& row, int firmware) {
        selected_ = TDeviceRef{row.Binding, QString::fromStdString(row.Mac), row.Family, firmware};
        got_ = {};
        z2->ClearSettings();
        z3->ClearSettings();
        if (row.Family == FamilyZ2) {
            current_ = selected_;
            svr_->SendCommandZ2(row.Binding, RemoveSpaces(row.Mac), "vesta", "vesta", CmdRead);
        } else {
            svr_->SendCommandZ3(row.Binding, RemoveSpaces(row.Mac), "vesta", "vesta", CmdRead);
        }
        QTest::qWait(600);
    }

    // Another host (this one, from port 1500) answers the read with made-up cloud, heartbeat and
    // HTTPD blocks; none of it may reach the page or what it saves.
    void SpoofReadReplies(int binding) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(1500);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(svr_->BindingPort(binding));
        inet_pton(AF_INET, svr_->BindingAddress(binding).c_str(), &to.sin_addr);
        for (std::size_t n : {50u, 85u, 302u}) {
            const TIdBytes junk(n, 0x5A);
            ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        ::close(fd);
        QTest::qWait(200);
    }

    void WaitForRestart(const char* mac) {
        Pump([&] { return Module(mac).Restarts >= 1; }, 4000);
    }

    void RunZ2Save(int firmware);

    TFakeHost host;
    std::unique_ptr<TZ2Page> z2 = std::make_unique<TZ2Page>(host);
    std::unique_ptr<TZ3Page> z3 = std::make_unique<TZ3Page>(host);
    QTemporaryDir dir_;
    QString state_;
    QProcess sim_;
    std::unique_ptr<TUdpSvr> svr_;
    std::vector<TRow> rows_;
    std::optional<TDeviceRef> selected_, current_;
    TReceivedBlocks got_;
    std::int32_t family_ = 0;
    TModuleSettings read_;
    std::vector<TSavePlan> plans_;
};

template <class T = QWidget> T* Find(QWidget* page, const char* name) {
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void PutText(TIdBytes& block, std::size_t offset, std::size_t width, const std::string& text) {
    for (std::size_t i = 0; i < width; ++i)
        block[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

void PagesE2E::RunZ2Save(int firmware) {
    ASSERT_NO_FATAL_FAILURE(StartSim(firmware));
    const TSimModule before = Module(kZ2Mac);
    Click(RowOf(kZ2Mac), firmware);
    ASSERT_NO_FATAL_FAILURE(SpoofReadReplies(RowOf(kZ2Mac).Binding));

    // The read filled the page and its extended groups with the module's values (and only the
    // module's: the blocks from another host changed nothing, here or in what the save sends).
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edt_StaticIP")->text(), QStringLiteral("192.168.0.50"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edt_ModName")->text(), QStringLiteral("Line-1"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edt_LocalPort0")->text(), QStringLiteral("8234"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edt_RemoteIP0")->text(), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(Find<QComboBox>(z2.get(), "cbb_WorkMode0")->currentIndex(), 3);
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "LabeledEdit1")->text(), QStringLiteral("300"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtDid")->text(), QStringLiteral("001A2B3C4D5E"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtCompass")->text(), QStringLiteral("12345678"));
    EXPECT_EQ(Find<QComboBox>(z2.get(), "RzComboBox1")->currentIndex(), 2);
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtHeartTm")->text(), QStringLiteral("30"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtHeartDt")->text(), QStringLiteral("heart"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtRegDt")->text(), QStringLiteral("register"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "LabeledEdit2")->text(), QStringLiteral("/data"));
    EXPECT_FALSE(Find(z2.get(), "rzgrpbxModbus")->isHidden());
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtwaittime")->text(), QStringLiteral("200"));
    EXPECT_EQ(Find<QLineEdit>(z2.get(), "edtPollInternal")->text(), QStringLiteral("1000"));

    // Change a few fields and save through the button.
    Find<QLineEdit>(z2.get(), "edt_ModName")->setText(QStringLiteral("Line-9"));
    Find<QLineEdit>(z2.get(), "edt_LocalPort0")->setText(QStringLiteral("9001"));
    Find<QComboBox>(z2.get(), "RzComboBox2")->setCurrentIndex(3);
    Find<QLineEdit>(z2.get(), "edtDid")->setText(QStringLiteral("98765432109876543210"));
    Find<QComboBox>(z2.get(), "cbb_WorkMode0")->setCurrentIndex(4);
    Find<QLineEdit>(z2.get(), "LabeledEdit2")->setText(QStringLiteral("/post"));
    z2->show();
    QTest::mouseClick(Find(z2.get(), "btn_Z2NetSet"), Qt::LeftButton);
    ASSERT_EQ(plans_.size(), 1u);
    WaitForRestart(kZ2Mac);
    const TSimModule after = Module(kZ2Mac);

    const std::vector<int> expectedWrites = firmware > 4016
                                                ? std::vector<int>{0x05, 0x06, 0x0C, 0x21, 0x22, 0x23, 0x24}
                                                : std::vector<int>{0x05, 0x06, 0x0C, 0x24};
    EXPECT_EQ(after.Writes, expectedWrites);
    EXPECT_EQ(after.Restarts, 1); // the closing 0x02

    TIdBytes base = before.Base;
    PutText(base, 21, 16, "Line-9");
    EXPECT_EQ(after.Base, base);
    TIdBytes port = before.Port;
    port[12] = 9001 & 0xFF;
    port[13] = 9001 >> 8;
    port[50] |= 0x10; // transparent cloud
    port[51] = 4;     // HTTPD Client
    EXPECT_EQ(after.Port, port);
    TIdBytes cloud = before.Cloud;
    PutText(cloud, 2, 20, "98765432109876543210");
    EXPECT_EQ(after.Cloud, cloud);
    EXPECT_EQ(after.Heart, before.Heart); // sent unchanged with 4017, untouched with 4016
    TIdBytes httpd = before.Httpd;
    if (firmware > 4016) {
        httpd[0] = 5;
        PutText(httpd, 1, 5, "/post");
    }
    EXPECT_EQ(after.Httpd, httpd);
    EXPECT_EQ(after.Modbus, before.Modbus);
}

} // namespace

TEST_F(PagesE2E, Z2ReadAndSaveWithFirmware4016) {
    RunZ2Save(4016);
}
TEST_F(PagesE2E, Z2ReadAndSaveWithFirmware4017) {
    RunZ2Save(4017);
}

TEST_F(PagesE2E, Z3SaveFromTheZ3Page) {
    ASSERT_NO_FATAL_FAILURE(StartSim(4017));
    const TSimModule before = Module(kZ3Mac);
    ASSERT_EQ(before.Base.size(), BaseBlockSize);
    ASSERT_EQ(before.Port.size(), PortBlockSize);
    Click(RowOf(kZ3Mac), 4017);
    // The read fills the Z3 page with the module's values, its layout of port bytes 52-58 included.
    const auto b =
        DecodeBaseBlock(std::span<const std::uint8_t, BaseBlockSize>(before.Base.data(), BaseBlockSize));
    EXPECT_EQ(Find<QLineEdit>(z3.get(), "edt_StaticIPZ3")->text(), QString::fromStdString(b.StaticIP));
    EXPECT_EQ(Find<QLineEdit>(z3.get(), "edt_ModNameZ3")->text(), QStringLiteral("Z3-1"));
    EXPECT_EQ(Find<QLineEdit>(z3.get(), "edt_IdTypeZ3")->text(), QString::number(before.Base[52]));
    EXPECT_EQ(Find<QLineEdit>(z3.get(), "edt_UARTLength0Z3")->text(),
              QString::number(BytesToInt(std::span(before.Port).subspan(52, 4), true)));
    EXPECT_EQ(Find<QComboBox>(z3.get(), "cbb_TCPSvrCount0Z3")->currentIndex(), before.Port[58] / 16 - 1);
    EXPECT_EQ(Find<QComboBox>(z3.get(), "cbb_TCPStyle0Z3")->currentIndex(), (before.Port[58] & 0x0F) - 1);

    // The user changes two settings and saves.
    Find<QLineEdit>(z3.get(), "edt_ModNameZ3")->setText(QStringLiteral("Z3-Hall"));
    Find<QLineEdit>(z3.get(), "edt_RemotePort0Z3")->setText(QStringLiteral("9100"));
    z3->show();
    QTest::mouseClick(Find(z3.get(), "btn_Z3NetSet"), Qt::LeftButton);
    ASSERT_EQ(plans_.size(), 1u);
    WaitForRestart(kZ3Mac);
    const TSimModule after = Module(kZ3Mac);
    EXPECT_EQ(after.Writes, (std::vector<int>{0x05, 0x06}));
    EXPECT_EQ(after.Restarts, 1); // the closing 0x04
    TIdBytes base = before.Base;
    PutText(base, 21, 16, "Z3-Hall");
    // A Z3 save writes the whole status byte: the address type in bit 7, every other bit 0 (the
    // module's own bits there, which the simulator varies, are not carried).
    base[3] = b.AddrType != 0 ? 0x80 : 0x00;
    EXPECT_EQ(after.Base, base);
    TIdBytes port = before.Port;
    port[14] = 9100 & 0xFF;
    port[15] = 9100 >> 8;
    EXPECT_EQ(after.Port, port);
}

int main(int argc, char** argv) {
    App();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
