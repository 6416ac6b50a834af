#!/usr/bin/env python3
"""Firmware transfer speed: the upgrade server of varnix-cli against tftp-hpa's in.tftpd, both
serving the same 1 MiB image to the same TFTP client (curl --tftp-no-options, 512-byte blocks),
server and client pinned to the same CPU with taskset. Prints the median of RUNS timed fetches
of each, alternating, and their ratio.

Runs as root inside the private namespace of bench/upgrade_netns.sh (one veth pair; the client
uses the module side's address 10.77.0.2, the servers 10.77.0.1):

    bench/upgrade_netns.sh python3 bench/bench_upgrade.py build/tools/cli/varnix-cli [RUNS] [CPU]

Measured (2 vCPUs, pinned to CPU 0, median of 7): varnix-cli 0.065 s, in.tftpd 0.069 s, ratio 0.94.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

CLI = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
CPU = sys.argv[3] if len(sys.argv) > 3 else "0"
PC, MODULE = "10.77.0.1", "10.77.0.2"
TFTPD = shutil.which("in.tftpd") or "/usr/sbin/in.tftpd"
PIN = ["taskset", "-c", CPU]


def fetch(out):
    """One timed curl fetch; retried while the server is still binding. Returns seconds."""
    deadline = time.monotonic() + 5
    while True:
        start = time.monotonic()
        c = subprocess.run(PIN + ["curl", "-s", "--max-time", "20", "--tftp-no-options", "--interface", MODULE, "--local-port", "13633",
                                  "-o", out, "tftp://%s/firmware.bin" % PC], capture_output=True)
        took = time.monotonic() - start
        if c.returncode == 0:
            return took
        if time.monotonic() > deadline:
            raise SystemExit("curl failed: %s" % c.stderr)
        time.sleep(0.02)


def ours(image, out):
    cli = subprocess.Popen(PIN + [CLI, "upgrade", "00:1A:2B:3C:4D:5E", image, "--target", MODULE, "--local", PC,
                                  "--json"], stdout=subprocess.DEVNULL)
    time.sleep(0.2)  # let it bind
    took = fetch(out)
    if cli.wait(timeout=30) != 0:
        raise SystemExit("varnix-cli upgrade failed")
    return took


def main():
    tmp = tempfile.mkdtemp(prefix="vx-bench-upgrade-")
    try:
        data = os.urandom(1024 * 1024)
        image = os.path.join(tmp, "fw.bin")
        with open(image, "wb") as f:
            f.write(b"\x5A\x32\x10\x07" + data)
        root = os.path.join(tmp, "tftproot")
        os.mkdir(root)
        with open(os.path.join(root, "firmware.bin"), "wb") as f:
            f.write(data)
        out = os.path.join(tmp, "got.bin")
        a, b = [], []
        for _ in range(RUNS):
            a.append(ours(image, out))
            with open(out, "rb") as f:
                assert f.read() == data, "varnix served a different file"
            # Both servers want port 69, so in.tftpd runs only for its own fetch.
            tftpd = subprocess.Popen(PIN + [TFTPD, "-L", "--address", PC + ":69", "-s", root, "-u", "root"])
            time.sleep(0.2)
            b.append(fetch(out))
            tftpd.terminate()
            tftpd.wait()
            with open(out, "rb") as f:
                assert f.read() == data, "in.tftpd served a different file"
        ma, mb = statistics.median(a), statistics.median(b)
        print("1 MiB in 512-byte blocks to curl, pinned to CPU %s, median of %d:" % (CPU, RUNS))
        print("  varnix-cli upgrade: %.3f s  (runs: %s)" % (ma, " ".join("%.3f" % x for x in a)))
        print("  in.tftpd:           %.3f s  (runs: %s)" % (mb, " ".join("%.3f" % x for x in b)))
        print("  ratio: %.2f" % (ma / mb))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


main()
