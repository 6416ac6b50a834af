# -*- coding: utf-8 -*-
# Shared by the varnix.vorz modules: runs varnix-cli --json on the host the task runs on (the
# segment host), with the log-in in the environment and a time limit on every call, and turns its
# exit statuses and messages into clear task results.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import re
import stat
import threading

# Fields whose values are secrets: never returned, never shown in a diff, never on a command line.
SECRET_FIELDS = ('Password', 'CommPassword')
MASK = '********'
# Fields that name one module rather than configure it (the cli's profile apply and audit keep
# them, too).
IDENTITY_FIELDS = ('StaticIP', 'ModName', 'UserMAC', 'DeviceNo')

# What varnix-cli's exit statuses mean (tools/cli/README.md), for the task's message.
EXIT_MEANINGS = {
    1: 'a module did not answer the search or the read, did not acknowledge, or was not verified',
    2: 'varnix-cli refused the request before sending anything (usage, field or value)',
    3: 'a module refused the log-in: user name or password wrong',
    4: 'a module reported a checksum error or another error',
    5: 'this host could not use a port (no permission, or in use)',
    124: 'varnix-cli did not finish within command_timeout and was stopped',
    125: 'the time limit (timeout) could not be started',
    126: 'varnix-cli is not executable',
    127: 'varnix-cli was not found',
}

# How many varnix-cli reads run side by side: each is a process with its own ports, and a read is
# mostly waiting for a quiet spell, so a few at once save most of the time without crowding the
# host.
READ_WORKERS = 8

_MAC_SEPARATORS = re.compile(r'[\s:.\-]')


def cli_parameters():
    """Options every module of the collection takes (documented in the varnix.vorz.cli fragment)."""
    return dict(
        cli=dict(type='str', default='varnix-cli'),
        interface=dict(type='str'),
        broadcast=dict(type='str'),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        password_file=dict(type='path', no_log=False),
        timeout=dict(type='float', default=2.0),
        command_timeout=dict(type='int', default=120),
        home=dict(type='path'),
    )


def normalize_mac(text):
    """Twelve hex digits with or without ' ', ':' or '-' -> '00 1A 2B 3C 4D 5E' (the cli's form),
    or None."""
    if not isinstance(text, str):
        return None
    digits = _MAC_SEPARATORS.sub('', text)
    if not re.match(r'^[0-9A-Fa-f]{12}$', digits):
        return None
    digits = digits.upper()
    return ' '.join(digits[i:i + 2] for i in range(0, 12, 2))


def mask_fields(fields):
    """A copy of a field dict with the secret fields masked."""
    if not isinstance(fields, dict):
        return fields
    out = dict(fields)
    for name in SECRET_FIELDS:
        if out.get(name) not in (None, ''):
            out[name] = MASK
    return out


def mask_value(field, value):
    if field in SECRET_FIELDS and value not in (None, ''):
        return MASK
    return value


def read_password_file(path):
    """The first line of a password file that only its owner may read. Returns (password, error)."""
    try:
        st = os.stat(path)
    except OSError as e:
        return None, 'password_file %s: %s' % (path, e.strerror)
    if not stat.S_ISREG(st.st_mode):
        return None, 'password_file %s is not a regular file' % path
    if st.st_mode & 0o077:
        return None, ('password_file %s can be read or written by others (mode %04o); '
                      'make it readable by its owner only (chmod 600)' % (path, stat.S_IMODE(st.st_mode)))
    try:
        with open(path, 'rb') as f:
            first = f.read(4096).split(b'\n', 1)[0].rstrip(b'\r')
    except OSError as e:
        return None, 'password_file %s: %s' % (path, e.strerror)
    if not first:
        return None, 'password_file %s is empty' % path
    return first.decode('utf-8', 'surrogateescape'), None


class CliResult(object):
    """One varnix-cli call: its exit status, its JSON document (or None) and its stderr."""

    def __init__(self, args, rc, doc, stdout, stderr):
        self.args = args
        self.rc = rc
        self.doc = doc
        self.stdout = stdout
        self.stderr = stderr

    def problems(self):
        """The cli's stderr lines (what went wrong, in its words)."""
        return [line for line in self.stderr.splitlines() if line.strip()]

    def message(self, what):
        meaning = EXIT_MEANINGS.get(self.rc, 'exit status %d' % self.rc)
        text = '%s: %s (varnix-cli exit %d)' % (what, meaning, self.rc)
        problems = self.problems()
        if problems:
            text += ': ' + '; '.join(problems)
        return text


