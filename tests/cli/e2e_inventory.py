#!/usr/bin/env python3
"""End-to-end checks of the fleet inventory (varnix.db) with varnix-cli against varnix-sim.

Runs inside tests/netns-run --segments 1, like e2e_cli.py (whose helpers it uses): a module is
replaced by another and the new one reads back with every field of the old one but the MAC; a
module is put back to an earlier date; 20 `set` processes write the journal at once; processes
killed at random moments leave a consistent database; a corrupt database is reported, the module
work goes on and the file stays byte for byte; journal.jsonl is imported exactly once.

    e2e_inventory.py CLI SIM CASE
"""
import hashlib
import json
import os
import random
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_cli as base  # noqa: E402  (reads CLI and SIM from sys.argv)
from e2e_cli import Fail, Sim, check, cli, cli_json, z2  # noqa: E402

OLD, NEW = "02 00 00 00 0A 01", "02 00 00 00 0A 02"
CHANGED = ["StaticIP=192.168.0.77", "ModName=Press-9", "BaudRate=38400", "RemotePort=7001", "LocalPort=7002",
           "HeartbeatInterval=45", "Parity=2", "RegisterType=3", "DeviceNo=PRESS9-0001"]


def fresh_home():
    base.HOME = tempfile.mkdtemp(prefix="vx-inv-home-")
    return os.path.join(base.HOME, "varnix.db")


def fields(mac):
    rc, doc, err = cli_json("read", mac)
    check(rc == 0, "read %s: %d %s" % (mac, rc, err))
    return doc["fields"]


def integrity(db):
    with sqlite3.connect(db, timeout=10) as c:
        return c.execute("PRAGMA integrity_check").fetchone()[0], c.execute("SELECT count(*) FROM journal").fetchone()[0]


def case_replace_module():
    db = fresh_home()
    sim = Sim([z2(OLD, "192.168.0.60", "Old-1")])
    try:
        rc, _, err = cli("set", OLD, *CHANGED, "--verify-timeout", "8")
        check(rc == 0, "set %d %s" % (rc, err))
        rc, doc, err = cli_json("backup", OLD)
        check(rc == 0 and len(doc["modules"]) == 1, "backup %d %r %s" % (rc, doc, err))
        old = fields(OLD)
    finally:
        sim.stop()
    # The old module is gone; a factory-fresh one takes its place.
    sim = Sim([z2(NEW, "192.168.0.61", "Fresh")])
    try:
        rc, doc, err = cli_json("restore", OLD, "--to", NEW, "--dry-run")
        check(rc == 0 and sim.state()[NEW]["writes"] == [], "dry run wrote: %d %s" % (rc, err))
        rc, doc, err = cli_json("restore", OLD, "--to", NEW, "--verify-timeout", "8")
        check(rc == 0 and doc["modules"][0]["outcome"] == "verified", "restore %d %r %s" % (rc, doc, err))
        new = fields(NEW)
        differ = sorted(k for k in set(old) | set(new) if old.get(k) != new.get(k))
        check(differ == ["UserMAC"], "fields differing after the replacement: %r %r %r" % (differ, doc["modules"][0].get("notes"), doc["modules"][0].get("changes")))
        check(new["UserMAC"] == NEW, "MAC %r" % new["UserMAC"])
        rc, doc, _ = cli_json("inventory")
        check({m["mac"] for m in doc["modules"]} == {OLD, NEW}, "inventory %r" % doc)
        rc, doc, _ = cli_json("journal", NEW.replace(" ", ":"))
        check(rc == 0 and len(doc["entries"]) == 1, "journal of the restore %r" % doc)
    finally:
        sim.stop()
    check(integrity(db)[0] == "ok", "integrity")


def case_restore_to_date():
    fresh_home()
    sim = Sim([z2(OLD, "192.168.0.60", "Line-1")])
    try:
        rc, doc, err = cli_json("backup", OLD)
        check(rc == 0, "backup %d %s" % (rc, err))
        first = fields(OLD)
        rc, doc, _ = cli_json("snapshots", OLD)
        check(rc == 0 and len(doc["snapshots"]) == 1, "snapshots %r" % doc)
        then = doc["snapshots"][0]["time"]
        time.sleep(0.05)
        rc, _, err = cli("set", OLD, "BaudRate=9600", "ModName=Changed", "--verify-timeout", "8")
        check(rc == 0, "set %d %s" % (rc, err))
        rc, doc, _ = cli_json("snapshots", OLD)
        check(len(doc["snapshots"]) == 2, "the verified read-back is a snapshot: %r" % doc)
        rc, doc, _ = cli_json("diff", OLD)
        changed = {c["field"]: c["new"] for c in doc["changes"]}
        check(changed == {"BaudRate": 9600, "ModName": "Changed"}, "diff %r" % doc)
        rc, doc, err = cli_json("restore", OLD, "--at", then, "--verify-timeout", "8")
        check(rc == 0 and doc["snapshot"]["time"] == then, "restore %d %r %s" % (rc, doc, err))
        check(fields(OLD) == first, "not back at %s" % then)
        rc, doc, err = cli_json("restore", OLD, "--at", "2001-01-01")
        check(rc == 2 and "no snapshot" in err, "restore before any snapshot %d %s" % (rc, err))
    finally:
        sim.stop()


