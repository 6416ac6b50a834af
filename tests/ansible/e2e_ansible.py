#!/usr/bin/env python3
"""End-to-end checks of the varnix.vorz collection: real ansible-playbook runs (Ansible from
Debian, the control node connecting to localhost with the local connection) against varnix-sim.

Runs inside the private network namespace of tests/netns-run --segments N: the simulated modules
live in a namespace of their own behind the PC's adapters (10.9.<i>.1), answering by broadcast;
the modules call varnix-cli with --interface. Each case starts its own simulator, so cases do
not see each other's writes. What a save changed is read from the simulator's --state file and
what went over the wire from its --journal, never from the collection's own report.

varnix-cli is called through a wrapper that records, for every call, its command line, whether
the password came in the environment and which process started it: every call must come from
timeout(1), and no command line may hold a password.

    e2e_ansible.py COLLECTIONS CLI SIM CASE[,CASE...]     (CASE "all" runs every case)

With VARNIX_EXAMPLE_OUTPUT=FILE the "Many sites" example's playbook output is appended to FILE.
"""
import json
import os
import signal
import stat
import subprocess
import sys
import tempfile
import time

COLLECTIONS, CLI, SIM = sys.argv[1], sys.argv[2], sys.argv[3]
PCS = os.environ.get("VARNIX_NS_PC_IPS", "").split(",")
SIM_IFACES = os.environ.get("VARNIX_NS_SIM_IFACES", "").split(",")
IN_MODULES = os.environ.get("VARNIX_NS_IN_MODULES", "")
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(HERE)), "ansible", "examples")
WORK = tempfile.mkdtemp(prefix="vx-ansible-")
PASSWORD = "s3cr3t"  # the simulated modules' log-in password; must never show up in any output
WRITE_CODES = {0x02, 0x04, 0x05, 0x06, 0x0B, 0x0C, 0x21, 0x22, 0x23, 0x24}
MAC_A, MAC_B, MAC_C, MAC_OLD = "00 1A 2B 3C 4D 5E", "00 1A 2B 3C 4D 5F", "00 1A 2B 3C 4D 60", "00 1A 2B 3C 4D 61"


