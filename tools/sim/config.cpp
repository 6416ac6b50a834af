#include "config.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace varnix::sim {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::invalid_argument(what);
}

double parseNumber(const std::string& opt, const std::string& text) {
    std::size_t used = 0;
    double v = 0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(v))
        fail(opt + ": not a number: " + text);
    return v;
}

int parseInt(const std::string& opt, const std::string& text, long lo, long hi) {
    const double v = parseNumber(opt, text);
    if (v != std::floor(v) || v < static_cast<double>(lo) || v > static_cast<double>(hi))
        fail(opt + ": must be a whole number " + std::to_string(lo) + ".." + std::to_string(hi));
    return static_cast<int>(v);
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    parts.push_back(cur);
    return parts;
}

std::string str(const QJsonValue& v) {
    return v.toString().toStdString();
}

Bytes hexField(const QJsonObject& o, const char* key, int index) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        fail("module " + std::to_string(index) + ": \"" + key + "\" must be a hex string");
    const auto b = parseHex(str(v));
    if (!b)
        fail("module " + std::to_string(index) + ": \"" + key + "\" is not hex");
    return *b;
}

ModuleDesc moduleFromJson(const QJsonObject& o, int index) {
    const std::string where = "module " + std::to_string(index) + ": ";
    ModuleDesc m;
    auto has = [&](const char* k) { return o.contains(QLatin1String(k)); };
    auto val = [&](const char* k) { return o.value(QLatin1String(k)); };
    if (has("family")) {
        const auto f = parseFamily(str(val("family")));
        if (!f)
            fail(where + "unknown family \"" + str(val("family")) + "\"");
        m.family = *f;
    }
    if (has("mac")) {
        m.mac = parseMac(str(val("mac")));
        if (!m.mac)
            fail(where + "bad mac \"" + str(val("mac")) + "\"");
    }
    if (has("ip")) {
        m.ip = parseIp(str(val("ip")));
        if (!m.ip)
            fail(where + "bad ip \"" + str(val("ip")) + "\"");
    }
    if (has("name"))
        m.name = str(val("name"));
    if (has("firmware")) {
        const double f = val("firmware").toDouble(-1);
        if (f != std::floor(f) || f < 0 || f > 65535)
            fail(where + "firmware must be 0..65535");
        m.firmware = static_cast<int>(f);
    }
    if (has("user"))
        m.user = str(val("user"));
    if (has("password"))
        m.password = str(val("password"));
    if (has("base"))
        m.base = hexField(o, "base", index);
    if (has("port"))
        m.port = hexField(o, "port", index);
    if (has("cloud"))
        m.cloud = hexField(o, "cloud", index);
    if (has("heart"))
        m.heart = hexField(o, "heart", index);
    if (has("httpd"))
        m.httpd = hexField(o, "httpd", index);
    if (has("modbus"))
        m.modbus = hexField(o, "modbus", index);
    if (has("replies")) {
        if (!val("replies").isArray())
            fail(where + "\"replies\" must be an array");
        for (const QJsonValue& r : val("replies").toArray()) {
            if (r.isString())
                m.replies.push_back(str(r));
            else if (r.isDouble())
                m.replies.push_back(std::to_string(r.toInt()));
            else
                fail(where + "\"replies\" entries must be strings");
        }
        if (m.replies.empty())
            fail(where + "\"replies\" is empty");
    }
    if (has("modbusKind"))
        m.modbusKind = val("modbusKind").toInt(-1);
    if (has("modbusKind") && m.modbusKind != 1 && m.modbusKind != 4 && m.modbusKind != 7)
        fail(where + "modbusKind must be 1, 4 or 7");
    if (has("upgrade")) {
        const QJsonObject u = val("upgrade").toObject();
        const auto share = [&](const char* k) -> std::optional<double> {
            if (!u.contains(QLatin1String(k)))
                return std::nullopt;
            const double v = u.value(QLatin1String(k)).toDouble(-1);
            if (!(v >= 0 && v <= 1))
                fail(where + "upgrade." + k + " must be 0..1");
            return v;
        };
        m.upgrade.dropBlocks = share("dropBlocks");
        m.upgrade.dropAcks = share("dropAcks");
        if (u.contains(QLatin1String("signature"))) {
            const auto b = parseHex(str(u.value(QLatin1String("signature"))));
            if (!b || b->size() != 4)
                fail(where + "upgrade.signature must be 4 bytes of hex");
            m.upgrade.signature = *b;
        }
        if (u.contains(QLatin1String("byte26")))
            m.upgrade.byte26 = u.value(QLatin1String("byte26")).toInt() & 0xFF;
        if (u.contains(QLatin1String("stopAfter")))
            m.upgrade.stopAfter = u.value(QLatin1String("stopAfter")).toInt(-1);
        if (u.contains(QLatin1String("dropLastAcks")))
            m.upgrade.dropLastAcks = std::max(0, u.value(QLatin1String("dropLastAcks")).toInt());
        if (u.contains(QLatin1String("firmware")))
            m.upgrade.firmware = u.value(QLatin1String("firmware")).toInt() & 0xFFFF;
    }
    m.ignoreWrites = val("ignoreWrites").toBool(false);
    m.silent = val("silent").toBool(false);
    // Surface configuration errors (block sizes, missing MAC) with the module's position.
    try {
        Module check(m, Vary(0));
    } catch (const std::invalid_argument& e) {
        fail(where + e.what());
    }
    return m;
}

} // namespace

