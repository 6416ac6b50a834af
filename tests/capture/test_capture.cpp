// Captures read back by Debian's Wireshark tools: capinfos reads every file whole, and tshark with
// the vorz dissector (data/wireshark/vorz.lua) decodes every datagram and serial frame of a
// support case field by field, with correct IPv4 and UDP checksums, packet comments that say the
// same as the dissector, expert info on a corrupted checksum and no log-in password unless it is
// kept. Then the size limit, and a writer killed mid-capture. tshark and capinfos must be
// installed (scripts/setup --test does it): without them these tests fail.

#include "capture/capture.h"
#include "capture_traffic.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace varnix::capture;
using namespace varnix::capture::test;

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TTempDir {
public:
    TTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnix-capture-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TTempDir() { std::filesystem::remove_all(path_); }
    std::string File(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs a program found on PATH; its standard error goes to a file of its own.
TRun RunProgram(const std::vector<std::string>& args) {
    static int n = 0;
    const std::string err = (std::filesystem::temp_directory_path() /
                             ("varnix-capture-err-" + std::to_string(::getpid()) + "-" + std::to_string(++n)))
                                .string();
    std::string command;
    for (const std::string& a : args)
        command += Quoted(a) + ' ';
    command += "2>" + Quoted(err);
    TRun r;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return r;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        r.Out.append(buffer, got);
    const int status = ::pclose(p);
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // The Wireshark tools warn about running as root (a test machine's container); that is all.
    std::istringstream lines(ReadFile(err));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Running as user \"root\"", 0) != 0)
            r.Err += line + '\n';
    std::filesystem::remove(err);
    return r;
}

// tshark, capinfos and Lua 5.4 come from the system; a missing one is a failure, not a reason to
// skip.
void RequireTools() {
    for (const char* tool : {"tshark", "capinfos", "lua5.4"})
        ASSERT_EQ(RunProgram({"sh", "-c", std::string("command -v ") + tool}).Status, 0)
            << tool << " is missing: scripts/setup --test installs it (Debian packages tshark, lua5.4)";
}

std::string FromEnvironment(const char* variable, const char* fallback) {
    const char* path = std::getenv(variable);
    return path != nullptr ? path : fallback;
}

std::string Dissector() {
    return FromEnvironment("VARNIX_DISSECTOR", "data/wireshark/vorz.lua");
}

TRun RunTshark(const std::string& file, std::vector<std::string> extra) {
    std::vector<std::string> args = {"tshark", "-n",
                                     "-X",     "lua_script:" + Dissector(),
                                     "-o",     "ip.check_checksum:TRUE",
                                     "-o",     "udp.check_checksum:TRUE",
                                     "-r",     file};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProgram(args);
}

// tshark prints booleans as 1/0 in some versions and True/False in others.
std::string Normal(const std::string& v) {
    if (v == "True")
        return "1";
    if (v == "False")
        return "0";
    return v;
}

using TFrameFields = std::map<int, std::map<std::string, std::string>>;

// The first occurrence of each field in every frame.
TFrameFields DecodeFields(const std::string& file, const std::vector<std::string>& fields) {
    std::vector<std::string> extra = {"-T", "fields",       "-E", "occurrence=f",
                                      "-E", "separator=/t", "-e", "frame.number"};
    for (const std::string& f : fields) {
        extra.push_back("-e");
        extra.push_back(f);
    }
    const TRun r = RunTshark(file, extra);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "") << "tshark reports something";
    TFrameFields out;
    std::istringstream lines(r.Out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> values;
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            values.push_back(line.substr(at, tab - at));
        values.push_back(line.substr(at));
        if (values.size() != fields.size() + 1)
            continue;
        auto& frame = out[std::stoi(values[0])];
        for (std::size_t i = 0; i < fields.size(); ++i)
            frame[fields[i]] = Normal(values[i + 1]);
    }
    return out;
}

std::vector<int> FramesMatching(const std::string& file, const std::string& filter) {
    const TRun r = RunTshark(file, {"-Y", filter, "-T", "fields", "-e", "frame.number"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::vector<int> frames;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);)
        frames.push_back(std::stoi(line));
    return frames;
}

// capinfos reads the file to its end without a complaint; returns the packet count it found.
long CapinfosPackets(const std::string& file) {
    const TRun r = RunProgram({"capinfos", "-M", "-c", file});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const std::size_t at = r.Out.find("Number of packets:");
    if (at == std::string::npos)
        return -1;
    return std::strtol(r.Out.c_str() + at + std::strlen("Number of packets:"), nullptr, 10);
}

