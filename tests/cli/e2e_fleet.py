#!/usr/bin/env python3
"""End-to-end checks of the fleet commands of varnix-cli (search --check, journal, undo, audit,
a killed provision) against varnix-sim on the real segment of tests/netns-run --segments 1 (the
modules in their own namespace, answering by broadcast).

    e2e_fleet.py CLI SIM CASE      (CASE "all" runs every case)
"""
import json
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_cli as base  # noqa: E402  (reads CLI and SIM from sys.argv)
from e2e_cli import BLOCKS, MAC_A, MAC_B, MAC_C, Fail, Sim, check, cli, cli_json, write_sheet, z2, z3  # noqa: E402


# The PC's subnet (/24): modules given addresses there are "in the subnet" whatever the topology.
NET = base.PC.rsplit(".", 1)[0]


def ip(host):
    return "%s.%d" % (NET, host)


def fresh_home():
    """A new program directory; the path of its database, which holds the journal."""
    base.HOME = tempfile.mkdtemp(prefix="vx-fleet-home-")
    return os.path.join(base.HOME, "varnix.db")


def journal_count(db):
    if not os.path.exists(db):
        return 0
    with sqlite3.connect(db, timeout=10) as c:
        try:
            return c.execute("SELECT count(*) FROM journal").fetchone()[0]
        except sqlite3.OperationalError:  # not created yet
            return 0


def kinds(doc):
    return sorted((c["kind"], tuple(c["macs"])) for c in doc["checks"])


# --- cases ---

def case_checks_fire_and_stay_silent():
    fleet = [z2(MAC_A, ip(50), "Pump"), z2(MAC_B, ip(50), "Valve"),        # one IP twice
             z3(MAC_C, ip(60), "Pump"),                                           # a name twice
             z2("00 1A 2B 3C 4D 61", "192.168.0.7", "Far"),                             # another subnet
             z2("00 1A 2B 3C 4D 62", ip(70), "Old", firmware=2001)]               # incompatible
    sim = Sim(fleet)
    try:
        rc, doc, err = cli_json("search", "--check", "--timeout", "1")
        check(rc == 0 and len(doc["modules"]) == 5, "search %d %r %s" % (rc, doc.get("modules"), err))
        found = [m["mac"] for m in doc["modules"]]
        want = sorted([("duplicate-ip", tuple(m for m in found if m in (MAC_A, MAC_B))),
                       ("duplicate-name", tuple(m for m in found if m in (MAC_A, MAC_C))),
                       ("outside-subnet", ("00 1A 2B 3C 4D 61",)),
                       ("incompatible-firmware", ("00 1A 2B 3C 4D 62",))])
        check(kinds(doc) == want, "checks %r" % doc["checks"])
        far = [c for c in doc["checks"] if c["kind"] == "outside-subnet"][0]
        check("cannot carry data" in far["text"] and base.PC + "/255.255.255.0" in far["text"], far["text"])
        rc, out, _ = cli("search", "--check", "--timeout", "1")
        check(out.count("check ") == 4, "text output %r" % out)
    finally:
        sim.stop()
    sim = Sim([z2(MAC_A, ip(50), "Pump"), z3(MAC_B, ip(51), "Valve"), z2(MAC_C, ip(52), "")])
    try:
        rc, doc, _ = cli_json("search", "--check", "--timeout", "1")
        check(rc == 0 and len(doc["modules"]) == 3 and doc["checks"] == [], "clean fleet %r" % doc)
    finally:
        sim.stop()


def case_empty_search_names_adapters():
    rc, doc, err = cli_json("search", "--timeout", "0.5")
    check(rc == 1 and doc["modules"] == [], "empty search %d" % rc)
    check(doc["noAnswer"]["tried"] == [ip(1)], "tried %r" % doc["noAnswer"])
    check("searched from %s to 255.255.255.255 port 1500" % base.PC in err, err)
    check("firewall-cmd --add-source-port=1500/udp" in err and "ufw allow proto udp" in err, err)
    check("another adapter" in err, err)