ModuleDesc parseModuleDesc(const std::string& text) {
    std::vector<std::string> f = split(text, ':');
    // A MAC written with ':' separators spans six fields.
    if (f.size() >= 7 && f[1].size() == 2) {
        std::string mac = f[1];
        for (int i = 2; i <= 6; ++i)
            mac += ':' + f[static_cast<std::size_t>(i)];
        f.erase(f.begin() + 2, f.begin() + 7);
        f[1] = mac;
    }
    if (f.size() < 2 || f.size() > 5)
        fail("--module: expected FAMILY:MAC:IP:NAME:FIRMWARE, got \"" + text + "\"");
    ModuleDesc m;
    const auto fam = parseFamily(f[0]);
    if (!fam)
        fail("--module: unknown family \"" + f[0] + "\"");
    m.family = *fam;
    m.mac = parseMac(f[1]);
    if (!m.mac)
        fail("--module: bad MAC \"" + f[1] + "\"");
    if (f.size() > 2 && !f[2].empty()) {
        m.ip = parseIp(f[2]);
        if (!m.ip)
            fail("--module: bad IP \"" + f[2] + "\"");
    }
    if (f.size() > 3 && !f[3].empty())
        m.name = f[3];
    if (f.size() > 4 && !f[4].empty())
        m.firmware = parseInt("--module firmware", f[4], 0, 65535);
    return m;
}

std::uint64_t parseVarySeed(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= 20 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    errno = 0;
    const unsigned long long v = digits ? std::strtoull(text.c_str(), nullptr, 10) : 0;
    if (!digits || errno == ERANGE)
        fail("--vary-seed: must be a whole number 0.." + std::to_string(UINT64_MAX) + ", not " + text);
    return v;
}

std::vector<ModuleDesc> generatedModules(int count) {
    std::vector<ModuleDesc> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n) {
        const auto x = static_cast<std::uint8_t>((n >> 16) & 0xFF);
        const auto y = static_cast<std::uint8_t>((n >> 8) & 0xFF);
        const auto z = static_cast<std::uint8_t>(n & 0xFF);
        ModuleDesc m;
        m.family = Family::Z2;
        m.mac = Mac{0x02, 0x00, 0x00, x, y, z};
        m.ip = Ip4{10, x, y, z};
        m.name = "Sim-" + std::to_string(n);
        out.push_back(std::move(m));
    }
    return out;
}