class Fail(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Fail(message)


def z2(mac, ip, name, **extra):
    m = {"family": "z2", "mac": mac, "ip": ip, "name": name, "firmware": 4017, "password": PASSWORD}
    m.update(extra)
    return m


def z3(mac, ip, name, **extra):
    m = z2(mac, ip, name, **extra)
    m["family"] = "z3"
    return m


class Sim:
    """One simulator on one segment (by default the first); stopped with SIGTERM."""

    def __init__(self, modules, segment=0, extra=()):
        self.dir = tempfile.mkdtemp(prefix="sim-", dir=WORK)
        self.state_path = os.path.join(self.dir, "state.json")
        self.journal_path = os.path.join(self.dir, "journal.jsonl")
        config = os.path.join(self.dir, "config.json")
        with open(config, "w") as f:
            json.dump({"modules": modules}, f)
        self.proc = subprocess.Popen(
            [IN_MODULES, SIM, "--bind", "0.0.0.0", "--iface", SIM_IFACES[segment], "--config", config,
             "--state", self.state_path, "--journal", self.journal_path, "--restart-ms", "200", "--duration", "300"]
            + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "varnix-sim: ready":
            self.proc.kill()
            raise Fail("simulator did not start: %r %s" % (line, self.proc.stderr.read()))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)

    def state(self):
        with open(self.state_path) as f:
            return {m["mac"]: m for m in json.load(f)["modules"]}

    def writes_seen(self):
        """Codes of write/restart/reset datagrams the modules reacted to."""
        if not os.path.exists(self.journal_path):
            return []
        with open(self.journal_path) as f:
            lines = [json.loads(line) for line in f if line.strip()]
        return [j["code"] for j in lines if j["result"] != "ignored" and j.get("code") in WRITE_CODES and j["len"] >= 22]


def port_field(state, offset, size):
    return int.from_bytes(bytes.fromhex(state["port"])[offset:offset + size], "little")


# --- varnix-cli behind a recording wrapper ---

WRAPPER = os.path.join(WORK, "varnix-cli")
CALLS = os.path.join(WORK, "cli-calls.jsonl")
with open(WRAPPER, "w") as f:
    f.write("#!/usr/bin/python3\n"
            "import json, os, sys\n"
            "with open('/proc/%%d/comm' %% os.getppid()) as c:\n"
            "    parent = c.read().strip()\n"
            "with open(%r, 'a') as log:\n"
            "    log.write(json.dumps({'argv': sys.argv[1:], 'parent': parent,\n"
            "                          'password_env': 'VARNIX_PASSWORD' in os.environ}) + '\\n')\n"
            "os.execv(%r, [%r] + sys.argv[1:])\n" % (CALLS, CLI, CLI))
os.chmod(WRAPPER, 0o755)


def cli_calls():
    if not os.path.exists(CALLS):
        return []
    with open(CALLS) as f:
        return [json.loads(line) for line in f if line.strip()]


def check_calls_safe():
    """Every varnix-cli call ran under timeout(1) and no command line held the password."""
    calls = cli_calls()
    check(calls, "varnix-cli was never called")
    for c in calls:
        check(c["parent"] == "timeout", "varnix-cli started by %r, not timeout: %r" % (c["parent"], c["argv"]))
        check(not any(PASSWORD in a for a in c["argv"]), "a password on the command line: %r" % c["argv"])
        check("--password" not in c["argv"], "--password on the command line: %r" % c["argv"])


# --- ansible-playbook ---

SECRETS = os.path.join(WORK, "secrets.json")
with open(SECRETS, "w") as f:
    json.dump({"vorz_password": PASSWORD}, f)
os.chmod(SECRETS, 0o600)
ANSIBLE_HOME = os.path.join(WORK, "home")
os.makedirs(ANSIBLE_HOME)
CLI_HOME = os.path.join(WORK, "varnix-home")
os.makedirs(CLI_HOME)
INVENTORY = os.path.join(WORK, "hosts.ini")
with open(INVENTORY, "w") as f:
    f.write("localhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n")


def ansible_env(extra=None):
    env = dict(os.environ)
    env.update({
        "HOME": ANSIBLE_HOME,
        "PATH": "/usr/bin:/bin:" + env.get("PATH", ""),
        "ANSIBLE_COLLECTIONS_PATH": COLLECTIONS,
        "ANSIBLE_COLLECTIONS_SCAN_SYS_PATH": "false",
        "ANSIBLE_STDOUT_CALLBACK": "vx_json",
        "ANSIBLE_CALLBACK_PLUGINS": os.path.join(HERE, "callback_plugins"),
        "ANSIBLE_NOCOLOR": "1",
        "ANSIBLE_RETRY_FILES_ENABLED": "0",
        "ANSIBLE_LOCAL_TEMP": os.path.join(ANSIBLE_HOME, "tmp"),
        "ANSIBLE_REMOTE_TEMP": os.path.join(ANSIBLE_HOME, "tmp"),
        "ANSIBLE_LOCALHOST_WARNING": "false",
        "ANSIBLE_INVENTORY_UNPARSED_WARNING": "false",
    })
    for name in ("VARNIX_USER", "VARNIX_PASSWORD"):
        env.pop(name, None)
    env.update(extra or {})
    return env


def header(pc=None):
    """A play on localhost with every vorz module's common options set once."""
    return """- hosts: localhost
  gather_facts: false
  module_defaults:
    group/varnix.vorz.vorz:
      cli: %s
      interface: %s
      home: %s
      password: "{{ vorz_password }}"
      timeout: 1
      command_timeout: 90
  tasks:
""" % (WRAPPER, pc or PCS[0], CLI_HOME)


class Run:
    """One ansible-playbook run, its JSON report and what it printed."""

    def __init__(self, text, *options, inventory=INVENTORY, env=None):
        path = os.path.join(WORK, "play-%d.yml" % time.monotonic_ns())
        with open(path, "w") as f:
            f.write(text)
        p = subprocess.run(["ansible-playbook", "-i", inventory, "-e", "@" + SECRETS, path] + list(options),
                           capture_output=True, text=True, env=ansible_env(env), timeout=600)
        self.rc, self.out, self.err = p.returncode, p.stdout, p.stderr
        try:
            self.doc = json.loads(self.out[self.out.index("{"):])
        except ValueError:
            raise Fail("ansible-playbook printed no JSON (rc %d): %s %s" % (self.rc, self.out[-2000:], self.err[-2000:]))
        check(PASSWORD not in self.out and PASSWORD not in self.err, "the password shows in the output")

    def result(self, task, host="localhost"):
        for play in self.doc["plays"]:
            for t in play["tasks"]:
                if t["task"]["name"] == task:
                    return t["hosts"][host]
        raise Fail("no task %r in the report" % task)

    def stats(self, host="localhost"):
        return self.doc["stats"][host]


def task(name, module, args, **keywords):
    """One task in YAML (the arguments as JSON, which is YAML too)."""
    lines = ["    - name: %s\n" % name, "      varnix.vorz.%s: %s\n" % (module, json.dumps(args))]
    for k, v in keywords.items():
        lines.append("      %s: %s\n" % (k, json.dumps(v)))
    return "".join(lines)


# --- cases ---

def case_facts():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Line-1"),
               z2(MAC_OLD, "192.168.0.52", "Old", firmware=2001)])
    try:
        run = Run(header()
                  + task("search", "vorz_facts", {}, register="seen")
                  + task("read", "vorz_facts", {"read": True})
                  + task("absent", "vorz_facts", {"macs": [MAC_A, "00:1a:2b:3c:4d:99"]}, ignore_errors=True))
        seen = run.result("search")
        by_mac = {m["mac"]: m for m in seen["modules"]}
        check(set(by_mac) == {MAC_A, MAC_B, MAC_OLD}, "modules %r" % seen["modules"])
        check(by_mac[MAC_A]["ip"] == "192.168.0.50" and by_mac[MAC_B]["family"] == "Z3"
              and by_mac[MAC_OLD]["family"] == "incompatible", "search rows %r" % by_mac)
        kinds = {c["kind"] for c in seen["checks"]}
        check({"duplicate-name", "incompatible-firmware", "outside-subnet"} <= kinds, "findings %r" % kinds)
        check("duplicate-name" in by_mac[MAC_B]["findings"], "per-module findings %r" % by_mac[MAC_B])
        check(seen["ansible_facts"]["vorz_modules"] == seen["modules"], "facts")
        read = {m["mac"]: m for m in run.result("read")["modules"]}
        a = read[MAC_A]["fields"]
        check(a["BaudRate"] == 115200 and a["ModName"] == "Line-1" and a["WorkMode"] == 3, "fields %r" % a)
        check(a["Password"] == "********" and a["CommPassword"] == "********", "secrets not masked: %r" % a)
        check(read[MAC_B]["fields"]["UARTLength"] == 1024, "Z3 fields")
        check("fields" not in read[MAC_OLD], "an incompatible module was read")
        absent = run.result("absent")
        check(absent.get("failed") and "00 1A 2B 3C 4D 99" in absent["msg"], "missing module: %r" % absent)
        check(sim.writes_seen() == [], "facts wrote: %r" % sim.writes_seen())
        check_calls_safe()
    finally:
        sim.stop()


