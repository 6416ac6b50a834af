#!/usr/bin/env python3
"""End-to-end rollouts: varnix-cli rollout against many modules of varnix-sim on a real segment.

Runs inside tests/netns-run --segments 1: the modules live in their own namespace behind m0 and
answer the LAN commands by broadcast; each one's upgrade side takes the address its boot reply
gives it (added to m0). A factory reset restores the factory values (192.168.0.7, VOR-Z2,
vesta/vesta, 115200 8N1), so a module whose configuration was not written back would show it.

Every module starts at firmware 4017 with a log-in and settings of its own (set through
`varnix-cli provision`); the upgraded firmware answers as 4018.

    e2e_rollout.py CLI SIM CASE     (CASE: fields, canary, kill, pool, same_address)
"""
import json
import sqlite3
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

CLI, SIM, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
PC = os.environ["VARNIX_NS_PC_IPS"].split(",")[0]
IFACE = os.environ["VARNIX_NS_SIM_IFACES"].split(",")[0]
IN_MODULES = os.environ["VARNIX_NS_IN_MODULES"]
SIGNATURE = bytes([0x5A, 0x32, 0x10, 0x07])
ENV = dict(os.environ, VARNIX_USER="tech", VARNIX_PASSWORD="s3cret")


def check(cond, message):
    if not cond:
        raise SystemExit("FAIL: " + message)


def mac_of(i):
    return "02:00:00:00:02:%02X" % i


def key(mac):
    return mac.replace(":", "").replace(" ", "").upper()