def case_concurrent_sets():
    db = fresh_home()
    macs = ["02 00 00 00 0B %02X" % i for i in range(20)]
    sim = Sim([z2(m, "192.168.0.%d" % (100 + i), "Unit-%d" % i) for i, m in enumerate(macs)])
    try:
        procs = [subprocess.Popen([base.CLI, "--interface", base.PC, "--home", base.HOME, "set", m,
                                   "ModName=Set-%d" % i, "--verify-timeout", "10"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                 for i, m in enumerate(macs)]
        for p in procs:
            _, err = p.communicate(timeout=120)
            check(p.returncode == 0, "a set failed: %d %s" % (p.returncode, err))
        rc, doc, err = cli_json("journal")
        got = sorted((e["mac"], e["changes"][0]["new"]) for e in doc["entries"])
        check(got == sorted((m, "Set-%d" % i) for i, m in enumerate(macs)), "journal %r %s" % (got, err))
        check(sorted(e["entry"] for e in doc["entries"]) == list(range(1, 21)), "entry numbers")
        check(integrity(db) == ("ok", 20), "integrity %r" % (integrity(db),))
    finally:
        sim.stop()


def case_kill9_during_writes():
    db = fresh_home()
    macs = ["02 00 00 00 0C %02X" % i for i in range(6)]
    sim = Sim([z2(m, "192.168.0.%d" % (120 + i), "K-%d" % i) for i, m in enumerate(macs)])
    rng = random.Random(23)
    try:
        for rnd in range(12):
            procs = [subprocess.Popen([base.CLI, "--interface", base.PC, "--home", base.HOME, "set", m,
                                       "ModName=R%d-%d" % (rnd, i), "--verify-timeout", "5"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                     for i, m in enumerate(macs[:3])]
            procs.append(subprocess.Popen([base.CLI, "--interface", base.PC, "--home", base.HOME, "backup", "--all"],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(rng.uniform(0.05, 1.5))
            for p in procs:
                if p.poll() is None:
                    p.send_signal(signal.SIGKILL)
                p.wait()
            ok, _ = integrity(db)
            check(ok == "ok", "round %d: %s" % (rnd, ok))
        rc, doc, err = cli_json("inventory")
        check(rc == 0, "inventory after the kills %d %s" % (rc, err))
        rc, doc, err = cli_json("journal")
        check(rc == 0 and doc["warnings"] == [], "journal after the kills %d %r %s" % (rc, doc, err))
    finally:
        sim.stop()


def case_corrupt_db_left_alone():
    db = fresh_home()
    junk = bytes(random.Random(5).randrange(256) for _ in range(8192))
    with open(db, "wb") as f:
        f.write(junk)
    digest = hashlib.sha256(junk).hexdigest()
    sim = Sim([z2(OLD, "192.168.0.60", "Line-1")])
    try:
        rc, doc, err = cli_json("inventory")
        check(rc == 5 and "file is not a database" in err and "varnix.db" in err, "inventory %d %s" % (rc, err))
        rc, doc, err = cli_json("read", OLD)
        check(rc == 0 and err.count("file is not a database") == 1, "read without the inventory %d %s" % (rc, err))
        rc, _, err = cli("set", OLD, "ModName=Kept", "--verify-timeout", "8")
        check(rc == 0, "set without the inventory %d %s" % (rc, err))
        # The save is still journalled, in the file used before the database.
        rc, doc, _ = cli_json("journal")
        check(rc == 0 and [e["changes"][0]["new"] for e in doc["entries"]] == ["Kept"], "journal %r" % doc)
    finally:
        sim.stop()
    with open(db, "rb") as f:
        check(hashlib.sha256(f.read()).hexdigest() == digest, "the corrupt file was changed")
    for bad in ("dir", "link"):
        fresh_home()
        path = os.path.join(base.HOME, "varnix.db")
        os.mkdir(path) if bad == "dir" else os.symlink("/dev/null", path)
        rc, _, err = cli("inventory")
        check(rc == 5 and ("not a regular file" in err or "symbolic link" in err), "%s: %d %s" % (bad, rc, err))


def case_journal_import_exact():
    fresh_home()
    lines = [json.dumps({"time": "2026-11-0%dT10:00:00.000Z" % i, "mac": OLD, "ip": "192.168.0.60", "name": "L",
                         "family": "Z2", "link": "lan", "changes": [{"field": "BaudRate", "old": 9600, "new": 1200 * i}],
                         "acks": ["0x05 K"], "outcome": "verified"}, separators=(",", ":")) for i in range(1, 5)]
    # Line 3 is damaged, the last one cut short by a killed writer.
    text = "\n".join([lines[0], lines[1], "{oops", lines[2]]) + "\n" + lines[3][:30]
    path = os.path.join(base.HOME, "journal.jsonl")
    with open(path, "w") as f:
        f.write(text)
    rc, before, err = cli_json("journal")
    check(rc == 0 and "imported 3 entries" in err, "first open %d %s" % (rc, err))
    rc, again, _ = cli_json("journal")
    check(again["entries"] == before["entries"], "second read differs")
    with sqlite3.connect(os.path.join(base.HOME, "varnix.db")) as c:
        rows = c.execute("SELECT id, line FROM journal ORDER BY id").fetchall()
    check(rows == [(1, lines[0]), (2, lines[1]), (4, lines[2])], "rows %r" % rows)
    with open(path) as f:
        check(f.read() == text, "journal.jsonl was changed")
    check([(e["entry"], e["changes"][0]["new"]) for e in before["entries"]] == [(1, 1200), (2, 2400), (4, 3600)],
          "%r" % before)


CASES = {name[5:]: fn for name, fn in sorted(globals().items()) if name.startswith("case_")}

if __name__ == "__main__":
    wanted = sys.argv[3]
    try:
        for name, fn in CASES.items():
            if wanted in ("all", name):
                fn()
    except Fail as e:
        print("FAIL %s: %s" % (wanted, e))
        sys.exit(1)
    print("ok")