def case_config():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Z3-1")])
    try:
        want = {"ModName": "Press-7", "workmode": "TCP Client", "RemotePort": 9000}
        play = header() + task("set", "vorz_config", {"mac": "00:1a:2b:3c:4d:5e", "config": want}, register="r")
        with open(sim.state_path) as f:
            before = f.read()
        planned = Run(play, "--check", "--diff")
        r = planned.result("set")
        check(planned.rc == 0 and r["changed"], "check mode: %r" % r)
        check({(c["field"], c["old"], c["new"]) for c in r["changes"]}
              == {("ModName", "Line-1", "Press-7"), ("WorkMode", 3, 1), ("RemotePort", 8234, 9000)}, "changes %r" % r["changes"])
        diff = r["diff"][0]
        check("WorkMode: 3 (TCP Server)" in diff["before"] and "WorkMode: 1 (TCP Client)" in diff["after"]
              and 'ModName: "Press-7"' in diff["after"], "diff %r" % diff)
        check(r["after"][MAC_A]["RemotePort"] == 9000 and r["before"][MAC_A]["RemotePort"] == 8234, "before/after")
        with open(sim.state_path) as f:
            check(f.read() == before, "check mode changed the simulator's state")
        check(sim.writes_seen() == [], "check mode wrote: %r" % sim.writes_seen())

        applied = Run(play, "--diff")
        r = applied.result("set")
        check(applied.rc == 0 and r["changed"] and r["modules"][0]["outcome"] == "verified", "apply: %r" % r)
        st = sim.state()[MAC_A]
        check(st["name"] == "Press-7" and bytes.fromhex(st["port"])[51] == 1 and port_field(st, 14, 2) == 9000,
              "module state %r" % st)
        check(st["writes"][:2] == [0x05, 0x06] and st["restarts"] == 1, "writes %r" % st["writes"])
        check(sim.state()[MAC_B]["writes"] == [], "the other module was written")

        again = Run(play)
        check(again.rc == 0 and again.stats()["changed"] == 0, "second run: %r" % again.stats())
        check(again.result("set")["modules"][0]["outcome"] == "unchanged", "second run outcome")
        check(sim.state()[MAC_A]["restarts"] == 1, "the second run wrote")

        # Many modules, the same fields: one save run for both; then replaced without every field.
        both = header() + task("both", "vorz_config", {"modules": [
            {"mac": MAC_A, "config": {"BaudRate": 9600, "Parity": "EVEN"}},
            {"mac": MAC_B, "config": {"Parity": "EVEN", "BaudRate": 9600}}]})
        calls = len(cli_calls())
        run = Run(both + task("replace", "vorz_config", {"mac": MAC_B, "state": "replaced", "config": {"BaudRate": 19200}},
                              ignore_errors=True)
                  + task("nothing", "vorz_config", {"profile": "/nonexistent", "macs": []}))
        r = run.result("both")
        check(run.rc == 0 and r["changed"] and {m["outcome"] for m in r["modules"]} == {"verified"}, "both: %r" % r)
        st = sim.state()
        check(all(port_field(st[m], 0, 4) == 9600 and bytes.fromhex(st[m]["port"])[5] == 3 for m in (MAC_A, MAC_B)),
              "port blocks %r" % st)
        saves = [c["argv"] for c in cli_calls()[calls:] if c["argv"][:2] == ["profile", "apply"] and "--dry-run" not in c["argv"]]
        check(len(saves) == 1 and MAC_A in saves[0] and MAC_B in saves[0], "not one run for both: %r" % saves)
        check(run.result("nothing")["changed"] is False, "an empty list of modules: %r" % run.result("nothing"))
        r = run.result("replace")
        check(r.get("failed") and "LocalPort" in r["msg"] and "UARTLength" in r["msg"] and "BaudRate" not in r["msg"].split("lacks")[1],
              "replaced with one field: %r" % r)
        check(port_field(sim.state()[MAC_B], 0, 4) == 9600, "the refused replace wrote")
        check_calls_safe()
    finally:
        sim.stop()


