#!/usr/bin/env python3
"""A host firewall with a default-drop input policy (as firewalld's public zone has), made with
nftables in the PC's namespace of tests/netns-run --segments 1: the modules' replies and a firmware
upgrade's requests are dropped, and the rules the varnix package ships let them through.

The rules are built from the shipped firewalld service data/firewall/varnix.xml itself (one
accept per <port> and <source-port>), so the test proves the file's ports, not a copy of them;
the ufw profiles data/firewall/varnix.ufw must name the same ports. firewall-cmd cannot run here:
it drives a firewalld daemon over the system D-Bus, which a test namespace does not have.

Without the rules: a search finds nothing and names the service in its explanation, a read finds
no module, an upgrade times out with no block sent and names the service too. With them: all
three work. Leaving out the source ports, port 67 or port 69 breaks what each is for.

    e2e_firewall.py CLI SIM SOURCE_DIR
"""
import configparser
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

CLI, SIM, SOURCE = sys.argv[1], sys.argv[2], sys.argv[3]
PC = os.environ["VARNIX_NS_PC_IPS"].split(",")[0]
IFACE = os.environ["VARNIX_NS_SIM_IFACES"].split(",")[0]
IN_MODULES = os.environ["VARNIX_NS_IN_MODULES"]
TARGET = PC.rsplit(".", 1)[0] + ".50"  # the address the upgrade gives the module
MAC = "00:1A:2B:3C:4D:5E"
SERVICE = os.path.join(SOURCE, "data/firewall/varnix.xml")
UFW = os.path.join(SOURCE, "data/firewall/varnix.ufw")
HOME = tempfile.mkdtemp(prefix="vx-firewall-")


def check(cond, message):
    if not cond:
        raise SystemExit("FAIL: " + message)


def service_rules():
    """(kind, protocol, port) of every <port> (dport) and <source-port> (sport) of the service."""
    root = ElementTree.parse(SERVICE).getroot()
    check(root.tag == "service" and root.findtext("short"), "varnix.xml is not a firewalld service")
    rules = [("dport" if e.tag == "port" else "sport", e.get("protocol"), e.get("port"))
             for e in root if e.tag in ("port", "source-port")]
    check(all(p in ("udp", "tcp") and port for _, p, port in rules), "bad port entries: %r" % rules)
    return rules


def ufw_ports(section):
    profile = configparser.ConfigParser()
    check(profile.read(UFW) == [UFW], "no ufw profile")
    ports = set()
    for entry in profile[section]["ports"].split("|"):
        numbers, _, protocol = entry.partition("/")
        ports |= {(protocol, n) for n in numbers.split(",")}
    return ports


def firewall(rules):
    """Replaces the PC's input filter: drop by default, accept what a conntrack entry or lo
    carries (as firewalld does) and what `rules` name."""
    lines = ["%s %s %s accept" % (protocol, kind, port) for kind, protocol, port in rules]
    ruleset = """flush ruleset
table inet varnix_test {
  chain input {
    type filter hook input priority 0; policy drop;
    ct state established,related accept
    iifname "lo" accept
    %s
  }
}
""" % "\n    ".join(lines)
    p = subprocess.run(["nft", "-f", "-"], input=ruleset, capture_output=True, text=True)
    check(p.returncode == 0, "nft refused the rules: %s\n%s" % (p.stderr, ruleset))


def cli(*args, timeout=40):
    p = subprocess.run([CLI, "--json", *args], capture_output=True, text=True, timeout=timeout)
    return p.returncode, json.loads(p.stdout), p.stderr


def lan(*args):
    return cli("--home", HOME, "--interface", PC, "--timeout", "1", *args)


def upgrade(image):
    return cli("upgrade", MAC, image, "--target", TARGET, "--interface", PC)


def main():
    rules = service_rules()
    replies = [r for r in rules if r[0] == "sport"]
    check({(p, port) for _, p, port in replies} == {("udp", "1500"), ("udp", "1901")},
          "the service does not allow the modules' ports 1500 and 1901: %r" % rules)
    check(ufw_ports("varnix-modules") == {(p, port) for _, p, port in replies},
          "ufw's varnix-modules differs from the service's source ports")
    check(ufw_ports("varnix") == {(p, port) for kind, p, port in rules if kind == "dport"},
          "ufw's varnix differs from the service's ports")

    image = os.path.join(HOME, "fw.bin")
    with open(image, "wb") as f:
        f.write(bytes([0x5A, 0x32, 0x10, 0x07]) + os.urandom(64 * 1024))
    sim = subprocess.Popen(
        [IN_MODULES, SIM, "--bind", "0.0.0.0", "--iface", IFACE, "--duration", "170",
         "--module", "z2:%s:192.168.0.50:Line-1:4017" % MAC.replace(":", "-"),
         "--upgrade-fleet", "--upgrade-iface", IFACE, "--upgrade-out-dir", HOME, "--upgrade-loader-ms", "2000"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        check(sim.stdout.readline().strip() == "varnix-sim: ready", "simulator did not start")

        firewall([])
        rc, doc, err = lan("search")
        check(rc == 1 and doc["modules"] == [], "search through the closed firewall: %d %r" % (rc, doc))
        check("firewall-cmd --add-service=varnix" in err and "ufw allow from any app varnix-modules" in err,
              "the search's explanation does not name the service: %s" % err)
        rc, doc, err = lan("read", MAC)
        check(rc == 1 and "did not answer" in err, "read through the closed firewall: %d %s" % (rc, err))
        rc, doc, err = upgrade(image)
        check(rc == 1 and doc["result"] == "timeout" and doc["blocks"] == 0,
              "upgrade through the closed firewall: %d %r" % (rc, doc))
        check("firewall-cmd --add-service=varnix" in doc.get("hint", "") and "ufw allow varnix" in err,
              "the upgrade does not name the service: %r %s" % (doc, err))

        # Each part of the service is needed: the replies' source ports for the search, 67 for the
        # boot request and 69 for the read request of the upgrade.
        firewall([r for r in rules if r[0] != "sport"])
        rc, doc, _ = lan("search")
        check(rc == 1 and doc["modules"] == [], "search without the source ports: %d %r" % (rc, doc))
        for port in ("67", "69"):
            firewall([r for r in rules if r[2] != port])
            rc, doc, _ = upgrade(image)
            check(rc == 1 and doc["result"] == "timeout" and doc["blocks"] == 0,
                  "upgrade without port %s: %d %r" % (port, rc, doc))

        firewall(rules)
        rc, doc, err = lan("search")
        check(rc == 0 and [m["mac"] for m in doc["modules"]] == ["00 1A 2B 3C 4D 5E"],
              "search through the service's rules: %d %r %s" % (rc, doc, err))
        rc, doc, err = lan("read", MAC)
        check(rc == 0 and doc["fields"]["ModName"] == "Line-1", "read through the service's rules: %d %s" % (rc, err))
        rc, doc, err = upgrade(image)
        check(rc == 0 and doc["result"] == "success", "upgrade through the service's rules: %d %r %s" % (rc, doc, err))
        with open(os.path.join(HOME, "001A2B3C4D5E.bin"), "rb") as f:
            check(len(f.read()) == 64 * 1024, "the module wrote a different image")
    finally:
        sim.send_signal(signal.SIGTERM)
        sim.wait(timeout=10)
        shutil.rmtree(HOME, ignore_errors=True)
    print("ok")


main()