def case_journal_and_undo():
    journal = fresh_home()
    sim = Sim([z2(MAC_A, ip(50), "Line-1")])
    try:
        before = sim.state()[MAC_A]
        rc, doc, err = cli_json("set", MAC_A, "ModName=Press-7", "BaudRate=9600", "WorkMode=TCP Client",
                                "RemoteIP=" + ip(9), "--verify-timeout", "5")
        check(rc == 0, "set %d %s" % (rc, err))
        changed = sim.state()[MAC_A]
        check(changed["base"] != before["base"] and changed["port"] != before["port"], "set changed nothing")
        rc, doc, err = cli_json("journal", MAC_A.replace(" ", ":"))
        check(rc == 0 and len(doc["entries"]) == 1 and doc["warnings"] == [], "journal %r %s" % (doc, err))
        e = doc["entries"][0]
        check(e["mac"] == MAC_A and e["link"] == "lan" and e["family"] == "Z2" and e["outcome"] == "acknowledged", e)
        fields = {c["field"]: (c["old"], c["new"]) for c in e["changes"]}
        check(fields["ModName"] == ("Line-1", "Press-7") and fields["BaudRate"][1] == 9600, fields)
        check(e["acks"][:2] == ["0x05 K", "0x06 K"], e["acks"])
        rc, doc, err = cli_json("undo", str(e["entry"]), "--verify-timeout", "5")
        check(rc == 0 and doc["modules"][0]["outcome"] == "verified", "undo %d %s" % (rc, err))
        after = sim.state()[MAC_A]
        for block in BLOCKS:  # every byte back, the ones the encoders only carry included
            check(after[block] == before[block], "%s block not restored" % block)
        rc, doc, _ = cli_json("journal")
        check(len(doc["entries"]) == 2 and doc["entries"][1]["changes"][0]["new"] is not None, "undo journalled")
        rc, _, err = cli("undo", "7")
        check(rc == 2 and "no entry 7" in err, "missing entry %d %s" % (rc, err))
        # A window entry records whole blocks, old -> new bytes; undoing it brings the base block back.
        rc, _, err = cli("set", MAC_A, "ModName=Press-8", "--verify-timeout", "5")
        check(rc == 0, "set %d %s" % (rc, err))
        spaced = lambda h: " ".join("%02X" % b for b in bytes.fromhex(h.replace(" ", "")))
        entry = {"time": "2026-12-09T06:00:00.000Z", "mac": MAC_A, "ip": ip(50), "name": "Press-8", "family": "Z2",
                 "link": "lan", "outcome": "sent", "acks": [],
                 "changes": [{"field": "block 0x05", "old": spaced(before["base"]),
                              "new": spaced(sim.state()[MAC_A]["base"])}]}
        with sqlite3.connect(journal, timeout=10) as c:
            c.execute("INSERT INTO journal (time, mac, line) VALUES (?, ?, ?)",
                      (entry["time"], entry["mac"], json.dumps(entry)))
        rc, doc, err = cli_json("undo", "4", "--verify-timeout", "5")
        check(rc == 0 and doc["modules"][0]["outcome"] == "verified", "window undo %d %s" % (rc, err))
        check(sim.state()[MAC_A]["base"] == before["base"], "window entry: base block not restored")
    finally:
        sim.stop()


def case_audit_finds_deviation():
    macs = [MAC_A, MAC_B, MAC_C]
    sim = Sim([z2(m, ip(50 + i), "M%d" % i) for i, m in enumerate(macs)])
    try:
        rc, _, err = cli("set", MAC_C, "BaudRate=9600", "--verify-timeout", "5")
        check(rc == 0, "set %d %s" % (rc, err))
        profile = os.path.join(sim.dir, "golden.json")
        rc, _, err = cli("profile", "save", MAC_A, profile)
        check(rc == 0, "profile save %s" % err)
        for args in (macs, ["--all"]):
            rc, doc, err = cli_json("audit", profile, *args)
            check(rc == 1 and doc["differing"] == 1, "audit %s: %d %r %s" % (args, rc, doc, err))
            rows = {m["mac"]: m for m in doc["modules"]}
            check(rows[MAC_A]["outcome"] == "matches" and rows[MAC_B]["outcome"] == "matches", rows)
            # Names and addresses differ on every module; identity fields are not compared.
            check([d["field"] for d in rows[MAC_C]["differences"]] == ["BaudRate"], rows[MAC_C])
            check(rows[MAC_C]["differences"][0]["module"] == 9600, rows[MAC_C])
        rc, doc, _ = cli_json("audit", profile, MAC_A, MAC_B)
        check(rc == 0 and doc["differing"] == 0, "clean audit %d" % rc)
    finally:
        sim.stop()


def case_killed_provision_reruns():
    journal = fresh_home()
    macs = ["02 00 00 00 01 %02d" % i for i in range(6)]
    sim = Sim([z2(m, ip(20 + i), "Fresh") for i, m in enumerate(macs)])
    try:
        rows = "".join("%s,%s,Unit-%d,9600\n" % (m, ip(120 + i), i) for i, m in enumerate(macs))
        sheet = write_sheet(sim, "MAC,StaticIP,ModName,BaudRate\n" + rows)
        p = subprocess.Popen([base.CLI, "--interface", base.PC, "--home", base.HOME, "provision", sheet,
                              "--parallel", "2", "--verify-timeout", "8"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        # Kill it once a save has been journalled while other modules are still unwritten.
        while time.monotonic() < deadline and p.poll() is None:
            written = len([m for m in sim.state().values() if m["writes"]])
            if journal_count(journal) > 0 and written < len(macs):
                break
            time.sleep(0.02)
        check(p.poll() is None, "provision ended before it could be killed")
        p.send_signal(signal.SIGKILL)
        p.wait()
        rc, doc, err = cli_json("journal")
        check(rc == 0 and doc["entries"], "journal after kill %d %r %s" % (rc, doc, err))
        for e in doc["entries"]:
            check(e["mac"] in macs and e["changes"] and e["outcome"] == "acknowledged", "entry %r" % e)
        rc, doc, err = cli_json("provision", sheet, "--verify-timeout", "8")
        check(rc == 0, "rerun %d %s" % (rc, err))
        st = sim.state()
        for i, m in enumerate(macs):
            check(st[m]["ip"] == ip(120 + i) and st[m]["name"] == "Unit-%d" % i, "module %r" % st[m])
        rc, doc, _ = cli_json("journal")
        check(rc == 0 and doc["warnings"] == [] or all("cut short" in w for w in doc["warnings"]), doc["warnings"])
    finally:
        sim.stop()


CASES = {name[5:]: fn for name, fn in sorted(globals().items()) if name.startswith("case_")}


if __name__ == "__main__":
    base.run_cases(CASES)