def case_refusals():
    """Each refusal fails its task with the reason and writes nothing; a module that acknowledges
    but keeps its old values fails as unverified. No password shows anywhere (a cloud password
    neither: the modules' own is 12345678)."""
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Z3-1"),
               z2(MAC_C, "192.168.0.52", "Stubborn", ignoreWrites=True)])
    try:
        open_file, private_file = os.path.join(WORK, "pw-open"), os.path.join(WORK, "pw")
        for path, mode in ((open_file, 0o644), (private_file, 0o600)):
            with open(path, "w") as f:
                f.write(PASSWORD + "\n")
            os.chmod(path, mode)
        run = Run(header()
                  + task("wrong password", "vorz_config", {"mac": MAC_A, "config": {"ModName": "Nope"}, "password": "badpw1"},
                         ignore_errors=True)
                  + task("open password file", "vorz_config", {"state": "gathered", "mac": MAC_A, "password": None,
                                                               "password_file": open_file}, ignore_errors=True)
                  + task("secret in config", "vorz_config", {"mac": MAC_A, "config": {"password": "x"}}, ignore_errors=True)
                  + task("z3 field", "vorz_config", {"mac": MAC_B, "config": {"Dns": "10.0.0.1", "ModName": "Z3-2"}},
                         ignore_errors=True)
                  + task("bad value", "vorz_config", {"modules": [{"mac": MAC_A, "config": {"ModName": "fine"}},
                                                                  {"mac": MAC_B, "config": {"LocalPort": 70000}}]},
                         ignore_errors=True)
                  + task("undeliverable", "vorz_config", {"mac": MAC_C, "config": {"RemotePort": 7000},
                                                          "comm_password": "c0mm-n3w"}, ignore_errors=True)
                  + task("password file", "vorz_config", {"state": "gathered", "macs": [MAC_A, MAC_B],
                                                          "password": None, "password_file": private_file})
                  + task("unverified", "vorz_config", {"mac": MAC_C, "config": {"RemotePort": 7000},
                                                       "verify_timeout": 2}, ignore_errors=True))
        r = run.result("wrong password")
        check(r.get("failed") and "user name or password wrong" in r["msg"] and MAC_A in r["msg"], "wrong password: %r" % r)
        r = run.result("open password file")
        check(r.get("failed") and "mode 0644" in r["msg"] and "chmod 600" in r["msg"], "open password file: %r" % r)
        r = run.result("secret in config")
        check(r.get("failed") and "new_password" in r["msg"], "secret in config: %r" % r)
        r = run.result("z3 field")
        check(r.get("failed") and "a Z3 save does not write it" in r["msg"] and "nothing was written" in r["msg"], "z3: %r" % r)
        r = run.result("bad value")
        check(r.get("failed") and "LocalPort" in r["msg"] and "65535" in r["msg"], "bad value: %r" % r)
        # A cloud password the save would not deliver (no cloud registration): refused before any write.
        r = run.result("undeliverable")
        check(r.get("failed") and "nothing was written" in r["msg"] and "CommPassword" in r["msg"]
              and "RegisterType" in r["msg"], "undeliverable: %r" % r)
        st = sim.state()
        check(all(st[m]["writes"] == [] and st[m]["restarts"] == 0 for m in (MAC_A, MAC_B)), "a refused task wrote")
        saves = [c["argv"] for c in cli_calls() if c["argv"][:2] == ["profile", "apply"] and "--dry-run" not in c["argv"]]
        check(len(saves) == 1 and MAC_C in saves[0], "only the unverified task may save: %r" % saves)
        g = run.result("password file")["gathered"]
        check(g[MAC_B]["ModName"] == "Z3-1" and g[MAC_A]["Password"] == "********", "gathered %r" % g)
        r = run.result("unverified")
        check(r.get("failed") and "unverified" in r["msg"] and r["modules"][0]["outcome"] == "unverified", "%r" % r)
        check(r["modules"][0]["verify"]["mismatches"] == [{"field": "RemotePort", "sent": 7000, "read": 8234}],
              "mismatches %r" % r["modules"][0]["verify"])
        check("12345678" not in run.out and "c0mm-n3w" not in run.out, "a cloud password shows in the output")
        check(all(c["password_env"] for c in cli_calls() if c["argv"][0] != "fields"), "a call without the password")
        check_calls_safe()
    finally:
        sim.stop()


def case_profile():
    """A profile saved from a module with cloud registration, applied to another: the other gets
    the settings and keeps its own address, name and cloud device number."""
    sim = Sim([z2(MAC_A, "192.168.0.50", "Golden"), z2(MAC_B, "192.168.0.51", "Unit-B")])
    try:
        profile = os.path.join(WORK, "cloud.json")
        cli_env = dict(os.environ, VARNIX_PASSWORD=PASSWORD)
        for args in (["set", MAC_A, "RegisterType=Cloud", "DeviceNo=GOLDEN-0001", "BaudRate=57600"],
                     ["profile", "save", MAC_A, profile]):
            p = subprocess.run([CLI, "--interface", PCS[0], "--home", CLI_HOME] + args, env=cli_env,
                               capture_output=True, text=True, timeout=60)
            check(p.returncode == 0, "%s: %s" % (args[0], p.stderr))
        cloud_b = sim.state()[MAC_B]["cloud"]
        run = Run(header() + task("plan", "vorz_config", {"profile": profile, "macs": [MAC_B]}, check_mode=True)
                  + task("apply", "vorz_config", {"profile": profile, "macs": [MAC_B]}))
        fields = {c["field"] for c in run.result("plan")["changes"]}
        check({"RegisterType", "BaudRate"} <= fields and not fields & {"DeviceNo", "StaticIP", "ModName"},
              "planned %r" % fields)
        r = run.result("apply")
        check(run.rc == 0 and r["modules"][0]["outcome"] == "verified", "apply %r" % r)
        st = sim.state()[MAC_B]
        check(0x0C in st["writes"] and port_field(st, 0, 4) == 57600 and st["name"] == "Unit-B"
              and st["ip"] == "192.168.0.51", "module B %r" % st)
        # The cloud block was written, with B's own device number (its MAC's digits) in it.
        cloud = bytes.fromhex(st["cloud"])
        check(b"001A2B3C4D5F" in cloud and b"GOLDEN" not in cloud and b"001A2B3C4D5F" in bytes.fromhex(cloud_b),
              "device number in %r" % cloud)
        check_calls_safe()
    finally:
        sim.stop()