class Fleet:
    """varnix-sim with `count` modules; `extra` changes a module's JSON (by index)."""

    def __init__(self, tmp, count, extra=None):
        self.tmp = tmp
        self.out = os.path.join(tmp, "images")
        self.state_path = os.path.join(tmp, "state.json")
        os.makedirs(self.out, exist_ok=True)
        mods = []
        for i in range(count):
            m = {"family": "z3" if i == 1 else "z2", "mac": mac_of(i), "ip": "%s.%d" % (PC.rsplit(".", 1)[0], 50 + i),
                 "name": "Line-%d" % i, "firmware": 4017, "user": "tech", "password": "s3cret"}
            m.update((extra or {}).get(i, {}))
            mods.append(m)
        self.macs = [m["mac"] for m in mods]
        cfg = os.path.join(tmp, "sim.json")
        with open(cfg, "w") as f:
            json.dump({"modules": mods}, f)
        self.proc = subprocess.Popen(
            [IN_MODULES, SIM, "--bind", "0.0.0.0", "--iface", IFACE, "--config", cfg, "--upgrade-fleet",
             "--upgrade-iface", IFACE, "--upgrade-out-dir", self.out, "--upgrade-firmware", "4018",
             "--reset-to", "factory", "--state", self.state_path, "--duration", "300"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "varnix-sim: ready":
            self.proc.kill()
            check(False, "simulator did not start: %r %s" % (line, self.proc.stderr.read()))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)

    def state(self):
        with open(self.state_path) as f:
            return {key(m["mac"]): m for m in json.load(f)["modules"]}

    def image(self, mac):
        path = os.path.join(self.out, key(mac) + ".bin")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


def cli(home, *args, timeout=180):
    p = subprocess.run([CLI, *args, "--home", home], capture_output=True, text=True, timeout=timeout, env=ENV)
    return p.returncode, p.stdout, p.stderr


def rollout(home, image, *args):
    rc, out, err = cli(home, "rollout", image, *args, "--local", PC, "--json")
    try:
        doc = json.loads(out)
    except ValueError:
        check(False, "rollout printed no JSON (rc %d): %s %s" % (rc, out, err))
    return rc, {key(m["mac"]): m for m in doc["modules"]}, err


def configure(home, macs):
    """Gives every module settings of its own, the way a plant has them."""
    rows = ["MAC,BaudRate,Parity,ModName,RemotePort,RemoteIP,HeartbeatInterval"]
    for i, mac in enumerate(macs):
        heart = "" if i == 1 else str(40 + i)  # the Z3 module has no heartbeat block
        rows.append("%s,%d,%s,Press %d,%d,10.9.0.%d,%s" % (mac, [9600, 19200, 38400, 57600][i % 4],
                                                        ["EVEN", "ODD"][i % 2], i, 9000 + i, 200 + i, heart))
    sheet = os.path.join(home, "plant.csv")
    with open(sheet, "w") as f:
        f.write("\n".join(rows) + "\n")
    rc, out, err = cli(home, "provision", sheet, "--parallel", "20")
    check(rc == 0, "provisioning the plant failed: %s %s" % (out, err))


def fields(home, mac):
    rc, out, err = cli(home, "read", mac, "--json")
    check(rc == 0, "read %s: %s" % (mac, err))
    return json.loads(out)["fields"]


def firmware_file(tmp, size=256 * 1024):
    path = os.path.join(tmp, "fw.bin")
    with open(path, "wb") as f:
        f.write(SIGNATURE + os.urandom(size))
    with open(path, "rb") as f:
        return path, f.read()


def journal_lines(home):
    """The journal's entries as the lines they are stored as in the program directory's varnix.db."""
    path = os.path.join(home, "varnix.db")
    if not os.path.exists(path):
        return []
    with sqlite3.connect(path, timeout=10) as c:
        try:
            return [line for (line,) in c.execute("SELECT line FROM journal ORDER BY id")]
        except sqlite3.OperationalError:  # no table yet
            return []


def unrestored(home, mac):
    """The fields the journal's last done entry of the module says were not written back."""
    entries = [json.loads(line) for line in journal_lines(home)]
    done = [e for e in entries if e.get("link") == "rollout" and e["outcome"] == "done" and key(e["mac"]) == key(mac)]
    return {c["field"] for c in done[-1]["changes"] if c["field"][0].isupper()} if done else set()


def check_done(fleet, home, macs, before, data):
    """Each module runs the new firmware from the image sent, and every field reads back as before,
    but for the ones the rollout reported: a Z3 save does not write the DNS server (it keeps the
    module's own), so the Z3 module's factory DNS stays, and is reported."""
    st = fleet.state()
    for mac in macs:
        check(fleet.image(mac) == data[4:], "%s wrote a different image" % mac)
        check(st[key(mac)]["firmware"] == 4018, "%s runs firmware %s" % (mac, st[key(mac)]["firmware"]))
        after = fields(home, mac)
        lost = {k: (v, after.get(k)) for k, v in before[mac].items() if after.get(k) != v}
        reported = unrestored(home, mac)
        expected = {"Dns"} if st[key(mac)]["family"] == "z3" else set()
        check(set(lost) == reported == expected, "%s lost %s, reported %s" % (mac, lost, reported))


def case_fields(tmp, home):
    fleet = Fleet(tmp, 4)
    try:
        configure(home, fleet.macs)
        before = {m: fields(home, m) for m in fleet.macs}
        path, data = firmware_file(tmp)
        rc, rows, err = rollout(home, path, *fleet.macs)
        check(rc == 0, "rollout: %d %s %s" % (rc, rows, err))
        for mac in fleet.macs:
            r = rows[key(mac)]
            check(r["outcome"] == "done" and r["firmwareBefore"] == 4017 and r["firmwareAfter"] == 4018
                  and [u["field"] for u in r["unrestored"]] == (["Dns"] if mac == fleet.macs[1] else []), "row %s" % r)
        st = fleet.state()
        check(all(st[key(m)]["resets"] == 1 and st[key(m)]["upgrades"] == 1 for m in fleet.macs), "state %s" % st)
        check_done(fleet, home, fleet.macs, before, data)
        # The same command again: every module is skipped, nothing is sent to them.
        rc, rows, _ = rollout(home, path, *fleet.macs)
        check(rc == 0 and all(r["outcome"] == "skipped" for r in rows.values()), "second run %s" % rows)
        check(fleet.state()[key(fleet.macs[0])]["upgrades"] == 1, "a finished module was upgraded again")
    finally:
        fleet.stop()


def case_canary(tmp, home):
    # The first module's hardware wants another image: it says so (byte 26) when it sees this one.
    fleet = Fleet(tmp, 4, {0: {"upgrade": {"signature": "01020304", "byte26": 1}}})
    try:
        configure(home, fleet.macs)
        writes = {k: m["writes"] for k, m in fleet.state().items()}
        path, _ = firmware_file(tmp)
        rc, rows, err = rollout(home, path, *fleet.macs, "--canary", "1", "--parallel", "4")
        check(rc == 4, "a mismatching canary must fail the run with 4: %d %s" % (rc, err))
        canary = rows[key(fleet.macs[0])]
        check(canary["canary"] and canary["outcome"] == "failed" and canary["stage"] == "upgrade", "canary %s" % canary)
        st = fleet.state()
        for mac in fleet.macs[1:]:
            r = rows[key(mac)]
            check(r["outcome"] == "not-started" and "canary" in r["detail"], "not stopped: %s" % r)
            m = st[key(mac)]
            check(m["upgrades"] == 0 and m["resets"] == 0 and m["writes"] == writes[key(mac)],
                  "%s was touched: %s" % (mac, m))
            check(fleet.image(mac) is None, "%s received an image" % mac)
    finally:
        fleet.stop()


def journal_events(home):
    events = []
    for line in journal_lines(home):
        try:
            e = json.loads(line)
        except ValueError:
            continue
        if e.get("link") == "rollout":
            events.append((key(e["mac"]), e["outcome"]))
    return events


def start_rollout(home, path, macs):
    return subprocess.Popen([CLI, "rollout", path, *macs, "--local", PC, "--parallel", "3", "--home", home, "--json"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=ENV)


def kill_when(p, cond, what):
    deadline = time.monotonic() + 60
    while not cond() and time.monotonic() < deadline:
        time.sleep(0.01)
    check(cond(), "never came: " + what)
    p.send_signal(signal.SIGKILL)
    p.wait()


def case_kill(tmp, home):
    fleet = Fleet(tmp, 6)
    try:
        configure(home, fleet.macs)
        before = {m: fields(home, m) for m in fleet.macs}
        # 4 MiB: a transfer takes long enough to be cut in the middle.
        path, data = firmware_file(tmp, 4 << 20)
        # First killed while modules read their image: they stay in their loaders, silent.
        p = start_rollout(home, path, fleet.macs)
        kill_when(p, lambda: any(m["loader"] for m in fleet.state().values()), "a module in its loader")
        stuck = {k for k, m in fleet.state().items() if m["loader"]}
        # Then, on the rerun, killed once a module's factory settings are back.
        resets = sum(1 for _, e in journal_events(home) if e == "reset")
        p = start_rollout(home, path, fleet.macs)
        kill_when(p, lambda: sum(1 for _, e in journal_events(home) if e == "reset") > resets, "a reset")
        events = journal_events(home)
        kept = {m for m, e in events if e == "kept"}
        done = {m for m, e in events if e == "done"}
        check(kept - done and len(kept) < len(fleet.macs), "not killed half-way: %s" % events)
        rc, rows, err = rollout(home, path, *fleet.macs, "--parallel", "3")
        check(rc == 0, "the last run did not end every module done: %d %s %s" % (rc, rows, err))
        check(all(r["outcome"] in ("done", "skipped") for r in rows.values()), "rows %s" % rows)
        check(any(r["resumed"] for r in rows.values()), "no module resumed from its kept configuration")
        check(stuck and all(rows[k]["outcome"] in ("done", "skipped") for k in stuck), "stuck in a loader: %s" % stuck)
        check_done(fleet, home, fleet.macs, before, data)
    finally:
        fleet.stop()


def case_pool(tmp, home):
    # Module 0 answers at an address outside the PC's /24 (10.9.0.1/24).
    fleet = Fleet(tmp, 2, {0: {"ip": "192.168.5.9"}})
    try:
        configure(home, fleet.macs)
        outside = fleet.macs[0]
        before = fields(home, outside)
        path, data = firmware_file(tmp)
        rc, rows, _ = rollout(home, path, outside)
        r = rows[key(outside)]
        check(rc == 2 and r["outcome"] == "failed" and "--pool" in r["detail"], "without a pool: %d %s" % (rc, r))
        check(fleet.state()[key(outside)]["upgrades"] == 0 and fleet.state()[key(outside)]["resets"] == 0,
              "the refused module was touched")
        rc, rows, err = rollout(home, path, outside, "--pool", "10.9.0.200-10.9.0.201")
        r = rows[key(outside)]
        check(rc == 0 and r["outcome"] == "done" and r["transferAddress"] == "10.9.0.200", "with a pool: %s %s" % (r, err))
        check_done(fleet, home, [outside], {outside: before}, data)
        check(fields(home, outside)["StaticIP"] == "192.168.5.9", "its own address is not back")
    finally:
        fleet.stop()


def case_same_address(tmp, home):
    # Modules 1 and 2 answer at one address, as modules fresh from the box do: their transfers
    # cannot share it, so one waits for the other. Module 0 never gets its acknowledgement of the
    # last block through: its run times out after the image went out whole, and the module,
    # which took it, answers with the new firmware.
    fleet = Fleet(tmp, 3, {0: {"upgrade": {"dropLastAcks": 20}}, 1: {"ip": "10.9.0.60"}, 2: {"ip": "10.9.0.60"}})
    try:
        before = {m: fields(home, m) for m in fleet.macs}
        path, data = firmware_file(tmp)
        rc, rows, err = rollout(home, path, *fleet.macs)
        check(rc == 0 and all(r["outcome"] == "done" for r in rows.values()), "rollout: %d %s %s" % (rc, rows, err))
        check(rows[key(fleet.macs[1])]["transferAddress"] == rows[key(fleet.macs[2])]["transferAddress"] == "10.9.0.60",
              "rows %s" % rows)
        check_done(fleet, home, fleet.macs, before, data)
        entries = [json.loads(line) for line in journal_lines(home)]
        upgraded = [e for e in entries if e["outcome"] == "upgraded" and key(e["mac"]) == key(fleet.macs[0])]
        check(upgraded and any(c["field"] == "reason" for c in upgraded[-1]["changes"]), "lost last ack not journalled")
    finally:
        fleet.stop()


def main():
    tmp = tempfile.mkdtemp(prefix="vx-rollout-e2e-")
    home = os.path.join(tmp, "home")
    os.mkdir(home)
    try:
        {"fields": case_fields, "canary": case_canary, "kill": case_kill, "pool": case_pool,
         "same_address": case_same_address}[CASE](tmp, home)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("ok", CASE)


main()
