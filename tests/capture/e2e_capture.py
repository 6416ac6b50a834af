#!/usr/bin/env python3
"""Captures made by varnix-cli --capture against varnix-sim, read back with Debian's Wireshark.

Runs inside tests/netns-run --segments 1: the simulated modules answer by broadcast from a
foreign subnet of their own namespace, the cli works from the PC's adapter. Each case runs real
commands with --capture, then checks the file with capinfos and tshark (the dissector from the
tree): every datagram on a module port is decoded, the fields say what was sent, the log-in
password never appears in a default capture and does with --capture-keep-login.

    e2e_capture.py CLI SIM DISSECTOR CASE
"""
import json
import os
import signal
import subprocess
import sys
import tempfile

CLI, SIM, DISSECTOR, CASE = sys.argv[1:5]
PC = os.environ["VARNIX_NS_PC_IPS"].split(",")[0]
IFACE = os.environ["VARNIX_NS_SIM_IFACES"].split(",")[0]
IN_MODULES = os.environ["VARNIX_NS_IN_MODULES"]
TMP = tempfile.mkdtemp(prefix="vx-capture-e2e-")
USER, PASSWORD = "tech01", "pw9x7q"  # six bytes each: the log-in's full width
Z2_MAC, Z3_MAC = "00:1A:2B:3C:4D:5E", "00:1A:2B:3C:4D:6F"


def check(cond, message):
    if not cond:
        raise SystemExit("FAIL: " + message)


class Sim:
    def __init__(self, args):
        self.proc = subprocess.Popen([IN_MODULES, SIM, "--duration", "120"] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "varnix-sim: ready":
            self.proc.kill()
            check(False, "simulator did not start: %r %s" % (line, self.proc.stderr.read()))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)


def lan_sim():
    config = os.path.join(TMP, "config.json")
    login = {"user": USER, "password": PASSWORD, "firmware": 4017}
    with open(config, "w") as f:
        json.dump({"modules": [dict(family="z2", mac=Z2_MAC, ip="192.168.0.21", name="Pump-7", **login),
                               dict(family="z3", mac=Z3_MAC, ip="192.168.0.22", name="Valve-3", **login)]}, f)
    return Sim(["--bind", "0.0.0.0", "--iface", IFACE, "--reply", "broadcast", "--config", config,
                "--restart-ms", "200"])


def cli(capture, *args, keep=False, timeout=60):
    extra = ["--capture-keep-login"] if keep else []
    p = subprocess.run([CLI, "--capture", capture, *extra, *args], capture_output=True, text=True, timeout=timeout)
    check("varnix-cli: capture %s:" % capture in p.stderr, "no capture summary: %s" % p.stderr)
    return p.returncode, p.stdout, p.stderr


def lan_cli(capture, *args, keep=False):
    return cli(capture, "--interface", PC, "--home", TMP, "--user", USER, "--password", PASSWORD, *args, keep=keep)


def tshark(capture, *args):
    p = subprocess.run(["tshark", "-n", "-X", "lua_script:" + DISSECTOR, "-o", "ip.check_checksum:TRUE",
                        "-o", "udp.check_checksum:TRUE", "-r", capture, *args], capture_output=True, text=True,
                       timeout=60)
    # Run as root (the namespace's root), tshark says so on stderr; anything else is a complaint.
    err = [l for l in p.stderr.splitlines() if l.strip() and "could be dangerous" not in l]
    check(p.returncode == 0 and not err, "tshark on %s: %d %s" % (capture, p.returncode, p.stderr))
    return p.stdout


def frames(capture, display_filter, *fields):
    """One dict per frame matching the filter: the first value of each field."""
    args = ["-Y", display_filter, "-T", "fields", "-E", "occurrence=f", "-E", "separator=\t"]
    for f in fields:
        args += ["-e", f]
    out = []
    for line in tshark(capture, *args).splitlines():
        out.append(dict(zip(fields, line.split("\t"))))
    return out