def case_backup():
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Z3-1"),
               z2(MAC_OLD, "192.168.0.52", "Old", firmware=2001)])
    try:
        dest = os.path.join(WORK, "backup.json")
        backup = task("backup", "vorz_backup", {"dest": dest})
        run = Run(header() + backup + "    - name: stat\n      ansible.builtin.stat: {path: %s}\n" % dest
                  + task("again", "vorz_backup", {"dest": dest}))
        r = run.result("backup")
        check(run.rc == 0 and r["changed"] and r["modules"] == [MAC_A, MAC_B], "backup %r" % r)
        check(r["not_read"][0]["mac"] == MAC_OLD, "not read %r" % r["not_read"])
        check(stat.S_IMODE(os.stat(dest).st_mode) == 0o600, "backup mode %o" % os.stat(dest).st_mode)
        with open(dest) as f:
            doc = json.load(f)
        check(doc["format"] == "varnix-backup" and doc["modules"][MAC_B]["fields"]["UARTLength"] == 1024
              and doc["modules"][MAC_A]["fields"]["Password"] == PASSWORD, "backup file %r" % doc)
        mtime = os.stat(dest).st_mtime
        check(not run.result("again")["changed"] and run.result("stat")["stat"]["mtime"] == mtime,
              "the second backup rewrote the file")
        # A module changed behind the playbook's back, and the file opened to others: check mode
        # reports both and leaves the file; then both are repaired.
        p = subprocess.run([CLI, "--interface", PCS[0], "--home", CLI_HOME, "set", MAC_B, "RemotePort=7000"],
                           env=dict(os.environ, VARNIX_PASSWORD=PASSWORD), capture_output=True, text=True, timeout=60)
        check(p.returncode == 0, "set: %s" % p.stderr)
        os.chmod(dest, 0o644)
        planned = Run(header() + backup, "--check")
        r = planned.result("backup")
        check(r["changed"] and r["differing"] == [MAC_B] and os.stat(dest).st_mtime == mtime
              and stat.S_IMODE(os.stat(dest).st_mode) == 0o644, "check mode: %r" % r)
        run = Run(header() + backup)
        check(run.result("backup")["changed"] and stat.S_IMODE(os.stat(dest).st_mode) == 0o600, "mode not repaired")
        with open(dest) as f:
            check(json.load(f)["modules"][MAC_B]["fields"]["RemotePort"] == 7000, "new value not in the file")
        check_calls_safe()
    finally:
        sim.stop()


FAKE_SSH = """#!/usr/bin/python3
# Stands in for ssh: checks that the options end before the destination, logs the call and runs
# the remote command line with sh, as sshd would.
import json, os, sys
args = sys.argv[1:]
end = args.index("--")
with open(%r, "a") as log:
    log.write(json.dumps({"options": args[:end], "destination": args[end + 1], "command": args[end + 2:]}) + "\\n")
os.execv("/bin/sh", ["sh", "-c", " ".join(args[end + 2:])])
"""


