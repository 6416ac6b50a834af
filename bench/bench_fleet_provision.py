#!/usr/bin/env python3
"""Provisioning many modules from a sheet: wall time with --parallel at its default and with
--parallel 1, in one run, against varnix-sim inside the private namespace of tests/netns-run.

    tests/netns-run --segments 1 -- bench/bench_fleet_provision.py CLI SIM [COUNT [PASSES]]
        COUNT: 100; PASSES: the --parallel values to run, "default,1" unless given ("default,100,1")

The modules live on the real segment of netns-run: their own namespace behind the PC's adapter,
answering by broadcast.

Each pass starts a fresh simulator with COUNT Z2 modules (firmware 4017, Modbus settings, so a
save is 0x05, 0x06, 0x21, 0x24 and the restart), provisions a new address, name and baud rate for
every one, and requires every module verified at its new address. From the simulator's journal
it then checks, per module, that the write datagrams came in the save's order and that the
pauses between them were at least 500 ms, and that every acknowledgement the cli reports was
given to the step it answers: the simulator fills byte 2 of each acknowledgement with a value that
differs from the command code (the protocol leaves it open), so an attribution that read it would
show here. The simulator's seed is printed with the figures. The simulator stamps each datagram with the kernel's
arrival time, so a busy simulator does not shorten a gap; LAG_MS is left for the timestamp's
granularity on a loaded machine.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

CLI, SIM = sys.argv[1], sys.argv[2]
COUNT = min(120, int(sys.argv[3]) if len(sys.argv) > 3 else 100)
PC = os.environ.get("VARNIX_NS_PC_IPS", "").split(",")[0]
SIM_IFACE = os.environ.get("VARNIX_NS_SIM_IFACES", "").split(",")[0]
IN_MODULES = os.environ.get("VARNIX_NS_IN_MODULES", "")
NET = PC.rsplit(".", 1)[0]
ORDER = [0x05, 0x06, 0x21, 0x24, 0x02]
PAUSED = {0x05, 0x06, 0x21}  # followed by 500 ms
LAG_MS = 30.0


def run_pass(parallel):
    d = tempfile.mkdtemp(prefix="vx-bench-fleet-")
    macs = ["02 00 00 00 %02X %02X" % (i // 256, i % 256) for i in range(COUNT)]
    with open(os.path.join(d, "config.json"), "w") as f:
        json.dump({"modules": [{"family": "z2", "mac": m, "ip": "192.168.%d.%d" % (i // 200, 10 + i % 200),
                                "name": "Fresh", "firmware": 4017} for i, m in enumerate(macs)]}, f)
    # New addresses in the PC's subnet (at most 120 modules fit in what is left of the /24).
    new_ip = ["%s.%d" % (NET, 120 + i) for i in range(COUNT)]
    with open(os.path.join(d, "sheet.csv"), "w") as f:
        f.write("MAC,StaticIP,ModName,BaudRate\n")
        for i, m in enumerate(macs):
            f.write("%s,%s,Unit-%d,38400\n" % (m, new_ip[i], i))
    journal = os.path.join(d, "sim.jsonl")
    sim = subprocess.Popen([IN_MODULES, SIM, "--bind", "0.0.0.0", "--iface", SIM_IFACE, "--config", os.path.join(d, "config.json"),
                            "--state", os.path.join(d, "state.json"), "--journal", journal, "--restart-ms", "200",
                            "--duration", "900"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if sim.stdout.readline().strip() != "varnix-sim: ready":
        sys.exit("simulator did not start: %s" % sim.stderr.read())
    args = [CLI, "--interface", PC, "--home", d, "provision", os.path.join(d, "sheet.csv"), "--json",
            "--timeout", "3", "--verify-timeout", "60"]
    if parallel is not None:
        args += ["--parallel", str(parallel)]
    t0 = time.monotonic()
    p = subprocess.run(args, capture_output=True, text=True, timeout=1800)
    wall = time.monotonic() - t0
    sim.send_signal(signal.SIGTERM)
    seed = next((l.rsplit(" ", 1)[-1] for l in sim.communicate(timeout=10)[1].splitlines()
                 if l.startswith("varnix-sim: vary seed")), "none")
    doc = json.loads(p.stdout)
    rows = {m["mac"]: m for m in doc["modules"]}
    for m in macs:
        if len(rows[m]["acks"]) != len(ORDER):
            print("%s: %s" % (m, json.dumps(rows[m]["acks"])), file=sys.stderr)
    lost = [m for i, m in enumerate(macs)
            if rows[m]["outcome"] != "verified" or rows[m].get("verify", {}).get("ip") != new_ip[i]]
    # Every step's acknowledgement, in the step's place: code by code as the save sent them.
    acks = sum(len(rows[m]["acks"]) for m in macs)
    attributed = sum(1 for m in macs for a, code in zip(rows[m]["acks"], ORDER)
                     if a.get("code") == code and a["result"] == "K")
    # Per module: the write datagrams it handled, in arrival order.
    writes = {}
    with open(journal) as f:
        for line in f:
            j = json.loads(line)
            if j["result"] != "ignored" and j.get("code") in ORDER and j["len"] >= 22 and j["module"]:
                writes.setdefault(j["module"], []).append((j["code"], j["t_ms"]))
    out_of_order, min_gap = [], float("inf")
    for m in macs:
        seq = writes.get(m, [])
        if [c for c, _ in seq] != ORDER:
            out_of_order.append(m)
            print("%s: the simulator got %s" % (m, " ".join("%02X" % c for c, _ in seq)), file=sys.stderr)
            continue
        for (c, t), (_, t2) in zip(seq, seq[1:]):
            if c in PAUSED:
                min_gap = min(min_gap, t2 - t)
    return {"parallel": parallel or "default", "wall_s": round(wall, 2), "exit": p.returncode,
            "modules": COUNT, "not_verified": len(lost), "out_of_order": len(out_of_order),
            "min_pause_ms": round(min_gap, 1), "acks": acks, "acks_attributed": attributed,
            "acks_expected": COUNT * len(ORDER), "sim_vary_seed": seed}


def main():
    passes = [None if p == "default" else int(p) for p in (sys.argv[4] if len(sys.argv) > 4 else "default,1").split(",")]
    results = [run_pass(p) for p in passes]
    ok = True
    for r in results:
        print(json.dumps(r))
        ok &= r["exit"] == 0 and r["not_verified"] == 0 and r["out_of_order"] == 0 and r["min_pause_ms"] >= 500 - LAG_MS
        ok &= r["acks_attributed"] == r["acks_expected"]
    if len(results) > 1:
        print("speed-up: %.1fx" % (results[-1]["wall_s"] / results[0]["wall_s"]))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
