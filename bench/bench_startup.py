#!/usr/bin/env python3
"""Start-up of the window against a bare Qt 6 window, measured in one run.

    bench_startup.py VARNIX BARE [RUNS] [--xvfb]

Starts each program RUNS times (default 15), alternating, with VARNIX_STARTUP_PROBE set: the
program prints the CLOCK_MONOTONIC time of its first painted frame and its resident memory then,
and ends (src/ui/common/startup_probe.h). Start-up is that time minus the time taken just before
the program was started. varnix starts twice in each round, with --local 127.0.0.1: once as a first
start (a fresh --home: no settings, the window builds its widest page for its size) and once as a
later start (a --home an earlier run has left its settings in: the window takes its saved size and
builds no page). Run it inside tests/netns-run, so that nothing it does can reach a network.
Without --xvfb both run on the offscreen platform; with it, on one Xvfb server started here.
Prints the medians and their ratios to the bare window, and the median of each round's own ratio,
which a machine's load drifting over the run moves less (goal: start-up at most 1.3x, memory at
most 1.5x).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def one_start(argv, env):
    t0 = time.monotonic_ns()
    p = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
    for line in p.stdout.splitlines():
        if line.startswith("startup-probe "):
            fields = dict(f.split("=") for f in line.split()[1:])
            return (int(fields["visible_ns"]) - t0) / 1e6, int(fields["rss_kb"])
    raise SystemExit("no probe line from %s (exit %d): %s" % (argv[0], p.returncode, p.stderr[-500:]))


def start_xvfb():
    for display in range(90, 110):
        if os.path.exists("/tmp/.X11-unix/X%d" % display) or os.path.exists("/tmp/.X%d-lock" % display):
            continue
        proc = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", "1366x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if os.path.exists("/tmp/.X11-unix/X%d" % display):
                return proc, ":%d" % display
            time.sleep(0.05)
        proc.kill()
    raise SystemExit("could not start Xvfb")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    xvfb = "--xvfb" in sys.argv
    if len(args) < 2:
        raise SystemExit(__doc__)
    varnix, bare = args[0], args[1]
    runs = int(args[2]) if len(args) > 2 else 15
    env = dict(os.environ, VARNIX_STARTUP_PROBE="1")
    server = None
    if xvfb:
        server, display = start_xvfb()
        env.update(QT_QPA_PLATFORM="xcb", DISPLAY=display)
    else:
        env["QT_QPA_PLATFORM"] = "offscreen"
    results = {"bare": [], "first": [], "later": []}
    used_home = tempfile.TemporaryDirectory()
    try:
        # One round first, not counted: every program finds its libraries in the page cache, and
        # the later starts' home gets its settings.
        for counted in [False] + [True] * runs:
            with tempfile.TemporaryDirectory() as home:
                first = one_start([varnix, "--home", home, "--local", "127.0.0.1"], env)
            later = one_start([varnix, "--home", used_home.name, "--local", "127.0.0.1"], env)
            b = one_start([bare], env)
            if counted:
                results["first"].append(first)
                results["later"].append(later)
                results["bare"].append(b)
    finally:
        used_home.cleanup()
        if server:
            server.terminate()
            server.wait()
    med = {k: (statistics.median(x[0] for x in v), statistics.median(x[1] for x in v)) for k, v in results.items()}
    platform = "xvfb" if xvfb else "offscreen"
    print("start-up, %d runs each, %s platform (medians)" % (runs, platform))
    names = {"bare": "bare Qt window", "first": "varnix, first start", "later": "varnix, later start"}
    for k in ("bare", "first", "later"):
        line = "  %-20s visible after %7.1f ms   RSS %7d kB" % (names[k], med[k][0], med[k][1])
        if k != "bare":
            line += "   ratio: start-up %.2fx, RSS %.2fx" % (med[k][0] / med["bare"][0], med[k][1] / med["bare"][1])
            paired = statistics.median(r[0] / b[0] for r, b in zip(results[k], results["bare"]))
            line += " (by round %.2fx)" % paired
        print(line)
    print("  goal: start-up <= 1.3x, RSS <= 1.5x")


if __name__ == "__main__":
    main()