// Every frame's bytes as the Lua stub reads them: "frame src_port dst_port p2p_dir hex", "-" for
// what a frame has not (a serial record has no ports, a datagram no direction).
std::string PacketLines(const std::string& file) {
    const TRun r =
        RunTshark(file, {"-T", "fields", "-e", "frame.number", "-e", "udp.srcport", "-e", "udp.dstport", "-e",
                         "exported_pdu.p2p_dir", "-e", "udp.payload", "-e", "exported_pdu.exported_pdu"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::string out;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> v;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');)
            v.push_back(f.empty() ? "-" : f);
        v.resize(6, "");
        out += v[0] + ' ' + v[1] + ' ' + v[2] + ' ' + v[3] + ' ' + (v[4] == "-" ? "" : v[4]) +
               (v[5] == "-" ? "" : v[5]) + '\n';
    }
    return out;
}

// Newer Wireshark releases embed Lua 5.4 (integers and floats apart, no bit32): the Info column
// the same dissector gives every frame there, run by tests/capture/wslua_stub.lua.
std::map<int, std::string> KindsOnLua54(const std::string& file, const std::string& packets) {
    std::ofstream(packets) << PacketLines(file);
    const TRun lua =
        RunProgram({"lua5.4", FromEnvironment("VARNIX_WSLUA_STUB", "tests/capture/wslua_stub.lua"),
                    Dissector(), packets});
    EXPECT_EQ(lua.Status, 0) << lua.Err;
    std::map<int, std::string> kinds;
    std::istringstream lines(lua.Out);
    for (std::string line; std::getline(lines, line);)
        kinds[std::stoi(line)] = line.substr(line.find('\t') + 1);
    return kinds;
}

// A Lua error in the dissector, or an exception while it ran (other dissectors' troubles with
// datagrams it declined are theirs).
constexpr char DissectorErrors[] = "_ws.lua.error || (vorz && _ws.malformed.expert)";

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

TTrafficResult WriteCaseToFile(const std::string& file, bool keepLogin) {
    TCaptureOptions options;
    options.Application = "varnix test";
    options.KeepLogin = keepLogin;
    std::string error;
    auto capture = TCapture::ToFile(file, options, error);
    EXPECT_TRUE(capture) << error;
    if (!capture)
        return {};
    TTrafficResult traffic = WriteSupportCase(*capture);
    capture->Finish();
    EXPECT_EQ(capture->Stats().Packets, static_cast<std::uint64_t>(traffic.Frames));
    EXPECT_FALSE(capture->Stats().Stopped);
    return traffic;
}

} // namespace

TEST(Capture, WiresharkDecodesEveryDatagramAndFrameOfASupportCase) {
    RequireTools();
    TTempDir dir;
    const std::string file = dir.File("case.pcapng");
    const TTrafficResult traffic = WriteCaseToFile(file, false);
    ASSERT_GT(traffic.Frames, 40);
    EXPECT_EQ(CapinfosPackets(file), traffic.Frames);

    std::set<std::string> names = {"vorz.kind", "frame.comment", "ip.checksum.status", "udp.checksum.status"};
    for (const TExpect& e : traffic.Expects)
        names.insert(e.Field);
    const std::vector<std::string> fields(names.begin(), names.end());
    TFrameFields decoded = DecodeFields(file, fields);
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(traffic.Frames));

    for (const TExpect& e : traffic.Expects)
        EXPECT_EQ(decoded[e.Frame][e.Field], e.Value) << "frame " << e.Frame << ", " << e.Field;
    for (int frame : traffic.ModuleProtocolFrames) {
        const std::string kind = decoded[frame]["vorz.kind"];
        const std::string comment = decoded[frame]["frame.comment"];
        EXPECT_FALSE(kind.empty()) << "frame " << frame << " is not decoded";
        EXPECT_TRUE(comment == kind || comment == kind + ", log-in masked")
            << "frame " << frame << ": the comment says \"" << comment << "\", the dissector \"" << kind
            << "\"";
    }
    for (int frame : traffic.OtherFrames)
        EXPECT_EQ(decoded[frame]["vorz.kind"], "") << "frame " << frame << " is not of the module protocol";
    for (auto& [frame, values] : decoded) {
        if (values["ip.checksum.status"].empty())
            continue; // a serial frame
        EXPECT_EQ(values["ip.checksum.status"], "1") << "frame " << frame;
        EXPECT_EQ(values["udp.checksum.status"], "1") << "frame " << frame;
    }

    // The corrupted command, and nothing else, raises the expert info; the masking kept every
    // other checksum right.
    EXPECT_EQ(FramesMatching(file, "vorz.checksum.bad"), traffic.BadChecksumFrames);
    EXPECT_EQ(FramesMatching(file, "vorz.checksum.status == 0"), traffic.BadChecksumFrames);
    EXPECT_EQ(FramesMatching(file, DissectorErrors), std::vector<int>{});
    EXPECT_FALSE(Contains(ReadFile(file), Password));

    // The same dissector on Lua 5.4 takes the same frames and says the same of each.
    std::map<int, std::string> onLua54 = KindsOnLua54(file, dir.File("packets.txt"));
    for (auto& [frame, values] : decoded)
        EXPECT_EQ(onLua54[frame], values["vorz.kind"]) << "frame " << frame << " on Lua 5.4";
}

