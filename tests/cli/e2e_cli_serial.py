#!/usr/bin/env python3
"""End-to-end checks of `varnix-cli serial` against `varnix-sim --serial` on a pty.

No network is involved. Each case starts its own simulator; what a save wrote is read from the
simulator's --state file (stored blocks and every frame received, with its time).

    e2e_cli_serial.py CLI SIM CASE      (CASE "all" runs every case)
"""
import fcntl
import json
import sqlite3
import os
import signal
import subprocess
import sys
import tempfile

CLI, SIM = sys.argv[1], sys.argv[2]


class Fail(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Fail(message)


class Sim:
    def __init__(self, family, *extra):
        self.dir = tempfile.mkdtemp(prefix="vx-serial-e2e-")
        self.link = os.path.join(self.dir, "ttySIM")
        self.state_path = os.path.join(self.dir, "state.json")
        self.proc = subprocess.Popen([SIM, "--serial", family, "--link", self.link, "--state", self.state_path,
                                      "--duration", "60", *extra], stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        ready = self.proc.stdout.readline()
        if not first.startswith("varnix-sim: serial /dev/") or ready.strip() != "varnix-sim: ready":
            self.proc.kill()
            raise Fail("simulator did not start: %r %r" % (first, ready))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)

    def state(self):
        with open(self.state_path) as f:
            return json.load(f)

    def frames(self):
        return [(f["hex"], f["t"]) for f in self.state()["frames"]]


# The program directory of every run (varnix.db), away from the user's own.
HOME = tempfile.mkdtemp(prefix="vx-serial-home-")


def cli(*args):
    p = subprocess.run([CLI, "serial", *args, "--home", HOME], capture_output=True, text=True, timeout=60)
    return p.returncode, p.stdout, p.stderr


def cli_json(*args):
    rc, out, err = cli(*args, "--json")
    try:
        return rc, json.loads(out), err
    except ValueError:
        raise Fail("not JSON (rc %d): %r %r" % (rc, out, err))


def case_read_z2():
    s = Sim("z2")
    try:
        rc, doc, err = cli_json("read", s.link)
        check(rc == 0, "rc %d %s" % (rc, err))
        f = doc["fields"]
        check(f["StaticIP"] == "192.168.0.7" and f["ModName"] == "Serial-Z2", str(f))
        check(f["DeviceNo"] == "SIM-DEV-0001" and f["HeartbeatInterval"] == 30, str(f))
        check(doc["replies"] == {"params": True, "cloud": True, "heartbeat": True}, str(doc["replies"]))
        check(doc["module"]["family"] == "Z2" and doc["exit"] == 0, str(doc))
        check([h for h, _ in s.frames()] == ["55BD", "55C1"], str(s.frames()))
        # The read is a snapshot in the inventory; the same read again adds none.
        rc, _, err = cli_json("read", s.link)
        check(rc == 0, "second read %d %s" % (rc, err))
        with sqlite3.connect(os.path.join(HOME, "varnix.db")) as c:
            rows = c.execute("SELECT link, family, mac FROM snapshots").fetchall()
        check(len(rows) == 1 and rows[0][:2] == ("serial", 2), "snapshots %r" % rows)
    finally:
        s.stop()


def case_read_z1_and_bad_checksum():
    s = Sim("z1")
    try:
        rc, doc, err = cli_json("read", s.link, "--family", "z1", "--baud", "14400")
        check(rc == 0, "rc %d %s" % (rc, err))
        f = doc["fields"]
        check(f["StaticIP"] == "192.168.0.7" and f["RemoteIP"] == "192.168.0.201" and f["WorkMode"] == 1, str(f))
        check(f["BaudRate"] == 115200 and f["Parity"] == 1 and f["DataBits"] == 8 and f["OptionRFC2217"] is True, str(f))
    finally:
        s.stop()
    s = Sim("z3", "--bad-checksum")
    try:
        rc, doc, err = cli_json("read", s.link, "--family", "z3")
        check(rc == 4 and "checksum" in err, "rc %d %s" % (rc, err))
    finally:
        s.stop()


def case_set_z2():
    s = Sim("z2")
    try:
        before = s.state()
        rc, doc, err = cli_json("set", s.link, "StaticIP=192.168.0.99", "WorkMode=TCP Client", "BaudRate=9600")
        job = doc["modules"][0]
        check(rc == 0 and job["outcome"] == "verified" and len(job["acks"]) == 3, "rc %d %s %s" % (rc, err, doc))
        check(sorted(c["field"] for c in job["changes"]) == ["BaudRate", "StaticIP", "WorkMode"], str(job["changes"]))
        frames = s.frames()
        hexes = [h for h, _ in frames]
        check(hexes[:2] == ["55BD", "55C1"] and hexes[2].startswith("55BE") and hexes[3].startswith("55BF")
              and hexes[4] == "55B15A" and hexes[5:] == ["55BD", "55C1"], str(hexes))
        # 500 ms between frames; the simulator stamps a frame when it reads it from the pty, so a
        # busy machine can shorten a gap on its side by its scheduling delay.
        check(frames[3][1] - frames[2][1] >= 450 and frames[4][1] - frames[3][1] >= 450, str(frames))
        after = s.state()
        old, new = bytes.fromhex(before["base"]), bytes.fromhex(after["base"])
        diff = [i for i in range(67) if old[i] != new[i]]
        check(diff == [9], "base bytes changed: %s" % diff)  # 192.168.0.99 stored last octet first
        old, new = bytes.fromhex(before["port"]), bytes.fromhex(after["port"])
        diff = [i for i in range(63) if old[i] != new[i]]
        check(set(diff) <= {0, 1, 2, 3, 51} and 51 in diff, "port bytes changed: %s" % diff)
        with sqlite3.connect(os.path.join(HOME, "varnix.db")) as c:
            entries = [json.loads(line) for (line,) in c.execute("SELECT line FROM journal ORDER BY id")]
        e = entries[-1]
        fields = {c["field"]: (c["old"], c["new"]) for c in e["changes"]}
        check(e["link"] == "serial" and e["family"] == "Z2" and e["outcome"] == "acknowledged" and len(e["acks"]) == 3
              and fields["StaticIP"][1] == "192.168.0.99" and sorted(fields) == ["BaudRate", "StaticIP", "WorkMode"],
              "journal %r" % e)
    finally:
        s.stop()


def case_set_z1():
    s = Sim("z1")
    try:
        rc, doc, err = cli_json("set", s.link, "--family", "z1", "StaticIP=10.0.0.5", "RS485=on", "DeviceID=65535")
        check(rc == 0 and doc["modules"][0]["outcome"] == "verified", "rc %d %s %s" % (rc, err, doc))
        body = bytes.fromhex(s.state()["z1body"])
        check(body[6:10] == bytes([5, 0, 0, 10]) and body[21:23] == b"\xff\xff" and body[23] & 0x04, body.hex())
        hexes = [h for h, _ in s.frames()]
        check(hexes[0] == "55BC" and hexes[1].startswith("55BA") and hexes[2] == "55BC", str(hexes))
    finally:
        s.stop()


def case_refusals_send_nothing():
    s = Sim("z2")
    try:
        for args, word in ((["DeviceNo=ABC"], "LAN only"), (["LocalPort=70000"], "LocalPort"), (["Nope=1"], "Nope")):
            rc, out, err = cli("set", s.link, *args)
            check(rc == 2 and word in err, "%s: rc %d %r" % (args, rc, err))
        check(all(h in ("55BD", "55C1") for h, _ in s.frames()), str(s.frames()))
        rc, doc, err = cli_json("set", s.link, "StaticIP=10.1.1.1", "--dry-run")
        job = doc["modules"][0]
        check(rc == 0 and doc["dryRun"] and job["outcome"] == "dry-run" and len(job["frames"]) == 3, str(doc))
        check(all(h in ("55BD", "55C1") for h, _ in s.frames()), "dry run wrote: %s" % s.frames())
    finally:
        s.stop()


def case_open_failures():
    s = Sim("z2")
    try:
        # Another program holds the port.
        fd = os.open(s.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        rc, out, err = cli("read", s.link)
        os.close(fd)
        check(rc == 1 and "busy" in err, "held: rc %d %r" % (rc, err))
        rc, out, err = cli("read", s.link)
        check(rc == 0, "after release: rc %d %r" % (rc, err))
        # A user outside the device's group (only testable when this runs as root).
        if os.geteuid() == 0 and os.path.exists("/usr/bin/setpriv"):
            p = subprocess.run(["/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", CLI, "serial",
                                "read", os.path.realpath(s.link)], capture_output=True, text=True, timeout=60)
            check(p.returncode == 1 and "no permission" in p.stderr and "dialout" in p.stderr,
                  "no access: rc %d %r" % (p.returncode, p.stderr))
    finally:
        s.stop()
    rc, out, err = cli("read", "/dev/null")
    check(rc == 1 and "not a serial device" in err, "/dev/null: %r" % err)
    rc, out, err = cli("read", "ttyNOSUCH9")
    check(rc == 1 and "/dev/ttyNOSUCH9: no such port" in err, "missing: %r" % err)
    rc, out, err = cli("read", "/dev/null", "--family", "z9")
    check(rc == 2, "bad family: rc %d" % rc)
    # A silent module: no answer within the time-out.
    s = Sim("z2", "--silent")
    try:
        rc, out, err = cli("read", s.link, "--timeout", "0.5")
        check(rc == 1 and "no 137-byte reply" in err, "silent: rc %d %r" % (rc, err))
    finally:
        s.stop()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    names = list(CASES) if sys.argv[3] == "all" else [sys.argv[3]]
    for name in names:
        try:
            CASES[name]()
            print("ok", name)
        except Fail as e:
            print("FAIL", name, e)
            sys.exit(1)