def case_inventory():
    """Two segments: this machine (local) and one reached over "ssh" (a stand-in that runs the
    remote command here). Hosts named by MAC, grouped by site and family; a play on the modules
    of one site runs in waves of one."""
    sims = [Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z3(MAC_B, "192.168.0.51", "Z3-1"),
                 z2(MAC_C, "192.168.0.52", "Line-3")], segment=0),
            Sim([z2("02 00 00 00 01 01", "192.168.1.11", "Far")], segment=1)]
    try:
        fake_bin = os.path.join(WORK, "fake-bin")
        os.makedirs(fake_bin, exist_ok=True)
        ssh_log = os.path.join(WORK, "ssh.jsonl")
        with open(os.path.join(fake_bin, "ssh"), "w") as f:
            f.write(FAKE_SSH % ssh_log)
        os.chmod(os.path.join(fake_bin, "ssh"), 0o755)
        source = os.path.join(WORK, "plant.vorz.yml")
        with open(source, "w") as f:
            json.dump({"plugin": "varnix.vorz.vorz", "cli": WRAPPER, "segments": [
                {"host": "localhost", "site": "Plant 1", "connection": "local", "interface": PCS[0],
                 "vars": {"ansible_python_interpreter": "/usr/bin/python3"}},
                {"host": "cell-gw", "site": "Plant 2", "address": "10.1.2.5", "user": "ops", "port": 2222,
                 "interface": PCS[1]}]}, f)
        env = ansible_env()
        env["PATH"] = fake_bin + ":" + env["PATH"]
        p = subprocess.run(["ansible-inventory", "-i", source, "--list"], capture_output=True, text=True,
                           env=env, timeout=120)
        check(p.returncode == 0, "ansible-inventory: %s" % p.stderr)
        inv = json.loads(p.stdout)
        check(sorted(inv["site_plant_1"]["hosts"]) == ["00-1a-2b-3c-4d-5e", "00-1a-2b-3c-4d-5f", "00-1a-2b-3c-4d-60"],
              "site group %r" % inv.get("site_plant_1"))
        check(inv["site_plant_2"]["hosts"] == ["02-00-00-00-01-01"], "site 2 %r" % inv.get("site_plant_2"))
        check(sorted(inv["family_z2"]["hosts"]) == ["00-1a-2b-3c-4d-5e", "00-1a-2b-3c-4d-60", "02-00-00-00-01-01"],
              "family group %r" % inv.get("family_z2"))
        hv = inv["_meta"]["hostvars"]
        check(hv["00-1a-2b-3c-4d-5f"]["vorz_mac"] == MAC_B and hv["00-1a-2b-3c-4d-5f"]["ansible_connection"] == "local"
              and hv["00-1a-2b-3c-4d-5f"]["vorz_interface"] == PCS[0], "host vars %r" % hv["00-1a-2b-3c-4d-5f"])
        far = hv["02-00-00-00-01-01"]
        check((far["ansible_host"], far["ansible_connection"], far["ansible_user"], far["ansible_port"],
               far["vorz_segment_host"]) == ("10.1.2.5", "ssh", "ops", 2222, "cell-gw"), "ssh host vars %r" % far)
        with open(ssh_log) as f:
            calls = [json.loads(line) for line in f]
        check(len(calls) == 1 and calls[0]["destination"] == "10.1.2.5"
              and calls[0]["options"][-4:] == ["-p", "2222", "-l", "ops"] and "BatchMode=yes" in calls[0]["options"]
              and calls[0]["command"][0].startswith("timeout "), "ssh call %r" % calls)
        # A play that targets the Z2 modules of plant 1 themselves, one per wave.
        play = """- hosts: site_plant_1:&family_z2
  gather_facts: false
  serial: 1
  tasks:
    - name: name
      varnix.vorz.vorz_config:
        mac: "{{ vorz_mac }}"
        config: {ModName: "{{ vorz_name }}-ok"}
        cli: %s
        interface: "{{ vorz_interface }}"
        password: "{{ vorz_password }}"
        home: %s
""" % (WRAPPER, CLI_HOME)
        run = Run(play, inventory=source, env={"PATH": env["PATH"]})
        check(run.rc == 0, "play on module hosts: %s" % run.out[-1500:])
        st = sims[0].state()
        check(st[MAC_A]["name"] == "Line-1-ok" and st[MAC_C]["name"] == "Line-3-ok" and st[MAC_B]["name"] == "Z3-1",
              "names %r" % {m: s["name"] for m, s in st.items()})
        check(sims[1].state()["02 00 00 00 01 01"]["name"] == "Far", "the other site was written")
        check(len(run.doc["plays"]) == 2, "serial: 1 gives one wave per module: %d" % len(run.doc["plays"]))
        check_calls_safe()
    finally:
        for s in sims:
            s.stop()


def case_firmware():
    image = os.path.join(WORK, "vorz2-4100.bin")
    with open(image, "wb") as f:
        # The simulated modules' hardware takes images signed 5A 32 10 07 (their default).
        f.write(bytes.fromhex("5A321007") + bytes(range(256)) * 1024)
    sim = Sim([z2(MAC_A, "192.168.0.50", "Line-1"), z2(MAC_B, "192.168.0.51", "Line-2", firmware=4100)])
    try:
        run = Run(header()
                  + task("plan", "vorz_firmware", {"firmware": 4100, "image": image, "all": True}, check_mode=True)
                  + task("no image", "vorz_firmware", {"firmware": 4100, "image": image + ".missing", "all": True},
                         check_mode=True, ignore_errors=True)
                  + task("bad options", "vorz_firmware", {"firmware": 4100, "image": image, "macs": [MAC_A], "all": True,
                                                          "pool": "10.9.0.200-10.9.1.10", "parallel": 0},
                         check_mode=True, ignore_errors=True)
                  # Already at the number: nothing to do, so no rollout is needed (and none is run).
                  + task("there", "vorz_firmware", {"firmware": 4100, "image": image, "macs": [MAC_B]}))
        r = run.result("plan")
        check(r["changed"] and r["would_upgrade"] == [MAC_A], "plan %r" % r)
        check({m["mac"]: m["outcome"] for m in r["modules"]} == {MAC_A: "would-upgrade", MAC_B: "ok"}, "outcomes %r" % r)
        r = run.result("no image")
        check(r.get("failed") and "is not a regular file" in r["msg"], "missing image: %r" % r)
        r = run.result("bad options")
        check(r.get("failed") and "macs or all" in r["msg"] and "one /24" in r["msg"] and "parallel" in r["msg"],
              "bad options: %r" % r)
        check(sim.writes_seen() == [], "check mode wrote")
        check(all(c["argv"][0] != "rollout" for c in cli_calls()), "a rollout ran")
        check(not run.result("there")["changed"], "module at the number: %r" % run.result("there"))
        check_calls_safe()
        rollout_contract(image)
    finally:
        sim.stop()
    help_text = subprocess.run([CLI, "rollout", "--help"], capture_output=True, text=True, timeout=30)
    check(help_text.returncode == 0 and "VARNIX_FACTORY_LOGIN" in help_text.stdout,
          "varnix-cli rollout --help: %r" % help_text)
    rollout_case(image)