def readable(capture):
    """capinfos reads the whole file; the packet count it found."""
    p = subprocess.run(["capinfos", "-M", "-c", capture], capture_output=True, text=True, timeout=30)
    err = [l for l in p.stderr.splitlines() if l.strip() and "could be dangerous" not in l]
    check(p.returncode == 0 and not err, "capinfos: %s" % p.stderr)
    count = [l for l in p.stdout.splitlines() if "Number of packets" in l]
    check(len(count) == 1, "capinfos: %s" % p.stdout)
    return int(count[0].split(":")[1].strip())


def every_module_datagram_decoded(capture):
    """Every UDP datagram to or from a module port is taken by the dissector, with no error."""
    on_ports = frames(capture, "udp.port == 1500 || udp.port == 1901", "frame.number", "vorz.kind")
    check(on_ports, "no module datagrams in %s" % capture)
    undecoded = [f for f in on_ports if not f.get("vorz.kind")]
    check(not undecoded, "not decoded: %s" % undecoded)
    bad = frames(capture, "_ws.expert.severity >= error || _ws.malformed", "frame.number")
    check(not bad, "errors in frames %s" % bad)
    return on_ports


def case_lan():
    sim = lan_sim()
    try:
        search, read, save = (os.path.join(TMP, n + ".pcapng") for n in ("search", "read", "save"))
        rc, out, err = lan_cli(search, "search")
        listed = out.replace(" ", ":")
        check(rc == 0 and Z2_MAC in listed and Z3_MAC in listed, "search: %d %s %s" % (rc, out, err))
        rc, out, err = lan_cli(read, "read", Z2_MAC)
        check(rc == 0, "read: %d %s" % (rc, err))
        rc, out, err = lan_cli(save, "set", Z2_MAC, "ModName=Pump-8", "--verify-timeout", "10")
        check(rc == 0, "set: %d %s %s" % (rc, out, err))
    finally:
        sim.stop()

    for capture in (search, read, save):
        check(readable(capture) > 0, "empty capture " + capture)
        every_module_datagram_decoded(capture)
        with open(capture, "rb") as f:
            check(PASSWORD.encode() not in f.read(), "the password is in " + capture)

    # The search: one request, a reply from each module with its MAC, name, firmware and family.
    check(len(frames(search, 'vorz.kind == "search request"', "frame.number")) >= 1, "no search request")
    replies = {f["vorz.mac"].upper(): f for f in frames(search, 'vorz.kind contains "search reply"', "vorz.mac",
                                                        "vorz.name", "vorz.firmware", "vorz.family", "vorz.ip")}
    check(replies.get(Z2_MAC, {}).get("vorz.name") == "Pump-7", "Z2 reply: %s" % replies)
    check(replies[Z2_MAC]["vorz.firmware"] == "4017" and replies[Z2_MAC]["vorz.family"] == "2", str(replies))
    check(replies.get(Z3_MAC, {}).get("vorz.family") == "36" and replies[Z3_MAC]["vorz.ip"] == "192.168.0.22",
          "Z3 reply: %s" % replies)

    # The read: the read command carries the masked password; the base reply holds the module's
    # settings under their field names, its own copy of the password masked too.
    cmds = frames(read, "vorz.code == 0x03", "vorz.mac", "vorz.login.user", "vorz.login.password",
                  "vorz.checksum.status")
    check(cmds and all(c["vorz.login.user"] == USER and c["vorz.login.password"] == "******" for c in cmds),
          "read command: %s" % cmds)
    check(all(c["vorz.checksum.status"] in ("1", "True") for c in cmds), "masked checksum not right: %s" % cmds)
    base = frames(read, 'vorz.kind contains "read reply" && vorz.StaticIP', "vorz.StaticIP", "vorz.ModName")
    check(base and base[0]["vorz.StaticIP"] == "192.168.0.21" and base[0]["vorz.ModName"] == "Pump-7",
          "base reply: %s" % base)

    # The save: the base block written carries the new name; every write is acknowledged with K.
    writes = frames(save, "vorz.code == 0x05", "vorz.ModName", "vorz.StaticIP")
    check(writes and writes[0]["vorz.ModName"] == "Pump-8" and writes[0]["vorz.StaticIP"] == "192.168.0.21",
          "base write: %s" % writes)
    acks = frames(save, "vorz.ack.status", "vorz.ack.status")
    check(len(acks) >= 3 and all(a["vorz.ack.status"] == "0x4b" for a in acks), "acknowledgements: %s" % acks)

    # Kept on request: the same read with --capture-keep-login shows the password as it travelled.
    sim = lan_sim()
    try:
        kept = os.path.join(TMP, "kept.pcapng")
        rc, _, err = lan_cli(kept, "read", Z2_MAC, keep=True)
        check(rc == 0, "read kept: %s" % err)
    finally:
        sim.stop()
    check(all(c["vorz.login.password"] == PASSWORD for c in frames(kept, "vorz.code == 0x03",
                                                                    "vorz.login.password")), "not kept")


