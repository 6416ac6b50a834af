#!/usr/bin/env python3
"""End-to-end firmware upgrades: varnix-cli (or a TFTP client written by others) against the
module side of varnix-sim.

Runs inside tests/netns-run. With --segments 1 (every case but curl) the module lives in its own
namespace on m0 with a factory address in a foreign subnet (192.168.0.2) and no route to the PC
(10.9.0.1 on pc0) until the boot reply gives it 10.9.0.50. Its boot request is a real broadcast
from port 68 to 255.255.255.255:67, which reaches the PC only through its 0.0.0.0:67 socket and
its interface filter; the boot reply is a broadcast to port 68. With --veth 1 (curl, which needs
an address before it starts) both ends share one namespace: PC 10.77.0.1, module 10.77.0.2.

    e2e_upgrade.py CLI SIM CASE
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

CLI, SIM, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
SEGMENTS = os.environ.get("VARNIX_NS_TOPOLOGY") == "segments"
PC = os.environ["VARNIX_NS_PC_IPS"].split(",")[0]
MODULE = PC.rsplit(".", 1)[0] + (".50" if SEGMENTS else ".2")
IFACE = os.environ["VARNIX_NS_SIM_IFACES"].split(",")[0]
IN_MODULES = [os.environ["VARNIX_NS_IN_MODULES"]] if SEGMENTS else []
MAC = "00:1A:2B:3C:4D:5E"
SIGNATURE = bytes([0x5A, 0x32, 0x10, 0x07])


def check(cond, message):
    if not cond:
        raise SystemExit("FAIL: " + message)


class Sim:
    def __init__(self, tmp, *options):
        self.out = os.path.join(tmp, "received.bin")
        self.proc = subprocess.Popen(
            IN_MODULES + [SIM, "--duration", "120", "--upgrade-mac", MAC, "--upgrade-out", self.out, "--upgrade-iface", IFACE,
             *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "varnix-sim: ready":
            self.proc.kill()
            check(False, "simulator did not start: %r %s" % (line, self.proc.stderr.read()))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)

    def received(self):
        with open(self.out, "rb") as f:
            return f.read()


def image(tmp, size):
    path = os.path.join(tmp, "fw.bin")
    with open(path, "wb") as f:
        f.write(SIGNATURE + os.urandom(size))
    with open(path, "rb") as f:
        return path, f.read()


def upgrade(path, *extra):
    p = subprocess.run([CLI, "upgrade", MAC, path, "--target", MODULE, "--local", PC, "--json", *extra],
                       capture_output=True, text=True, timeout=60)
    return p.returncode, json.loads(p.stdout)


def run_case(tmp):
    if CASE == "curl":
        # A TFTP client written by others reads the image from the server of a run in progress.
        path, data = image(tmp, 300 * 1024 + 17)
        cli = subprocess.Popen([CLI, "upgrade", MAC, path, "--target", MODULE, "--local", PC, "--json"],
                               stdout=subprocess.PIPE, text=True)
        got = os.path.join(tmp, "curl.bin")
        deadline = time.monotonic() + 5
        while True:  # the server's ports are bound a moment after the start
            c = subprocess.run(["curl", "-s", "--tftp-no-options", "--interface", MODULE, "--local-port", "13633",
                                "-o", got, "tftp://%s/firmware.bin" % PC], capture_output=True, timeout=30)
            if c.returncode == 0 or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        check(c.returncode == 0, "curl failed: %s" % c.stderr)
        with open(got, "rb") as f:
            check(f.read() == data[4:], "curl received a different file")
        out, _ = cli.communicate(timeout=30)
        check(cli.returncode == 0 and json.loads(out)["result"] == "success", "cli: %s" % out)
        return

    options = {
        "image": [],
        "drops": ["--upgrade-drop-blocks", "0.002", "--upgrade-drop-acks", "0.002", "--upgrade-seed", "7"],
        "lost_final_ack": ["--upgrade-drop-last-acks", "1"],
        "stops": ["--upgrade-stop-after", "40"],
        "mismatch": ["--upgrade-signature", "01020304", "--upgrade-byte26", "1"],
    }[CASE]
    size = 256 * 1024
    path, data = image(tmp, size)
    sim = Sim(tmp, *options)
    try:
        started = time.monotonic()
        rc, result = upgrade(path)
        took = time.monotonic() - started
    finally:
        sim.stop()
    if CASE in ("image", "drops", "lost_final_ack"):
        check(rc == 0 and result["result"] == "success", "not success: %s" % result)
        check(sim.received() == data[4:], "the module wrote a different image")
        if CASE == "lost_final_ack":
            check(result["resends"] == 1 and took >= 1.5, "the final block was not re-sent once: %s" % result)
        if CASE == "image":
            check(result["blocks"] == len(data[4:]) // 512 + 1, "block count %s" % result)
    elif CASE == "stops":
        check(rc == 1 and result["result"] == "timeout", "not a time-out: %s" % result)
        check(result["message"] == "Upgrade time out!", "message %s" % result)
        check(result["resends"] == 9 and 17 < took < 30, "9 re-sends 2 s apart, took %.1f s" % took)
        check(not os.path.exists(sim.out), "a partial image was written")
    elif CASE == "mismatch":
        check(rc == 4 and result["result"] == "mismatch", "not a mismatch: %s" % result)
        check(result["message"] == "Firmware does not match with hardware!", "message %s" % result)


def main():
    tmp = tempfile.mkdtemp(prefix="vx-upgrade-e2e-")
    try:
        run_case(tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("ok", CASE)


main()