FAKE_ROLLOUT = """#!/usr/bin/python3
# varnix-cli with a stand-in rollout command of the documented interface: it records how it was
# called and reports each module with the outcome in $FAKE_OUTCOME (exit 0 only when every one is
# done or skipped). Every other command goes to the recording wrapper.
import json, os, sys
args = sys.argv[1:]
if args[:1] != ["rollout"]:
    os.execv(%(wrapper)r, [%(wrapper)r] + args)
if "--help" in args:
    print("usage: varnix-cli rollout FILE (MAC...|--all) [--local ADDR] ... [--json]")
    print("The factory log-in comes from VARNIX_FACTORY_LOGIN.")
    sys.exit(0)
with open("/proc/%%d/comm" %% os.getppid()) as c:
    parent = c.read().strip()
with open(%(log)r, "a") as log:
    log.write(json.dumps({"argv": args, "parent": parent, "factory": os.environ.get("VARNIX_FACTORY_LOGIN"),
                          "password_env": "VARNIX_PASSWORD" in os.environ}) + "\\n")
outcome = os.environ.get("FAKE_OUTCOME", "done")
macs = [a for a in args[2:] if len(a.replace(" ", "")) == 12 and not a.startswith("-")]
print(json.dumps({"exit": 0 if outcome in ("done", "skipped") else 1, "modules": [
    {"mac": m, "outcome": outcome, "stage": "verified" if outcome == "done" else "upgrade",
     "firmwareBefore": 4017, "firmwareAfter": 4100 if outcome == "done" else 4017} for m in macs]}))
sys.exit(0 if outcome in ("done", "skipped") else 1)
"""


def rollout_contract(image):
    """vorz_firmware against the rollout interface as documented, through a stand-in rollout
    command (the real one runs in rollout_case once varnix-cli has it): what it is called with,
    the factory log-in in the environment only, and the outcomes mapped to changed and failed."""
    fake = os.path.join(WORK, "varnix-cli-rollout")
    log = os.path.join(WORK, "rollout.jsonl")
    with open(fake, "w") as f:
        f.write(FAKE_ROLLOUT % {"wrapper": WRAPPER, "log": log})
    os.chmod(fake, 0o755)
    args = {"cli": fake, "firmware": 4100, "image": image, "all": True, "canary": 1, "factory_login": "admin:f4ct"}
    run = Run(header() + task("upgrade", "vorz_firmware", args)
              + task("failing", "vorz_firmware", dict(args, keep_config=False), environment={"FAKE_OUTCOME": "failed"},
                     ignore_errors=True))
    r = run.result("upgrade")
    check(r["changed"] and {m["mac"]: m["outcome"] for m in r["modules"]} == {MAC_A: "done", MAC_B: "ok"},
          "upgrade %r" % r)
    check(r["modules"][0]["rollout"]["stage"] == "verified", "the rollout's report is not passed on: %r" % r)
    r = run.result("failing")
    check(r.get("failed") and r.get("changed") is False and MAC_A in r["msg"] and "failed" in r["msg"], "failing %r" % r)
    with open(log) as f:
        calls = [json.loads(line) for line in f]
    check([c["argv"] for c in calls] == [
        ["rollout", image, MAC_A, "--expect-firmware", "4100", "--local", PCS[0], "--canary", "1", "--keep-config", "--json"],
        ["rollout", image, MAC_A, "--expect-firmware", "4100", "--local", PCS[0], "--canary", "1", "--no-keep-config",
         "--json"]], "rollout calls %r" % [c["argv"] for c in calls])
    check(all(c["parent"] == "timeout" and c["factory"] == "admin:f4ct" and c["password_env"] for c in calls),
          "rollout environment %r" % calls)
    check("f4ct" not in run.out, "the factory log-in shows in the output")


def rollout_case(image):
    """The real upgrade, by the rollout command: two modules below the number, one at it. The
    simulator plays the upgrade's module side for every module at once (--upgrade-fleet, on its
    segment's interface) and brings them back with the new number (--upgrade-firmware)."""
    macs = [MAC_A, MAC_B]
    upgrade = ["--upgrade-fleet", "--upgrade-iface", SIM_IFACES[0], "--upgrade-firmware", "4100"]
    sim = Sim([z2(MAC_A, "10.9.0.50", "Line-1"), z2(MAC_B, "10.9.0.51", "Line-2"),
               z2(MAC_C, "10.9.0.52", "Line-3", firmware=4100)], extra=upgrade)
    try:
        before = sim.state()
        play = header() + task("upgrade", "vorz_firmware", {"firmware": 4100, "image": image, "all": True,
                                                            "command_timeout": 600})
        run = Run(play)
        r = run.result("upgrade")
        check(run.rc == 0 and r["changed"] and sorted(r["would_upgrade"]) == macs, "rollout %r" % r)
        check({m["mac"]: m["outcome"] for m in r["modules"]} == {MAC_A: "done", MAC_B: "done", MAC_C: "ok"}, "outcomes")
        after = sim.state()
        for mac in macs:
            check(after[mac]["firmware"] == 4100, "%s firmware %r" % (mac, after[mac]["firmware"]))
            check(after[mac]["port"] == before[mac]["port"] and after[mac]["name"] == before[mac]["name"],
                  "%s lost its configuration" % mac)
        again = Run(play)
        check(again.rc == 0 and not again.result("upgrade")["changed"], "second rollout run changed something")
        check_calls_safe()
    finally:
        sim.stop()