// Anyone on the LAN may send anything to the program's ports, and Wireshark users open captures of
// whole networks: random datagrams and chunks, of the lengths the protocol gives a meaning and of
// others, some shaped like commands, frames or upgrade requests, decode without an error, and
// the dissector (on Wireshark's Lua and on 5.4) says of each it takes what the comment says.
TEST(Capture, AnyDatagramDecodesWithoutErrorAndAsItsCommentSays) {
    RequireTools();
    TTempDir dir;
    const std::string file = dir.File("hostile.pcapng");
    std::string error;
    auto capture = TCapture::ToFile(file, {}, error);
    ASSERT_TRUE(capture) << error;
    struct TWay {
        TDirection Direction;
        std::uint16_t Local, Peer;
        bool Serial;
    };
    constexpr TWay Ways[] = {{TDirection::Received, 50123, 1500, false},
                             {TDirection::Received, 50123, 1901, false},
                             {TDirection::Sent, 50123, 1500, false},
                             {TDirection::Sent, 50123, 1901, false},
                             {TDirection::Sent, 9, 9, false},
                             {TDirection::Received, 41500, 41501, false},
                             {TDirection::Sent, 0, 0, true},
                             {TDirection::Received, 0, 0, true}};
    constexpr std::size_t Lengths[] = {1,  2,  3,  4,  21, 22,  23,  30,  31,  32,  36,  40, 50,
                                       64, 66, 70, 85, 89, 115, 130, 137, 193, 223, 256, 302};
    std::mt19937 random(7);
    for (int i = 0; i < 1500; ++i) {
        const std::size_t n = random() % 2 ? Lengths[random() % std::size(Lengths)] : 1 + random() % 400;
        std::vector<std::uint8_t> d(n);
        for (auto& b : d)
            b = static_cast<std::uint8_t>(random());
        const unsigned shape = random() % 8;
        if (shape < 3 && n >= 3) { // the envelope of a command
            d[0] = 0xFF;
            d[1] = static_cast<std::uint8_t>(n - 3);
        } else if (shape == 3) { // a serial frame's head
            d[0] = 0x55;
        } else if (shape == 4 && n >= 6) { // an upgrade request's marker
            std::fill_n(d.begin(), 6, 0xAA);
        }
        if (random() % 2 && n >= 2) // a right checksum
            d.back() = static_cast<std::uint8_t>(std::accumulate(d.begin() + 1, d.end() - 1, 0u));
        const TWay& way = Ways[random() % std::size(Ways)];
        if (way.Serial)
            capture->SerialChunk({way.Direction, "/dev/ttyS0", d, {}});
        else
            capture->Datagram(
                {way.Direction, TChannel::Lan, "10.77.0.2", way.Local, "10.77.0.50", way.Peer, d, {}});
    }
    capture->Finish();

    TFrameFields decoded = DecodeFields(file, {"vorz.kind", "frame.comment"});
    ASSERT_EQ(decoded.size(), 1500u);
    EXPECT_EQ(FramesMatching(file, DissectorErrors), std::vector<int>{});
    int taken = 0;
    for (auto& [frame, values] : decoded) {
        const std::string kind = values["vorz.kind"];
        if (kind.empty())
            continue; // on a port of no module, without a signature
        ++taken;
        const std::string comment = values["frame.comment"];
        EXPECT_TRUE(comment == kind || comment == kind + ", log-in masked")
            << "frame " << frame << ": the comment says \"" << comment << "\", the dissector \"" << kind
            << "\"";
    }
    EXPECT_GT(taken, 1000);
    std::map<int, std::string> onLua54 = KindsOnLua54(file, dir.File("packets.txt"));
    for (auto& [frame, values] : decoded)
        EXPECT_EQ(onLua54[frame], values["vorz.kind"]) << "frame " << frame << " on Lua 5.4";
}