def case_upgrade_and_limit():
    # The upgrade's request to port 9 is decoded; boot and file transfer are Wireshark's own.
    image = os.path.join(TMP, "fw.bin")
    with open(image, "wb") as f:
        f.write(bytes([0x5A, 0x32, 0x10, 0x07]) + os.urandom(8 * 1024))
    module = PC.rsplit(".", 1)[0] + ".50"
    sim = Sim(["--upgrade-mac", Z2_MAC, "--upgrade-out", os.path.join(TMP, "received.bin"),
               "--upgrade-iface", IFACE])
    capture = os.path.join(TMP, "upgrade.pcapng")
    try:
        rc, out, err = cli(capture, "upgrade", Z2_MAC, image, "--target", module, "--local", PC, "--json")
        check(rc == 0, "upgrade: %d %s %s" % (rc, out, err))
    finally:
        sim.stop()
    check(readable(capture) > 0, "empty upgrade capture")
    requests = frames(capture, "udp.dstport == 9", "vorz.kind", "vorz.upgrade.mac_copy")
    check(len(requests) >= 1 and requests[0]["vorz.kind"].startswith("upgrade request"), "request: %s" % requests)
    check(frames(capture, "bootp", "frame.number") and frames(capture, "tftp", "frame.number"), "no boot or tftp")

    # Bounded: the same upgrade with a small limit: the capture stops, says so, and reads back whole.
    sim = Sim(["--upgrade-mac", Z2_MAC, "--upgrade-out", os.path.join(TMP, "received.bin"),
               "--upgrade-iface", IFACE])
    small = os.path.join(TMP, "small.pcapng")
    try:
        rc, out, err = cli(small, "upgrade", Z2_MAC, image, "--target", module, "--local", PC, "--json",
                           "--capture-limit", "4096")
        check(rc == 0 and "size limit of 4096 bytes" in err, "limit: %d %s" % (rc, err))
    finally:
        sim.stop()
    check(os.path.getsize(small) <= 4096, "capture past its limit: %d" % os.path.getsize(small))
    check(0 < readable(small) < readable(capture), "small capture not cut")


def case_serial():
    state = os.path.join(TMP, "serial-state.json")
    link = os.path.join(TMP, "ttySIM")
    proc = subprocess.Popen([SIM, "--serial", "z2", "--link", link, "--state", state, "--duration", "60"],
                            stdout=subprocess.PIPE, text=True)
    for _ in range(2):
        proc.stdout.readline()
    capture = os.path.join(TMP, "serial.pcapng")
    try:
        rc, out, err = cli(capture, "serial", "read", link, "--home", TMP)
        check(rc == 0, "serial read: %d %s" % (rc, err))
    finally:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=10)
    check(readable(capture) > 0, "empty serial capture")
    decoded = frames(capture, "vorz", "frame.number", "vorz.kind")
    check(len(decoded) >= 2 and all(f["vorz.kind"] for f in decoded), "serial frames: %s" % decoded)
    check(any("Z2" in f["vorz.kind"] for f in decoded), "no Z2 frame named: %s" % decoded)


{"lan": case_lan, "upgrade_and_limit": case_upgrade_and_limit, "serial": case_serial}[CASE]()
print("ok")