void parseConfigJson(const std::string& json, SimOptions& into, bool dropGiven, bool seedGiven) {
    QJsonParseError err{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &err);
    if (doc.isNull())
        fail("config: " + err.errorString().toStdString() + " at offset " + std::to_string(err.offset));
    if (!doc.isObject())
        fail("config: the top level must be an object");
    const QJsonObject top = doc.object();
    const QJsonValue mods = top.value(QLatin1String("modules"));
    if (!mods.isUndefined() && !mods.isArray())
        fail("config: \"modules\" must be an array");
    int index = 0;
    for (const QJsonValue& v : mods.toArray()) {
        if (!v.isObject())
            fail("config: module " + std::to_string(index) + " is not an object");
        into.modules.push_back(moduleFromJson(v.toObject(), index));
        ++index;
    }
    if (top.contains(QLatin1String("drop")) && !dropGiven) {
        into.drop = top.value(QLatin1String("drop")).toDouble(-1);
        if (!(into.drop >= 0 && into.drop <= 1))
            fail("config: drop must be 0..1");
    }
    if (top.contains(QLatin1String("seed")) && !seedGiven)
        into.seed = static_cast<unsigned>(top.value(QLatin1String("seed")).toInteger(1));
    if (top.contains(QLatin1String("varySeed")) && !into.varySeed) {
        // A JSON number is exact up to 2^53; every seed the simulator prints fits.
        const double v = top.value(QLatin1String("varySeed")).toDouble(-1);
        if (!(v >= 0 && v <= 9007199254740992.0) || v != std::floor(v))
            fail("config: varySeed must be a whole number 0..2^53");
        into.varySeed = static_cast<std::uint64_t>(v);
    }
}

SimOptions parseCommandLine(int argc, char** argv) {
    SimOptions o;
    std::vector<std::string> moduleArgs;
    std::string configPath;
    int generate = 0;
    bool dropGiven = false;
    bool seedGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(a + " needs a value");
            return argv[++i];
        };
        if (a == "--bind") {
            o.bind = value();
        } else if (a == "--port-z2") {
            o.portZ2 = parseInt(a, value(), 1, 65535);
        } else if (a == "--port-z3") {
            o.portZ3 = parseInt(a, value(), 1, 65535);
        } else if (a == "--iface") {
            for (const auto& n : split(value(), ','))
                if (!n.empty())
                    o.ifaces.push_back(n);
        } else if (a == "--reply") {
            const std::string v = value();
            if (v != "broadcast" && v != "unicast")
                fail("--reply must be broadcast or unicast");
            o.broadcastReplies = v == "broadcast";
        } else if (a == "--config") {
            configPath = value();
        } else if (a == "--module") {
            moduleArgs.push_back(value());
        } else if (a == "--generate") {
            generate = parseInt(a, value(), 0, 60000);
        } else if (a == "--drop") {
            o.drop = parseNumber(a, value());
            if (o.drop < 0 || o.drop > 1)
                fail("--drop must be 0..1");
            dropGiven = true;
        } else if (a == "--seed") {
            o.seed = static_cast<unsigned>(parseInt(a, value(), 0, 2147483647));
            seedGiven = true;
        } else if (a == "--vary-seed") {
            o.varySeed = parseVarySeed(value());
        } else if (a == "--state") {
            o.statePath = value();
        } else if (a == "--journal") {
            o.journalPath = value();
        } else if (a == "--reset-to") {
            const std::string v = value();
            if (v != "factory" && v != "started")
                fail("--reset-to must be factory or started");
            o.resetToFactory = v == "factory";
        } else if (a == "--restart-ms") {
            o.restartMs = parseInt(a, value(), 0, 3600000);
        } else if (a == "--duration") {
            o.durationS = parseNumber(a, value());
            if (*o.durationS < 0)
                fail("--duration must not be negative");
        } else {
            fail("unknown option " + a);
        }
    }
    if (o.portZ2 == o.portZ3)
        fail("--port-z2 and --port-z3 must differ");
    if (!configPath.empty()) {
        QFile f(QString::fromStdString(configPath));
        if (!f.open(QIODevice::ReadOnly))
            fail("config: cannot read " + configPath + ": " + f.errorString().toStdString());
        const QByteArray data = f.readAll();
        parseConfigJson(std::string(data.constData(), static_cast<std::size_t>(data.size())), o, dropGiven,
                        seedGiven);
    }
    for (const auto& s : moduleArgs)
        o.modules.push_back(parseModuleDesc(s));
    for (auto& m : generatedModules(generate))
        o.modules.push_back(std::move(m));
    for (std::size_t i = 0; i < o.modules.size(); ++i)
        if (!o.modules[i].name && o.modules[i].mac && !o.modules[i].base)
            o.modules[i].name = "Module-" + std::to_string(i + 1);
    return o;
}

} // namespace varnix::sim
