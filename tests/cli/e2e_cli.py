#!/usr/bin/env python3
"""End-to-end checks of varnix-cli against varnix-sim.

Runs inside the private network namespace of tests/netns-run --segments 1: the simulated modules
live in a namespace of their own behind the PC's adapter, with addresses in a subnet foreign to
the PC (192.168.0.x) and no route back, so they answer by broadcast; the cli searches and sends
from the PC's adapter (10.9.0.1). Each case starts its own simulator with its own modules, so
cases do not see each other's writes. What a save changed is read from the simulator's --state
file and what went over the wire from its --journal.

    e2e_cli.py CLI SIM CASE      (CASE "all" runs every case)
"""
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

CLI, SIM = sys.argv[1], sys.argv[2]
PC = os.environ.get("VARNIX_NS_PC_IPS", "").split(",")[0]
SIM_IFACE = os.environ.get("VARNIX_NS_SIM_IFACES", "").split(",")[0]
IN_MODULES = os.environ.get("VARNIX_NS_IN_MODULES", "")
# tests/netns-run --veth 1 instead: the same-subnet case, modules answering the sender unicast.
REPLY = "unicast" if os.environ.get("VARNIX_NS_TOPOLOGY") == "veth" else "broadcast"
# Program directory of every cli run (it holds varnix.db), kept out of the build tree.
HOME = tempfile.mkdtemp(prefix="vx-cli-home-")
WRITE_CODES = {0x02, 0x04, 0x05, 0x06, 0x0B, 0x0C, 0x21, 0x22, 0x23, 0x24}


