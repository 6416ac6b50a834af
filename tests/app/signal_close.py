#!/usr/bin/env python3
"""The real program ends through its closing steps on SIGTERM, SIGHUP and SIGINT.

Each case starts varnix offscreen with a temporary --home (loopback only; nothing is sent),
waits until start-up is under way (the application context writes Lang.txt; a signal that comes
before the event loop runs waits in the pipe), sends the signal - twice in
a row for SIGTERM, which must still close once - and expects exit status 0 and a Cfg.ini that
holds every setting. A program killed by the signal would leave no Cfg.ini at all.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

VARNIX = sys.argv[1]
KEYS = [b"Language=0", b"RealTimeHelp=1", b"LocalCom=", b"ZNum=", b"UserName=vesta", b"Password=vesta",
        b"UpgradeIP=", b"UpgradeMAC=", b"UpgradeFileName=", b"FilePath="]


def run(sig, times):
    home = tempfile.mkdtemp(prefix="vx-signal-")
    try:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LANG="C", LC_ALL="C")
        proc = subprocess.Popen([VARNIX, "--home", home, "--loopback", "--local", "127.0.0.1"], env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(home, "Lang.txt")):
            if proc.poll() is not None or time.monotonic() > deadline:
                proc.kill()
                return "window not built: rc %r %s" % (proc.returncode, proc.communicate()[1])
            time.sleep(0.01)
        for _ in range(times):
            proc.send_signal(sig)
        try:
            _, err = proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            return "did not end within 30 s"
        if proc.returncode != 0:
            return "exit status %d (%s)" % (proc.returncode, err.strip())
        path = os.path.join(home, "Cfg.ini")
        if not os.path.exists(path):
            return "no Cfg.ini: the closing steps did not run"
        ini = open(path, "rb").read()
        missing = [k.decode() for k in KEYS if k not in ini]
        if missing:
            return "Cfg.ini lacks %s: %r" % (missing, ini)
        if err.count("closing") != 1:
            return "expected one 'closing' line, got %r" % err
        return None
    finally:
        shutil.rmtree(home, ignore_errors=True)


def main():
    failed = 0
    for sig, times in ((signal.SIGTERM, 2), (signal.SIGHUP, 1), (signal.SIGINT, 1)):
        problem = run(sig, times)
        print("%s %s%s" % ("FAIL" if problem else "ok  ", sig.name, ": " + problem if problem else ""))
        failed += problem is not None
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