def show_example(output):
    """The example's output, for the README: written to $VARNIX_EXAMPLE_OUTPUT when that is set."""
    path = os.environ.get("VARNIX_EXAMPLE_OUTPUT")
    if path:
        with open(path, "a") as f:
            f.write(output)


def case_many_sites():
    """The README's "Many sites" example, as written: two segment hosts (both this machine, on two
    adapters, in an inventory of their own), a golden profile, the audit in check mode and the
    fix; then the same again, which changes nothing."""
    golden = z2("02 00 00 00 00 01", "192.168.0.10", "Golden")
    sims = [Sim([golden, z2("02 00 00 00 00 02", "192.168.0.11", "Cell-A2"),
                 z2("02 00 00 00 00 03", "192.168.0.12", "Cell-A3")], segment=0),
            Sim([z2("02 00 00 00 01 01", "192.168.1.11", "Cell-B1"), z3("02 00 00 00 01 02", "192.168.1.12", "Cell-B2")],
                segment=1)]
    try:
        site = os.path.join(WORK, "many_sites")
        subprocess.run(["cp", "-r", os.path.join(EXAMPLES, "many_sites"), site], check=True)
        os.makedirs(os.path.join(site, "files"))
        # The golden profile: the golden module gets the plant's settings, then is saved.
        cli_env = dict(os.environ, VARNIX_PASSWORD=PASSWORD)
        for args in (["set", golden["mac"], "BaudRate=38400", "RemotePort=7001", "HeartbeatInterval=45"],
                     ["profile", "save", golden["mac"], os.path.join(site, "files", "golden.json")]):
            p = subprocess.run([CLI, "--interface", PCS[0], "--home", CLI_HOME] + args, env=cli_env,
                               capture_output=True, text=True, timeout=60)
            check(p.returncode == 0, "%s: %s" % (args[0], p.stderr))
        # As the README says: the fields that differ per site come out of the golden profile.
        golden_path = os.path.join(site, "files", "golden.json")
        with open(golden_path) as f:
            profile = json.load(f)
        for name in ("GatewayIP", "SubnetMask", "Dns", "RemoteIP"):
            del profile["fields"][name]
        with open(golden_path, "w") as f:
            json.dump(profile, f, indent=4)
        before = dict(sims[0].state(), **sims[1].state())
        z3_before = sims[1].state()["02 00 00 00 01 02"]
        with open(os.path.join(site, "inventory-test.ini"), "w") as f:
            f.write("[segments]\n")
            for host, pc in (("plant1-hall-a", PCS[0]), ("plant2-cells", PCS[1])):
                f.write("%s ansible_connection=local ansible_python_interpreter=/usr/bin/python3 vorz_interface=%s "
                        "vorz_cli=%s vorz_home=%s vorz_profile_path=%s/%s/golden.json\n"
                        % (host, pc, WRAPPER, CLI_HOME, WORK, host))
        env = ansible_env({"ANSIBLE_STDOUT_CALLBACK": "default"})
        command = ["ansible-playbook", "-i", "inventory-test.ini", "-e", "@" + SECRETS, "site.yml", "--diff"]
        first = subprocess.run(command, cwd=site, capture_output=True, text=True, timeout=600, env=env)
        check(first.returncode == 0, "first run: %s %s" % (first.stdout[-3000:], first.stderr[-2000:]))
        check(PASSWORD not in first.stdout + first.stderr, "the password shows in the output: %s" % first.stdout)
        show_example(first.stdout)
        for s in sims:
            for mac, st in s.state().items():
                if st["family"] != "z2":
                    continue
                check(port_field(st, 0, 4) == 38400 and port_field(st, 14, 2) == 7001
                      and int.from_bytes(bytes.fromhex(st["heart"])[1:3], "little") == 45, "%s not fixed" % mac)
                check(st["name"] != "Golden" or mac == golden["mac"], "identity copied to %s" % mac)
                check(st["base"][:40] == before[mac]["base"][:40], "%s: addressing changed" % mac)
        check(sims[1].state()["02 00 00 00 01 02"] == z3_before, "the Z3 module was touched")
        again = subprocess.run(command, cwd=site, capture_output=True, text=True, timeout=600, env=env)
        check(again.returncode == 0, "second run: %s" % again.stdout[-3000:])
        recap = [line for line in again.stdout.splitlines() if "changed=" in line]
        check(len(recap) == 2 and all("changed=0" in line for line in recap), "second run: %r" % recap)
        show_example(again.stdout)
        check_calls_safe()
    finally:
        for s in sims:
            s.stop()


CASES = {name[5:]: fn for name, fn in sorted(globals().items()) if name.startswith("case_")}


def main():
    wanted = sys.argv[4]
    names = list(CASES) if wanted == "all" else wanted.split(",")
    failed = 0
    for name in names:
        t0 = time.monotonic()
        try:
            CASES[name]()
            print("ok   %s (%.1f s)" % (name, time.monotonic() - t0))
        except Fail as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
        finally:
            if os.path.exists(CALLS):
                os.unlink(CALLS)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