class Fail(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Fail(message)


class Sim:
    """One simulator process with a JSON config; stopped with SIGTERM."""

    def __init__(self, modules, restart_ms=200):
        self.dir = tempfile.mkdtemp(prefix="vx-cli-e2e-")
        self.state_path = os.path.join(self.dir, "state.json")
        self.journal_path = os.path.join(self.dir, "journal.jsonl")
        config = os.path.join(self.dir, "config.json")
        with open(config, "w") as f:
            json.dump({"modules": modules}, f)
        # The wrapper exec's the simulator in the modules' namespace, so SIGTERM reaches it.
        self.proc = subprocess.Popen(
            [IN_MODULES, SIM, "--bind", "0.0.0.0", "--iface", SIM_IFACE, "--reply", REPLY, "--config", config, "--state", self.state_path,
             "--journal", self.journal_path, "--restart-ms", str(restart_ms), "--duration", "120"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "varnix-sim: ready":
            self.proc.kill()
            raise Fail("simulator did not start: %r %s" % (line, self.proc.stderr.read()))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)

    def state(self):
        with open(self.state_path) as f:
            return {m["mac"]: m for m in json.load(f)["modules"]}

    def wait_state(self, mac, ok, timeout=5.0):
        """The module's state once `ok(state)` holds, or the last one seen after `timeout` s."""
        deadline = time.monotonic() + timeout
        while True:
            st = self.state()[mac]
            if ok(st) or time.monotonic() > deadline:
                return st
            time.sleep(0.02)

    def journal(self):
        if not os.path.exists(self.journal_path):
            return []
        with open(self.journal_path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def handled(self):
        """Journal lines of datagrams a module reacted to (not those it ignored)."""
        return [j for j in self.journal() if j["result"] != "ignored"]

    def writes_seen(self):
        """Codes of write/restart/reset datagrams the simulator received."""
        return [j["code"] for j in self.handled() if j.get("code") in WRITE_CODES and j["len"] >= 22]


def cli(*args, env=None, timeout=90):
    e = dict(os.environ)
    e.pop("VARNIX_USER", None)
    e.pop("VARNIX_PASSWORD", None)
    if env:
        e.update(env)
    p = subprocess.run([CLI, "--interface", PC, "--home", HOME] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                       text=True, env=e, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def cli_json(*args, **kw):
    rc, out, err = cli(*args, "--json", **kw)
    try:
        doc = json.loads(out)
    except ValueError:
        raise Fail("not JSON (rc %d): %r / %s" % (rc, out, err))
    check(doc.get("exit") == rc, "JSON exit %r differs from status %d" % (doc.get("exit"), rc))
    return rc, doc, err


def z2(mac, ip, name, **extra):
    m = {"family": "z2", "mac": mac, "ip": ip, "name": name, "firmware": 4017}
    m.update(extra)
    return m


def z3(mac, ip, name, **extra):
    m = {"family": "z3", "mac": mac, "ip": ip, "name": name, "firmware": 4017}
    m.update(extra)
    return m


# Base block identity as the simulator stores it: IP bytes 9-12 reversed, name 21-36, MAC 53-58.
def base_ip(base_hex):
    b = bytes.fromhex(base_hex)
    return "%d.%d.%d.%d" % (b[12], b[11], b[10], b[9])


def base_name(base_hex):
    return bytes.fromhex(base_hex)[21:37].split(b"\0")[0].decode()


def diff_bytes(a_hex, b_hex):
    a, b = bytes.fromhex(a_hex), bytes.fromhex(b_hex)
    check(len(a) == len(b), "block length changed")
    return [i for i in range(len(a)) if a[i] != b[i]]


MAC_A, MAC_B, MAC_C = "00 1A 2B 3C 4D 5E", "00 1A 2B 3C 4D 5F", "00 1A 2B 3C 4D 60"
BLOCKS = ("base", "port", "cloud", "heart", "httpd", "modbus")


# --- cases ---

def case_search_and_read():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Z3-1", firmware=5001),
               z2("00 1A 2B 3C 4D 61", "192.168.0.52", "Old", firmware=2001)])
    try:
        rc, doc, _ = cli_json("search", "--timeout", "1")
        check(rc == 0, "search exit %d" % rc)
        by_mac = {m["mac"]: m for m in doc["modules"]}
        check(len(doc["modules"]) == 3, "three modules expected, got %r" % doc["modules"])
        check(by_mac[MAC_A] == {"ip": "192.168.0.50", "name": "Line-1", "mac": MAC_A, "firmware": 4017,
                                "family": "Z2", "familyCode": 2, "local": PC}, "Z2 row %r" % by_mac[MAC_A])
        check(by_mac[MAC_B]["family"] == "Z3" and by_mac[MAC_B]["firmware"] == 5001, "Z3 row %r" % by_mac[MAC_B])
        check(by_mac["00 1A 2B 3C 4D 61"]["family"] == "incompatible", "firmware 2001 is incompatible")

        rc, doc, _ = cli_json("read", "001a2b3c4d5e")
        check(rc == 0, "read exit %d" % rc)
        f = doc["fields"]
        check(doc["replies"] == {"params": True, "cloud": True, "heartbeat": True, "httpd": True, "modbusKind": 7},
              "replies %r" % doc["replies"])
        expect = {"StaticIP": "192.168.0.50", "GatewayIP": "192.168.0.1", "SubnetMask": "255.255.255.0",
                  "ModName": "Line-1", "UserMAC": MAC_A, "BaudRate": 115200, "DataBits": 8, "Parity": 1,
                  "StopBits": 1, "WorkMode": 3, "LocalPort": 8234, "RemotePort": 8234, "RemoteIP": "192.168.0.1",
                  "TCPSvrCount": 4, "RestartTimeout": 300, "DeviceNo": "001A2B3C4D5E", "CommPassword": "12345678",
                  "HeartbeatType": 2, "HeartbeatInterval": 30, "HeartbeatData": "heart", "RegisterData": "register",
                  "HttpdURL": "/data", "HttpdHeader": "Content-Type: text/plain", "ModbusPollTimeout": 200,
                  "ModbusPollInterval": 1000, "ModbusTCPEnable": False, "AddrType": 1}
        for k, v in expect.items():
            check(f.get(k) == v, "read %s = %r, expected %r" % (k, f.get(k), v))

        rc, doc, _ = cli_json("read", MAC_B)
        check(rc == 0 and doc["replies"]["cloud"] is False and "DeviceNo" not in doc["fields"], "Z3 read %r" % doc)
        check(doc["fields"]["UARTLength"] == 1024 and doc["fields"]["TCPSvrCount"] == 4, "Z3 layout %r" % doc["fields"])

        rc, _, err = cli("read", "00 1A 2B 3C 4D 61")
        check(rc == 2 and "incompatible" in err, "incompatible read: %d %s" % (rc, err))
        rc, _, err = cli("read", "00 1A 2B 3C 4D 99", "--timeout", "0.5")
        check(rc == 1 and "did not answer" in err, "absent module: %d %s" % (rc, err))
        check(sim.writes_seen() == [], "search/read wrote something")
    finally:
        sim.stop()


def case_set_one_field():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1")])
    try:
        before = sim.state()[MAC_A]
        rc, doc, err = cli_json("set", MAC_A, "ModName=Press-7", "--verify-timeout", "5")
        check(rc == 0, "set exit %d: %s" % (rc, err))
        m = doc["modules"][0]
        check(m["outcome"] == "verified", "outcome %r" % m)
        check(m["changes"] == [{"field": "ModName", "old": "Line-1", "new": "Press-7"}], "changes %r" % m["changes"])
        check(m["sideEffects"] == [], "side effects %r" % m["sideEffects"])
        check([a["result"] for a in m["acks"]] == ["K"] * 5, "acks %r" % m["acks"])
        after = sim.state()[MAC_A]
        check(after["writes"] == [0x05, 0x06, 0x21, 0x24], "writes %r" % after["writes"])
        check(diff_bytes(before["base"], after["base"]) == list(range(21, 28)), "base bytes changed: %r"
              % diff_bytes(before["base"], after["base"]))
        check(base_name(after["base"]) == "Press-7", "name in base block")
        for block in ("port", "cloud", "heart", "httpd", "modbus"):
            check(before[block] == after[block], "%s block changed" % block)
        check(after["restarts"] == 1 and after["name"] == "Press-7", "restart / identity %r" % after)
    finally:
        sim.stop()


def case_set_enums_and_skips():
    # A Z2 module that sent only the 130-byte reply gets neither 0x21, 0x22/0x23 nor 0x24,
    # whatever its firmware number.
    sim = Sim([z2(MAC_A, "192.168.0.50", "Bare", firmware=4100, replies=["130"])])
    try:
        rc, doc, err = cli_json("set", MAC_A, "WorkMode=HTTPD Client", "Parity=EVEN", "BaudRate=9600",
                                "--verify-timeout", "5")
        check(rc == 0, "set exit %d: %s" % (rc, err))
        m = doc["modules"][0]
        skipped = {s["code"]: s["reason"] for s in m["skipped"]}
        for code in (0x21, 0x22, 0x23, 0x24):
            check(code in skipped, "0x%02X not reported as skipped: %r" % (code, m["skipped"]))
        check("sent no" in skipped[0x21] and "sent no" in skipped[0x22], "skip reasons %r" % skipped)
        st = sim.state()[MAC_A]
        check(st["writes"] == [0x05, 0x06], "writes %r" % st["writes"])
        port = bytes.fromhex(st["port"])
        check(port[51] == 4 and port[5] == 3 and int.from_bytes(port[0:4], "little") == 9600, "port block %r" % port.hex())
        check(m["outcome"] == "verified", "outcome %r" % m)
        # Fields of a block the module did not send cannot be set: usage error, nothing sent.
        n = len(sim.journal())
        rc, _, err = cli("set", MAC_A, "HeartbeatInterval=60")
        check(rc == 2 and "HeartbeatInterval" in err and "sent no heartbeat" in err, "heart on bare module: %d %s" % (rc, err))
        check(sim.writes_seen() == [0x05, 0x06, 0x02], "a write followed the refused set: %r" % sim.writes_seen())
        check(len(sim.journal()) > n, "the refusal needs the read")
    finally:
        sim.stop()


def case_bad_value_sends_nothing():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1")])
    try:
        for args, word in ((["BaudRate=fast"], "BaudRate"), (["LocalPort=70000"], "LocalPort"),
                           (["Parity=SOMETIMES"], "Parity"), (["NoSuchField=1"], "NoSuchField"),
                           (["StaticIP=192.168.0.300"], "StaticIP"), (["ModName=" + "x" * 17], "ModName")):
            rc, _, err = cli("set", MAC_A, *args)
            check(rc == 2 and word in err, "%s: exit %d, %s" % (args, rc, err))
        rc, _, err = cli("set", "00 1A 2B 3C 4D", "ModName=x")
        check(rc == 2 and "MAC" in err, "bad MAC: %d %s" % (rc, err))
        check(sim.journal() == [], "datagrams were sent: %r" % sim.journal())
    finally:
        sim.stop()


def case_dry_run():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1")])
    try:
        before = sim.state()[MAC_A]
        rc, doc, _ = cli_json("set", MAC_A, "StaticIP=192.168.0.60", "--dry-run")
        check(rc == 0, "dry-run exit %d" % rc)
        m = doc["modules"][0]
        check(m["changes"] == [{"field": "StaticIP", "old": "192.168.0.50", "new": "192.168.0.60"}], "changes %r" % m)
        codes = [d["code"] for d in m["datagrams"]]
        check(codes == [0x05, 0x06, 0x21, 0x24, 0x02], "planned datagrams %r" % codes)
        first = bytes.fromhex(m["datagrams"][0]["hex"].replace(" ", ""))
        check(len(first) == 89 and first[0] == 0xFF and first[1] == 86 and first[2] == 5, "base datagram %r" % first.hex())
        check(first[3:9] == bytes.fromhex("001A2B3C4D5E") and first[21 + 9:21 + 13] == bytes([60, 0, 168, 192]),
              "addressed body %r" % first.hex())
        check(sum(first[1:-1]) % 256 == first[-1], "checksum")
        check(sim.writes_seen() == [], "dry-run wrote: %r" % sim.writes_seen())
        check({j["result"] for j in sim.handled()} == {"search", "read"}, "journal %r" % sim.journal())
        check(sim.state()[MAC_A] == before, "state changed")
        rc, _, _ = cli("provision", write_sheet(sim, "MAC,ModName\n%s,Other\n" % MAC_A), "--dry-run")
        check(rc == 0 and sim.writes_seen() == [], "provision dry-run wrote")
    finally:
        sim.stop()


def case_wrong_password():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1", password="s3cret")])
    try:
        before = sim.state()[MAC_A]
        rc, _, err = cli("set", MAC_A, "ModName=Nope")
        check(rc == 3 and "password" in err, "exit %d %s" % (rc, err))
        rc, _, err = cli("read", MAC_A, env={"VARNIX_PASSWORD": "wrong"})
        check(rc == 3, "read with wrong env password: %d" % rc)
        check(sim.state()[MAC_A] == before and sim.writes_seen() == [], "something was written")
        # The right one from the environment works, and a new password is used for the read-back.
        rc, doc, err = cli_json("set", MAC_A, "Password=n3w", "--verify-timeout", "5", env={"VARNIX_PASSWORD": "s3cret"})
        check(rc == 0 and doc["modules"][0]["outcome"] == "verified", "password change: %d %s %r" % (rc, err, doc))
        rc, _, _ = cli("read", MAC_A, "--password", "n3w")
        check(rc == 0, "read with the new password: %d" % rc)
    finally:
        sim.stop()


def case_unverified():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1", ignoreWrites=True), z2(MAC_B, "192.168.0.51", "Quiet", silent=True)])
    try:
        t0 = time.monotonic()
        rc, doc, err = cli_json("set", MAC_A, "RemotePort=9000", "--verify-timeout", "2")
        m = doc["modules"][0]
        check(rc == 1, "ignored save exit %d %s" % (rc, err))
        check(m["outcome"] == "unverified", "outcome %r" % m)
        check(m["verify"]["verified"] is False and m["verify"]["mismatches"] == [
            {"field": "RemotePort", "sent": 9000, "read": 8234}], "verify %r" % m["verify"])
        check(time.monotonic() - t0 < 20, "verification did not stop at its timeout")
        # A module that answers the search but nothing else: the read is not answered.
        rc, _, err = cli("set", MAC_B, "RemotePort=9000", "--timeout", "1")
        check(rc == 1 and "no parameter reply" in err, "silent module: %d %s" % (rc, err))
    finally:
        sim.stop()


def case_profile_apply_three():
    macs = ["02 00 00 00 00 0%d" % i for i in (1, 2, 3)]
    source = z2(MAC_A, "192.168.0.40", "Master")
    sim = Sim([source] + [z2(m, "192.168.0.%d" % (50 + i), "Unit-%d" % i) for i, m in enumerate(macs)])
    try:
        # The master's own settings differ in the port block and the heartbeat interval.
        rc, _, err = cli("set", MAC_A, "BaudRate=38400", "RemotePort=7001", "HeartbeatInterval=45", "--no-verify")
        check(rc == 0, "master set: %d %s" % (rc, err))
        # The profile's read finds the master once it is back from its restart (the search repeats).
        check(sim.wait_state(MAC_A, lambda st: st["restarts"] == 1)["restarts"] == 1, "master restarted")
        profile = os.path.join(sim.dir, "master.json")
        rc, _, err = cli("profile", "save", MAC_A, profile)
        check(rc == 0, "profile save %d %s" % (rc, err))
        check(os.stat(profile).st_mode & 0o077 == 0, "profile readable by others")
        with open(profile) as f:
            p = json.load(f)
        check(p["format"] == "varnix-profile" and p["fields"]["BaudRate"] == 38400, "profile %r" % p)
        before = sim.state()
        rc, doc, err = cli_json("profile", "apply", profile, *macs, "--verify-timeout", "8")
        check(rc == 0, "apply exit %d %s" % (rc, err))
        outcomes = {m["mac"]: m["outcome"] for m in doc["modules"]}
        check(outcomes == {m: "verified" for m in macs}, "outcomes %r" % outcomes)
        after = sim.state()
        for i, mac in enumerate(macs):
            st = after[mac]
            check(st["ip"] == "192.168.0.%d" % (50 + i) and st["name"] == "Unit-%d" % i, "identity changed %r" % st)
            port = bytes.fromhex(st["port"])
            check(int.from_bytes(port[0:4], "little") == 38400 and int.from_bytes(port[14:16], "little") == 7001,
                  "port block of %s" % mac)
            check(int.from_bytes(bytes.fromhex(st["heart"])[1:3], "little") == 45, "heartbeat interval of %s" % mac)
            check(st["cloud"] == before[mac]["cloud"], "cloud block changed (RegisterType is not cloud)")
        check(after[MAC_A]["writes"] == before[MAC_A]["writes"], "the master was written")
        # With --with-identity the identity comes along too (dry run: just the changes).
        rc, doc, _ = cli_json("profile", "apply", profile, macs[0], "--with-identity", "--dry-run")
        fields = {c["field"] for c in doc["modules"][0]["changes"]}
        check(rc == 0 and {"StaticIP", "ModName", "UserMAC"} <= fields, "with identity: %r" % fields)
        # A profile with an unknown field is refused before anything is sent.
        p["fields"]["Bogus"] = 1
        with open(profile, "w") as f:
            json.dump(p, f)
        n = len(sim.writes_seen())
        rc, _, err = cli("profile", "apply", profile, macs[0])
        check(rc == 2 and "Bogus" in err and len(sim.writes_seen()) == n, "bad profile: %d %s" % (rc, err))
    finally:
        sim.stop()


def write_sheet(sim, text, name="sheet.csv"):
    path = os.path.join(sim.dir, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def case_provision_three():
    macs = ["02 00 00 00 00 1%d" % i for i in (1, 2, 3)]
    sim = Sim([z2(m, "192.168.0.%d" % (20 + i), "Fresh") for i, m in enumerate(macs)])
    try:
        sheet = write_sheet(sim, "\ufeffMAC,StaticIP,ModName,RemoteIP,WorkMode\n"
                                 "%s,192.168.0.101,Line-A,192.168.0.1,TCP Client\n"
                                 "%s,192.168.0.102,\"Line, B\",,\n"
                                 "%s,192.168.0.103,Line-C,server.example,\n"
                                 "02 00 00 00 00 99,192.168.0.104,Ghost,,\n" % tuple(m.replace(" ", ":") for m in macs))
        rc, doc, err = cli_json("provision", sheet, "--verify-timeout", "8")
        check(rc == 1, "a sheet row without a module gives exit 1: %d %s" % (rc, err))
        rows = {m["mac"]: m for m in doc["modules"]}
        check(rows["02 00 00 00 00 99"]["outcome"] == "not-found", "missing row %r" % rows["02 00 00 00 00 99"])
        st = sim.state()
        for i, (mac, ip, name) in enumerate(zip(macs, ("192.168.0.101", "192.168.0.102", "192.168.0.103"),
                                                 ("Line-A", "Line, B", "Line-C"))):
            check(rows[mac]["outcome"] == "verified", "row %s: %r" % (mac, rows[mac]))
            check(rows[mac]["verify"]["ip"] == ip, "verified at %r" % rows[mac]["verify"])
            check(st[mac]["ip"] == ip and st[mac]["name"] == name, "module %s: %r" % (mac, st[mac]))
            check(base_ip(st[mac]["base"]) == ip, "base block IP")
        port_a = bytes.fromhex(st[macs[0]]["port"])
        check(port_a[51] == 1, "row 1 work mode")
        check(bytes.fromhex(st[macs[2]]["port"])[16:30].rstrip(b"\0") == b"server.example", "row 3 remote host")
        check(bytes.fromhex(st[macs[1]]["port"])[51] == 3, "empty cell left the work mode alone")
        # A bad cell refuses the whole sheet before anything is written.
        n = len(sim.writes_seen())
        bad = write_sheet(sim, "MAC,StaticIP,LocalPort\n%s,192.168.0.120,\n%s,,0\n" % (macs[0], macs[1]), "bad.csv")
        rc, _, err = cli("provision", bad)
        check(rc == 2 and "line 3" in err and "LocalPort" in err, "bad sheet: %d %s" % (rc, err))
        check(len(sim.writes_seen()) == n, "bad sheet wrote")
    finally:
        sim.stop()


def case_restart_reset():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Z3-1")])
    try:
        rc, doc, _ = cli_json("restart", MAC_B)
        check(rc == 0 and doc["acks"] == [{"code": 2, "result": "K"}], "restart %d %r" % (rc, doc))
        check(sim.wait_state(MAC_B, lambda st: st["restarts"] == 1)["restarts"] == 1, "Z3 restarted")
        rc, _, err = cli("reset", MAC_A)
        check(rc == 2 and "--yes" in err, "reset without a terminal: %d %s" % (rc, err))
        check(sim.state()[MAC_A]["resets"] == 0, "reset happened without --yes")
        rc, _, err = cli("set", MAC_A, "ModName=Changed", "--no-verify")
        check(rc == 0, "set %d %s" % (rc, err))
        # The module restarts after the save; the reset is sent once it answers again.
        check(sim.wait_state(MAC_A, lambda st: st["name"] == "Changed")["name"] == "Changed", "set applied")
        rc, _, err = cli("reset", MAC_A, "--yes")
        check(rc == 0, "reset --yes: %d %s" % (rc, err))
        st = sim.wait_state(MAC_A, lambda st: st["resets"] == 1 and st["name"] == "Line-1")
        check(st["resets"] == 1 and st["name"] == "Line-1", "factory settings back: %r" % st)
        journal = [j for j in sim.handled() if j.get("code") == 0x0B]
        check(journal and journal[0]["port"] == 1500, "Z2 reset to port 1500")
        rc, _, _ = cli("reset", MAC_B, "--yes")
        check(rc == 0 and [j["port"] for j in sim.handled() if j.get("code") == 0x0B][-1] == 1901, "Z3 reset to 1901")
    finally:
        sim.stop()


def case_z3_set():
    sim = Sim([z3(MAC_B, "192.168.0.51", "Z3-1")])
    try:
        before = sim.state()[MAC_B]
        rc, doc, err = cli_json("set", MAC_B, "UARTLength=512", "TCPStyle=3", "TCPSvrCount=8", "--verify-timeout", "5")
        check(rc == 0 and doc["modules"][0]["outcome"] == "verified", "Z3 set %d %s %r" % (rc, err, doc))
        st = sim.state()[MAC_B]
        check(st["writes"] == [0x05, 0x06], "Z3 writes %r" % st["writes"])
        port = bytes.fromhex(st["port"])
        check(int.from_bytes(port[52:56], "little") == 512 and port[58] == 0x83, "Z3 port bytes %r" % port.hex())
        changed = diff_bytes(before["port"], st["port"])
        check(set(changed) <= {52, 53, 54, 55, 58}, "other port bytes changed: %r" % changed)
        check([j["port"] for j in sim.handled() if j.get("code") in (0x05, 0x06, 0x04)] == [1901] * 3, "Z3 save ports")
        rc, _, err = cli("set", MAC_B, "Dns=192.168.0.9")
        check(rc == 2 and "Z3 save does not write" in err, "Dns on Z3: %d %s" % (rc, err))
        rc, _, err = cli("set", MAC_B, "TCPSvrCount=12")
        check(rc == 2 and "1..8" in err, "Z3 count range: %d %s" % (rc, err))
    finally:
        sim.stop()


def case_hostile_input():
    # A name that would clear the screen, forge a row and, with chained QString::arg, show the
    # MAC in place of "%3": every output line about the module is one line, characters escaped.
    name = "\x1b[2J\rX\nY%3"
    sim = Sim([z2(MAC_A, "10.77.0.50", name)])
    try:
        rc, out, err = cli("search")
        check(rc == 0, "search: %d %s" % (rc, err))
        rows = [line for line in out.splitlines() if MAC_A in line]
        check(len(rows) == 1 and "\\x1B[2J\\x0DX\\x0AY%3" in rows[0], "search rows %r" % rows)
        check(not any(c in out for c in "\x1b\r"), "raw control characters in %r" % out)
        rc, out, err = cli("read", MAC_A)
        check(rc == 0, "read: %d %s" % (rc, err))
        titles = [line for line in out.splitlines() if line.startswith(MAC_A)]
        check(len(titles) == 1 and "\\x1B[2J\\x0DX\\x0AY%3  10.77.0.50  Z2 firmware 4017" in titles[0],
              "title %r" % titles)
        check(any(line.split() == ["ModName", "\\x1B[2J\\x0DX\\x0AY%3"] for line in out.splitlines()),
              "ModName line in %r" % out)
        check(not any(c in out for c in "\x1b\r"), "raw control characters in %r" % out)
        # JSON carries the name as it is (JSON escapes it by itself).
        rc, doc, _ = cli_json("search")
        check([m["name"] for m in doc["modules"]] == [name], "JSON names %r" % doc["modules"])
    finally:
        sim.stop()
    # Input files that are not regular files, options that are not numbers, foreign addresses:
    # each refused at once with the reason, before anything is sent.
    for args, said in ((["provision", "/dev/zero"], "cannot read /dev/zero: not a regular file"),
                       (["profile", "apply", "/dev/zero", MAC_A], "cannot read /dev/zero: not a regular file"),
                       (["search", "--timeout", "nan"], "--timeout: 'nan' is not a number of seconds"),
                       (["search", "--verify-timeout", "inf"], "--verify-timeout: 'inf' is not a number")):
        t0 = time.monotonic()
        rc, _, err = cli(*args, timeout=20)
        check(rc == 2 and said in err and time.monotonic() - t0 < 5, "%s: %d %r" % (args, rc, err))
    p = subprocess.run([CLI, "--interface", "10.99.0.1", "search"], capture_output=True, text=True, timeout=20)
    check(p.returncode == 2 and "10.99.0.1 is not an address of this machine" in p.stderr,
          "foreign --interface: %d %r" % (p.returncode, p.stderr))


def case_provision_into_pc_subnet():
    # A module with a factory address is given one in the PC's subnet; it is verified there.
    mac = "02 00 00 00 00 21"
    new_ip = PC.rsplit(".", 1)[0] + ".21"
    sim = Sim([z2(mac, "192.168.0.21", "Factory")])
    try:
        sheet = write_sheet(sim, "MAC,StaticIP,GatewayIP,ModName\n%s,%s,%s,Moved\n" % (mac, new_ip, PC))
        rc, doc, err = cli_json("provision", sheet, "--verify-timeout", "8")
        row = doc["modules"][0]
        check(rc == 0 and row["outcome"] == "verified", "provision %d %s %r" % (rc, err, row))
        check(row["verify"]["ip"] == new_ip, "verified at %r" % row["verify"])
        check(sim.state()[mac]["ip"] == new_ip, "module state %r" % sim.state()[mac])
        rc, doc, _ = cli_json("search", "--timeout", "1")
        check(rc == 0 and [m["ip"] for m in doc["modules"]] == [new_ip], "search after the move %r" % doc)
    finally:
        sim.stop()


class Spoofer(threading.Thread):
    """Another host on the PC's side: hears the cli's read command (a broadcast to port 1500 is
    looped back to this host's own sockets) and answers it with made-up 50/85/302-byte blocks
    from its own address, racing the module's genuine replies."""

    def __init__(self):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("0.0.0.0", 1500))
        self.sock.settimeout(0.2)
        self.stop = False
        self.sent = 0

    def run(self):
        while not self.stop:
            try:
                data, (addr, port) = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            if len(data) >= 22 and data[0] == 0xFF and data[2] == 0x03:
                # Before, among and after the module's replies (the read waits for a quiet spell).
                for delay in (0, 0.05, 0.15):
                    time.sleep(delay)
                    for n in (50, 85, 302):
                        self.sock.sendto(b"\x5a" * n, (PC, port))
                        self.sent += 1


def case_spoofed_blocks_during_read():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1")])
    spoofer = Spoofer()
    spoofer.start()
    try:
        rc, doc, err = cli_json("read", MAC_A)
        check(rc == 0, "read %d %s" % (rc, err))
        f = doc["fields"]
        check(f["HeartbeatData"] == "heart" and f["HttpdURL"] == "/data" and f["DeviceNo"] == "001A2B3C4D5E",
              "spoofed blocks were taken: %r" % f)
        # What a save would write carries the module's bytes only.
        rc, doc, err = cli_json("set", MAC_A, "HeartbeatInterval=31", "--dry-run")
        check(rc == 0, "dry run %d %s" % (rc, err))
        for d in doc["modules"][0]["datagrams"]:
            check("5A 5A 5A 5A" not in d["hex"].upper(), "injected bytes planned: %r" % d)
        check(spoofer.sent >= 18, "the spoofer heard %d read commands" % (spoofer.sent // 9))
    finally:
        spoofer.stop = True
        spoofer.join()
        sim.stop()


def case_fields():
    rc, doc, _ = cli_json("fields")
    names = {f["name"]: f for f in doc["fields"]}
    check(rc == 0 and {"StaticIP", "BaudRate", "WorkMode", "DeviceNo", "HeartbeatInterval", "HttpdURL",
                       "ModbusPollTimeout"} <= set(names), "fields %r" % list(names))
    check(names["LocalPort"]["min"] == 1 and names["LocalPort"]["max"] == 65535, "LocalPort range")
    check(["TCP Server"] == names["WorkMode"]["items"][3]["names"], "WorkMode items %r" % names["WorkMode"]["items"])


CASES = {name[5:]: fn for name, fn in sorted(globals().items()) if name.startswith("case_")}


def run_cases(cases):
    """Runs the case named on the command line (or "all") and exits with its status."""
    wanted = sys.argv[3]
    names = list(cases) if wanted == "all" else [wanted]
    failed = 0
    for name in names:
        t0 = time.monotonic()
        try:
            cases[name]()
            print("ok   %s (%.1f s)" % (name, time.monotonic() - t0))
        except Fail as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    run_cases(CASES)