class VarnixCli(object):
    """Runs varnix-cli for one task. The password goes to the cli in VARNIX_PASSWORD, never on its
    command line; every call runs under timeout(1) so a hung call ends the task instead of
    blocking the play."""

    def __init__(self, module):
        self.module = module
        p = module.params
        self.env = {}
        if p['password'] is not None and p['password_file'] is not None:
            module.fail_json(msg='give password or password_file, not both')
        password = p['password']
        if p['password_file'] is not None:
            password, error = read_password_file(p['password_file'])
            if error:
                module.fail_json(msg=error)
        if password is not None:
            if password == '':
                module.fail_json(msg='password is empty')
            module.no_log_values.add(password)
            self.env['VARNIX_PASSWORD'] = password
        if p['user'] is not None:
            self.env['VARNIX_USER'] = p['user']
        if not 0 < p['timeout'] <= 3600:
            module.fail_json(msg='timeout must be more than 0 and at most 3600 seconds, not %s' % p['timeout'])
        if p['command_timeout'] < 1:
            module.fail_json(msg='command_timeout must be at least 1 second, not %s' % p['command_timeout'])
        self.command_timeout = p['command_timeout']
        self.cli = self._find_cli(p['cli'])
        self.timeout_bin = module.get_bin_path('timeout', required=True)
        self.global_args = ['--timeout', '%g' % p['timeout']]
        for option in ('interface', 'broadcast', 'home'):
            if p[option]:
                self.global_args += ['--' + option, p[option]]
        self._catalogue = None
        self._lock = threading.Lock()

    def _find_cli(self, cli):
        if '/' in cli:
            if not (os.path.isfile(cli) and os.access(cli, os.X_OK)):
                self.module.fail_json(msg='cli: %s is not an executable file on this host' % cli)
            return cli
        path = self.module.get_bin_path(cli)
        if not path:
            self.module.fail_json(msg='cli: %s was not found on this host (install the varnix package, '
                                      'or give its path)' % cli)
        return path

    def run(self, args, json_out=True, command_timeout=None, env=None, lan_options=True):
        """Runs varnix-cli ARGS [--json] and, with lan_options, the task's --timeout, --interface,
        --broadcast and --home; returns a CliResult."""
        limit = command_timeout or self.command_timeout
        argv = [self.cli] + list(args) + (self.global_args if lan_options else []) + (['--json'] if json_out else [])
        environ = dict(self.env)
        environ.update(env or {})
        rc, out, err = self.module.run_command(
            [self.timeout_bin, '--kill-after=5', str(limit)] + argv,
            environ_update=environ, expand_user_and_vars=False)
        doc = None
        if json_out and out.strip():
            try:
                doc = json.loads(out)
            except ValueError:
                doc = None
        if rc == 124:
            err = ('no result within %d s (command_timeout)\n' % limit) + err
        elif json_out and doc is None and rc not in (124, 125, 126, 127):
            err = err + '\nvarnix-cli printed no JSON document: %r' % out[:200]
        return CliResult(argv[1:], rc, doc, out, err)

    def fail(self, result, what, **extra):
        self.module.fail_json(msg=result.message(what), rc=result.rc, **extra)

    def search(self, checks=False):
        """Every module that answers: the search document. An empty search is not an error here
        (exit 1 with "no module answered" is turned into an empty list with its causes)."""
        r = self.run(['search'] + (['--check'] if checks else []))
        if r.doc is None or r.rc not in (0, 1):
            self.fail(r, 'search')
        if r.rc == 1 and r.doc.get('modules'):
            self.fail(r, 'search')
        return r.doc

    def read(self, mac):
        return self.run(['read', mac])

    def read_many(self, macs):
        """Reads the modules side by side (a few varnix-cli processes at once); mac -> CliResult."""
        results = {}
        pending = list(macs)

        def worker():
            while True:
                with self._lock:
                    if not pending:
                        return
                    mac = pending.pop(0)
                r = self.read(mac)
                with self._lock:
                    results[mac] = r

        threads = [threading.Thread(target=worker) for dummy in range(min(READ_WORKERS, len(pending)))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return results

    def read_or_fail(self, macs):
        """Reads every module; fails the task naming each module that could not be read."""
        results = self.read_many(macs)
        failed = [(mac, r) for mac, r in results.items() if r.rc != 0 or r.doc is None]
        if failed:
            worst = max(r.rc for mac, r in failed)
            self.module.fail_json(
                msg='could not read %d module(s): %s' % (
                    len(failed), ' | '.join(r.message(mac) for mac, r in sorted(failed))),
                rc=worst)
        return dict((mac, r.doc) for mac, r in results.items())

    def catalogue(self):
        """varnix-cli fields: name -> field description (no network)."""
        if self._catalogue is None:
            r = self.run(['fields'])
            if r.rc != 0 or r.doc is None:
                self.fail(r, 'fields')
            self._catalogue = dict((f['name'], f) for f in r.doc['fields'])
        return self._catalogue

    def has_command(self, name):
        """True when this varnix-cli knows the sub-command NAME: its help for it names it (a cli
        without it prints only its general help, which lists no such command)."""
        r = self.run([name, '--help'], json_out=False, command_timeout=30, lan_options=False)
        # The general help starts with the program's own path, which may contain any word.
        text = (r.stdout + r.stderr).replace(self.cli, '')
        return r.rc == 0 and re.search(r'(^|\s)%s(\s|$)' % re.escape(name), text) is not None