// The window's form: held in memory, started over at a search, saved on demand.
TEST(Capture, KeepLoginLeavesThePasswordsAndAnInMemoryCaptureStartsOver) {
    RequireTools();
    TTempDir dir;
    TCaptureOptions options;
    options.KeepLogin = true;
    auto capture = TCapture::InMemory(options);
    const std::uint8_t before[] = {0xFF, 0x01, 0x01, 0x02};
    capture->Datagram({TDirection::Sent, TChannel::Lan, "10.1.1.1", 1, "10.1.1.2", 1500, before, {}});
    capture->Restart();
    const TTrafficResult traffic = WriteSupportCase(*capture);
    const std::string file = dir.File("kept.pcapng");
    std::string error;
    ASSERT_TRUE(capture->SaveAs(file, error)) << error;
    EXPECT_EQ(CapinfosPackets(file), traffic.Frames);

    EXPECT_TRUE(Contains(ReadFile(file), Password));
    TFrameFields decoded = DecodeFields(file, {"vorz.code", "vorz.login.password", "vorz.Password"});
    int commands = 0;
    for (auto& [frame, values] : decoded) {
        if (values["vorz.code"] != "0x03" || values["vorz.login.password"] == "wrong1")
            continue;
        EXPECT_EQ(values["vorz.login.password"], Password) << "frame " << frame;
        ++commands;
    }
    EXPECT_EQ(commands, 4); // the reads of both modules, the corrupted one, the one on another port
    // Every base block (read replies, the save's write, the serial reply and frame) shows it.
    const std::vector<int> bases = FramesMatching(file, "vorz.Password");
    EXPECT_EQ(bases.size(), 5u);
    EXPECT_EQ(FramesMatching(file, "vorz.Password == \"" + std::string(Password) + "\""), bases);
    EXPECT_EQ(FramesMatching(file, "vorz.checksum.bad"), traffic.BadChecksumFrames);
}

TEST(Capture, IsBoundedAndSaysWhatItLeftOut) {
    RequireTools();
    TTempDir dir;
    const std::string file = dir.File("limited.pcapng");
    TCaptureOptions options;
    options.LimitBytes = 8192;
    std::string error;
    auto capture = TCapture::ToFile(file, options, error);
    ASSERT_TRUE(capture) << error;
    std::vector<std::uint8_t> reply(36, 0);
    reply[0] = 0xFF;
    reply[1] = 0x24;
    reply[2] = 0x01;
    constexpr int Sent = 500;
    for (int i = 0; i < Sent; ++i) {
        reply[14] = static_cast<std::uint8_t>(i);
        capture->Datagram(
            {TDirection::Received, TChannel::Lan, "10.77.0.2", 50123, "10.77.0.50", 1500, reply, {}});
    }
    capture->Finish();
    const TCaptureStats stats = capture->Stats();
    EXPECT_TRUE(stats.Stopped);
    EXPECT_GT(stats.Packets, 10u);
    EXPECT_EQ(stats.Packets + stats.LeftOut, static_cast<std::uint64_t>(Sent));
    EXPECT_EQ(capture->StopNote(), "capture stopped at its size limit of 8192 bytes; " +
                                       std::to_string(stats.LeftOut) + " packets left out");
    EXPECT_LE(std::filesystem::file_size(file), 8192u);
    EXPECT_EQ(CapinfosPackets(file), static_cast<long>(stats.Packets));
    // The interface statistics that end the file carry the note.
    EXPECT_TRUE(Contains(ReadFile(file), capture->StopNote()));

    // The queue between the caller and the capture's thread is bounded too: what comes while it
    // is full is left out and counted, and the capture says so.
    TCaptureOptions small;
    small.QueueBytes = 2048;
    small.WakeBytes = SIZE_MAX;
    small.FlushInterval = std::chrono::hours(1); // the thread does not run until asked
    auto queued = TCapture::InMemory(small);
    for (int i = 0; i < 100; ++i)
        queued->Datagram(
            {TDirection::Received, TChannel::Lan, "10.77.0.2", 50123, "10.77.0.50", 1500, reply, {}});
    queued->Flush();
    const TCaptureStats q = queued->Stats();
    EXPECT_GT(q.Packets, 10u);
    EXPECT_GT(q.LeftOut, 10u);
    EXPECT_EQ(q.Packets + q.LeftOut, 100u);
    EXPECT_FALSE(q.Stopped);
    EXPECT_EQ(queued->StopNote(),
              std::to_string(q.LeftOut) + " packets left out while the capture could not keep up");
}

// A process killed while it captures leaves whole blocks only: the file reads without an error
// and holds what was collected up to the last flush interval.
TEST(Capture, AKilledWriterLeavesAReadableFile) {
    RequireTools();
    TTempDir dir;
    const std::string file = dir.File("killed.pcapng");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto capture = TCapture::ToFile(file, {}, error);
        const std::uint8_t ack[] = {0xFF, 0x01, 0x05, 0x4B};
        for (int i = 0; i < 20; ++i)
            capture->Datagram(
                {TDirection::Received, TChannel::Lan, "10.77.0.2", 50123, "10.77.0.50", 1500, ack, {}});
        std::this_thread::sleep_for(std::chrono::milliseconds(600)); // more than the flush interval
        for (int i = 0; i < 5; ++i)
            capture->Datagram(
                {TDirection::Received, TChannel::Lan, "10.77.0.2", 50123, "10.77.0.50", 1500, ack, {}});
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const long packets = CapinfosPackets(file);
    EXPECT_GE(packets, 20);
    EXPECT_LE(packets, 25);
}
