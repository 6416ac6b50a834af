#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: vorz_config
short_description: Give VOR-Z modules the configuration they should have
description:
  - A resource module for the configuration of VOR-Z modules. It reads every module first, writes
    only the fields whose values differ, and reads each saved module back (it is C(verified) only
    when every field of the blocks it sent holds the value written). A module whose fields all
    hold already is left alone, so the same task run again reports C(changed=false).
  - The desired configuration comes in one of four forms, one per task. I(mac) with I(config) gives
    the fields of one module; I(modules) a list of modules, each with its own fields; I(profile)
    with I(macs) a varnix-cli profile (C(varnix-cli profile save)) applied to each module, each
    keeping its identity; I(sheet) a CSV sheet as C(varnix-cli provision) takes it.
  - Field names are those of C(varnix-cli fields) (case-insensitive); enumerations take the
    number or the item text (C(WorkMode=TCP Server)), switches true/false, 1/0, yes/no.
  - Check mode reads the modules and returns the differences, in the modules' own field names,
    and writes nothing. Diff mode shows, per module, each field that differs, old and new.
  - Every value is checked (field known, written by the module's save, sent in its read, in range)
    before the first datagram is sent; a refusal writes nothing to any module.
version_added: 1.0.0
author: Varnix developers (@varnix)
extends_documentation_fragment:
  - varnix.vorz.cli
  - ansible.builtin.action_common_attributes
options:
  state:
    description:
      - C(merged) writes the given fields; every other field stays as the module has it.
      - C(replaced) writes the given fields as the module's whole configuration. Every field the
        module holds and its save writes must be given, except the identity (StaticIP, ModName,
        UserMAC, DeviceNo) and the log-in (UserName, Password); a field left out fails the task
        before anything is written, naming it. Not with I(sheet), whose empty cells leave fields
        as they are.
      - C(gathered) reads the modules of I(mac) or I(macs) and returns their fields in
        I(gathered); nothing is written.
      - C(rendered) checks the field names of I(config) or I(modules) and returns the fields per
        module in I(rendered) without contacting any module.
    type: str
    choices: [merged, replaced, gathered, rendered]
    default: merged
  mac:
    description:
      - The module of I(config), or with C(state=gathered) the module to read. Twelve hex digits
        with or without C(:), C(-) or spaces.
    type: str
  config:
    description:
      - The desired fields of the module I(mac), as a dictionary of field names and values.
      - The secret fields C(Password) and C(CommPassword) are refused here; give them with
        I(new_password) and I(comm_password), which are never logged.
    type: dict
  modules:
    description:
      - Many modules, each with its own desired fields. Modules that get the same fields are
        saved side by side in one varnix-cli run.
    type: list
    elements: dict
    suboptions:
      mac:
        description: The module.
        type: str
        required: true
      config:
        description: Its desired fields, as for I(config).
        type: dict
        required: true
  profile:
    description:
      - A varnix-cli profile on the host that runs the task, applied to each module of I(macs).
      - Each module keeps its identity (StaticIP, ModName, UserMAC) and its cloud device number
        (DeviceNo, which names one module to the cloud service) unless I(with_identity) is set.
      - Fields the module does not have or its family does not write are left out, and listed in
        the module's C(notes).
    type: path
  macs:
    description:
      - The modules I(profile) is applied to, or (with C(state=gathered)) the modules to read.
    type: list
    elements: str
  sheet:
    description:
      - A CSV sheet on the host that runs the task, one module per row, keyed by a C(MAC) column;
        each non-empty cell is that module's new value (see C(varnix-cli provision)).
    type: path
  with_identity:
    description:
      - With I(profile), also write the profile's StaticIP, ModName, UserMAC and DeviceNo.
    type: bool
    default: false
  new_password:
    description:
      - With I(config) or I(modules), the log-in password every module of the task is to have
        (field C(Password)). Never logged; the read-back after the save logs in with it.
    type: str
  comm_password:
    description:
      - With I(config) or I(modules), the cloud communication password every module of the task
        is to have (field C(CommPassword), Z2 only). Never logged.
    type: str
  verify_timeout:
    description:
      - Seconds a saved module has to come back from its restart and read back as written.
    type: float
    default: 15
  parallel:
    description:
      - How many modules varnix-cli reads, saves and verifies side by side (1 to 256).
    type: int
    default: 100
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: One module, three fields
  varnix.vorz.vorz_config:
    mac: 00:1A:2B:3C:4D:5E
    config:
      ModName: Press-7
      WorkMode: TCP Client
      RemotePort: 9000
    password: "{{ vault_vorz_password }}"

- name: Several modules, each its own address
  varnix.vorz.vorz_config:
    modules:
      - mac: 02:00:00:00:00:01
        config: {StaticIP: 10.9.0.101, GatewayIP: 10.9.0.1}
      - mac: 02:00:00:00:00:02
        config: {StaticIP: 10.9.0.102, GatewayIP: 10.9.0.1}

- name: Audit against the golden profile (check mode shows the differences)
  varnix.vorz.vorz_config:
    profile: /etc/varnix/golden.json
    macs: "{{ segment.modules | map(attribute='mac') | list }}"
  check_mode: true
  diff: true
  register: audit

- name: Change the log-in of every module of the list
  varnix.vorz.vorz_config:
    modules: "{{ presses }}"
    new_password: "{{ vault_new_vorz_password }}"
    password: "{{ vault_vorz_password }}"

- name: Read two modules
  varnix.vorz.vorz_config:
    state: gathered
    macs: [00:1A:2B:3C:4D:5E, 00:1A:2B:3C:4D:5F]
  register: now
'''

RETURN = r'''
before:
  description: Every field of each module as read before the task, by MAC (secrets masked).
  returned: with state merged or replaced
  type: dict
  sample: {"00 1A 2B 3C 4D 5E": {"ModName": "Line-1", "WorkMode": 3, "RemotePort": 8234}}
after:
  description:
    - Every field of each module after the task (in check mode, what it would be), by MAC.
    - Fields the save's rules change with the given ones (side effects) are included.
  returned: with state merged or replaced
  type: dict
  sample: {"00 1A 2B 3C 4D 5E": {"ModName": "Press-7", "WorkMode": 1, "RemotePort": 9000}}
changes:
  description:
    - The writes made (in check mode, that would be made), one entry per field; C(side_effect)
      marks a field the save's rules changed along with a given one.
  returned: with state merged or replaced
  type: list
  elements: dict
  sample: [{"mac": "00 1A 2B 3C 4D 5E", "field": "WorkMode", "old": 3, "new": 1, "side_effect": false}]
modules:
  description:
    - One entry per module, as varnix-cli reported its save.
    - C(outcome) is C(verified) (saved and read back), C(unchanged) (nothing to write),
      C(dry-run) (check mode), or what went wrong (C(unverified), C(not-found), C(no-answer),
      C(password), C(error), C(refused)).
    - C(acks) lists each datagram written and its acknowledgement, C(skipped) the blocks the
      save did not write and why, C(notes) the fields left out, C(verify) the read-back.
  returned: with state merged or replaced
  type: list
  elements: dict
  sample: [{"mac": "00 1A 2B 3C 4D 5E", "outcome": "verified", "acks": [{"code": 5, "result": "K"}]}]
gathered:
  description: With C(state=gathered), every field of each module read, by MAC (secrets masked).
  returned: with state gathered
  type: dict
rendered:
  description: With C(state=rendered), the checked fields per module, by MAC (secrets masked).
  returned: with state rendered
  type: dict
'''

import json
import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varnix.vorz.plugins.module_utils.varnix_cli import (
    MASK, SECRET_FIELDS, VarnixCli, cli_parameters, mask_fields, mask_value, normalize_mac)
from ansible_collections.varnix.vorz.plugins.module_utils.fieldset import (
    canonical_fields, diff_entry, group_by_fields, missing_for_replace, profile_document,
    unwritable_fields)

# Largest profile this module reads (varnix-cli's own limit for sheets and profiles).
MAX_FILE_BYTES = 4 * 1024 * 1024


def parse_mac(module, text, where):
    mac = normalize_mac(text)
    if mac is None:
        module.fail_json(msg='%s: %r is not a MAC (twelve hex digits)' % (where, text))
    return mac


def parse_macs(module, texts, where):
    """The MACs of a list, each once (an empty list is a task with nothing to do)."""
    macs = []
    for text in texts:
        mac = parse_mac(module, text, where)
        if mac not in macs:
            macs.append(mac)
    return macs


def desired_from_options(module, catalogue):
    """[(mac, fields)] of the config or modules form, with the secrets of their own options."""
    p = module.params
    if p['config'] is not None:
        entries = [(p['mac'], p['config'], 'config')]
    else:
        entries = [(m['mac'], m['config'], 'modules[%d]' % i) for i, m in enumerate(p['modules'])]
    desired, errors, seen = [], [], set()
    for text, config, where in entries:
        mac = parse_mac(module, text, where + '.mac' if where != 'config' else 'mac')
        if mac in seen:
            errors.append('%s: module %s is listed twice' % (where, mac))
            continue
        seen.add(mac)
        fields, problems = canonical_fields(config, catalogue, where)
        errors += problems
        if p['new_password'] is not None:
            fields['Password'] = p['new_password']
        if p['comm_password'] is not None:
            fields['CommPassword'] = p['comm_password']
        if not fields and not problems:
            errors.append('%s: no field given' % where)
        desired.append((mac, fields))
    if errors:
        module.fail_json(msg='; '.join(errors))
    return desired


def load_profile(module, path):
    """The fields of a varnix-cli profile file (varnix-cli checks them again when it applies it)."""
    try:
        if not os.path.isfile(path):
            module.fail_json(msg='profile %s is not a regular file' % path)
        if os.path.getsize(path) > MAX_FILE_BYTES:
            module.fail_json(msg='profile %s is larger than 4 MiB' % path)
        with open(path, 'rb') as f:
            doc = json.loads(f.read().decode('utf-8'))
    except (OSError, ValueError) as e:
        module.fail_json(msg='profile %s cannot be read: %s' % (path, e))
    if not isinstance(doc, dict) or doc.get('format') != 'varnix-profile' or not isinstance(doc.get('fields'), dict):
        module.fail_json(msg='profile %s is not a varnix-cli profile (no "format": "varnix-profile" '
                             'with "fields")' % path)
    return doc


def write_private(module, name, text):
    """A file only this user can read, in the task's own temporary directory."""
    path = os.path.join(module.tmpdir, name)
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, 'w') as f:
        f.write(text)
    return path


class ConfigTask(object):
    def __init__(self, module):
        self.module = module
        self.p = module.params
        self.cli = VarnixCli(module)
        self.catalogue = self.cli.catalogue()
        self.check = module.check_mode
        self._profile = None

    def profile(self):
        if self._profile is None:
            self._profile = load_profile(self.module, self.p['profile'])
        return self._profile

    # --- the runs of varnix-cli that save (or, in check mode, plan) ---

    def save_args(self, dry_run):
        args = ['--verify-timeout', '%g' % self.p['verify_timeout'], '--parallel', str(self.p['parallel'])]
        return args + (['--dry-run'] if dry_run else [])

    def jobs(self, desired, macs):
        """[(what, varnix-cli arguments)] that give the modules their desired fields."""
        if self.p['sheet']:
            return [('provision', ['provision', self.p['sheet']])]
        if self.p['profile']:
            doc = dict(self.profile())
            fields = dict(doc['fields'])
            if not self.p['with_identity']:
                # The cloud device number names one module, like its address: a profile's number
                # is another module's, so it stays (varnix-cli's audit leaves it out, too).
                fields.pop('DeviceNo', None)
            doc['fields'] = fields
            path = write_private(self.module, 'profile.json', json.dumps(doc))
            identity = ['--with-identity'] if self.p['with_identity'] else []
            return [('profile apply', ['profile', 'apply', path] + macs + identity)]
        jobs = []
        for n, (fields, group) in enumerate(group_by_fields(desired)):
            path = write_private(self.module, 'desired-%d.json' % n, profile_document(fields))
            jobs.append(('profile apply', ['profile', 'apply', path] + group + ['--with-identity']))
        return jobs

    # --- state handlers ---

    def rendered(self):
        if self.p['config'] is None and self.p['modules'] is None:
            self.module.fail_json(msg='state=rendered renders config or modules')
        desired = desired_from_options(self.module, self.catalogue)
        self.module.exit_json(changed=False, rendered=dict((mac, mask_fields(f)) for mac, f in desired))

    def gathered(self):
        if self.p['mac'] is None and self.p['macs'] is None:
            self.module.fail_json(msg='state=gathered reads the modules of mac or macs')
        macs = parse_macs(self.module, [self.p['mac']] if self.p['mac'] else self.p['macs'], 'macs')
        docs = self.cli.read_or_fail(macs)
        self.module.exit_json(changed=False, gathered=dict((mac, mask_fields(d['fields'])) for mac, d in docs.items()))

    def targets(self):
        """The modules of the task and, for config and modules, their desired fields."""
        if self.p['config'] is not None or self.p['modules'] is not None:
            desired = desired_from_options(self.module, self.catalogue)
            return [mac for mac, dummy in desired], desired
        if self.p['profile']:
            if self.p['macs'] is None:
                self.module.fail_json(msg='profile needs macs: the modules to apply it to')
            return parse_macs(self.module, self.p['macs'], 'macs'), None
        # A sheet names its modules; varnix-cli's dry run reads them as it will read them to save.
        r = self.cli.run(['provision', self.p['sheet'], '--dry-run'])
        if r.rc != 0 or r.doc is None:
            self.cli.fail(r, 'sheet %s' % self.p['sheet'])
        return [m['mac'] for m in r.doc['modules']], None

    def check_writable(self, desired, before):
        """Config and modules: every given field must reach the module, or nothing is written."""
        problems = []
        for mac, fields in desired:
            problems += ['%s: %s' % (mac, why) for why in unwritable_fields(fields, before[mac], self.catalogue)]
        if problems:
            self.module.fail_json(msg='nothing was written: ' + '; '.join(problems))

    def check_complete(self, desired, macs, before):
        """state=replaced: the given fields must be the module's whole configuration."""
        if desired is None:
            fields = self.profile()['fields']
            desired = [(mac, fields) for mac in macs]
        problems = []
        for mac, fields in desired:
            missing = missing_for_replace(fields, before[mac], self.catalogue)
            if missing:
                problems.append('%s lacks %s' % (mac, ', '.join(missing)))
        if problems:
            self.module.fail_json(
                msg='state=replaced needs every field the module holds and its save writes (its identity '
                    'and log-in aside); nothing was written: ' + '; '.join(problems))

    def secrets(self, desired, before_docs):
        """Every secret value in play (given, in the profile, or the modules' own): varnix-cli's
        notes and reasons may quote a value, so these are masked in them."""
        values = set()
        sources = [fields for dummy, fields in desired or []]
        sources += [d.get('fields', {}) for d in before_docs.values()]
        if self.p['profile']:
            sources.append(self.profile()['fields'])
        for fields in sources:
            for name in SECRET_FIELDS:
                if isinstance(fields.get(name), str) and fields[name]:
                    values.add(fields[name])
        return values

    def apply(self):
        if self.p['sheet'] and self.p['state'] == 'replaced':
            self.module.fail_json(msg="state=replaced cannot take a sheet: a sheet's empty cells leave fields "
                                      "as they are; give config, modules or profile")
        macs, desired = self.targets()
        if not macs:
            self.module.exit_json(changed=False, before={}, after={}, changes=[], modules=[], diff=[])
        before_docs = self.cli.read_or_fail(macs)
        if desired is not None:
            self.check_writable(desired, before_docs)
        if self.p['state'] == 'replaced':
            self.check_complete(desired, macs, before_docs)
        jobs = self.jobs(desired, macs)
        # Each given field must be written as given: a note of varnix-cli's on one of them (it
        # leaves out what a module's save would not deliver) fails the module.
        required = dict((mac, set(fields)) for mac, fields in desired) if desired is not None else {}
        secrets = self.secrets(desired, before_docs)
        if (desired is not None or len(jobs) > 1) and not self.check:
            # varnix-cli checks every value of one run before its first write; the fields given
            # and the runs of several groups are planned first as well, so a refusal anywhere
            # writes nothing to any module.
            planned = Outcome(self.catalogue, before_docs, True, required, secrets)
            for what, args in jobs:
                planned.add(what, self.cli.run(args + self.save_args(dry_run=True)))
            if planned.failures:
                self.module.fail_json(msg='nothing was written: ' + '; '.join(planned.failures))
        outcome = Outcome(self.catalogue, before_docs, self.check, required, secrets)
        for what, args in jobs:
            outcome.add(what, self.cli.run(args + self.save_args(dry_run=self.check)))
            if outcome.failures:
                break
        result = outcome.result()
        if outcome.failures:
            self.module.fail_json(msg='; '.join(outcome.failures), **result)
        self.module.exit_json(**result)


class Outcome(object):
    """What the save runs did, per module, in the shape the task returns."""

    GOOD = ('verified', 'unchanged')

    def __init__(self, catalogue, before_docs, check, required, secrets):
        self.catalogue = catalogue
        self.before_docs = before_docs
        self.check = check
        self.required = required
        self.secrets = sorted(secrets, key=len, reverse=True)
        self.modules = []
        self.changes = []
        self.diff = []
        self.failures = []

    def add(self, what, r):
        if r.doc is None or 'modules' not in r.doc:
            self.failures.append(self.scrub(r.message(what)))
            return
        if r.rc != 0 and not any(m.get('exit') for m in r.doc['modules']):
            self.failures.append(self.scrub(r.message(what)))
        for m in r.doc['modules']:
            self.add_module(m)

    def add_module(self, m):
        mac = m['mac']
        changes = [dict(c, side_effect=False) for c in m.get('changes', [])]
        changes += [dict(c, side_effect=True) for c in m.get('sideEffects', [])]
        # The planned datagrams carry the log-in; they are left out.
        entry = dict((k, v) for k, v in m.items() if k not in ('datagrams', 'changes', 'sideEffects'))
        entry['changes'] = [self.masked(c) for c in changes]
        entry['notes'] = [self.scrub(n) for n in m.get('notes', [])]
        if 'detail' in entry:
            entry['detail'] = self.scrub(entry['detail'])
        if isinstance(entry.get('verify'), dict):
            verify = dict(entry['verify'])
            if 'reason' in verify:
                verify['reason'] = self.scrub(verify['reason'])
            verify['mismatches'] = [
                dict(x, sent=mask_value(x.get('field'), x.get('sent')), read=mask_value(x.get('field'), x.get('read')))
                for x in verify.get('mismatches', [])]
            entry['verify'] = verify
        self.modules.append(entry)
        left_out = [n for n in entry['notes'] if n.split(':', 1)[0] in self.required.get(mac, ())]
        if left_out:
            self.failures.append('%s: not written as given: %s' % (mac, '; '.join(left_out)))
        elif self.check and m.get('outcome') == 'dry-run' or m.get('outcome') in self.GOOD:
            self.changes += [dict(self.masked(c), mac=mac) for c in changes]
            if changes:
                self.diff.append(diff_entry(self.catalogue, mac, m.get('module', {}), changes))
        else:
            self.failures.append('%s: %s%s' % (mac, m.get('outcome', 'failed'),
                                               ': ' + entry['detail'] if entry.get('detail') else ''))

    def scrub(self, text):
        for secret in self.secrets:
            text = text.replace(secret, MASK)
        return text

    @staticmethod
    def masked(change):
        return dict(change, old=mask_value(change['field'], change['old']),
                    new=mask_value(change['field'], change['new']))

    def result(self):
        before = dict((mac, mask_fields(d['fields'])) for mac, d in self.before_docs.items())
        after = dict((mac, dict(fields)) for mac, fields in before.items())
        for c in self.changes:
            after.setdefault(c['mac'], {})[c['field']] = c['new']
        return dict(changed=bool(self.changes), before=before, after=after, changes=self.changes,
                    modules=self.modules, diff=self.diff)


def main():
    parameters = cli_parameters()
    parameters.update(
        state=dict(type='str', default='merged', choices=['merged', 'replaced', 'gathered', 'rendered']),
        mac=dict(type='str'),
        config=dict(type='dict'),
        modules=dict(type='list', elements='dict', options=dict(
            mac=dict(type='str', required=True),
            config=dict(type='dict', required=True))),
        profile=dict(type='path'),
        macs=dict(type='list', elements='str'),
        sheet=dict(type='path'),
        with_identity=dict(type='bool', default=False),
        new_password=dict(type='str', no_log=True),
        comm_password=dict(type='str', no_log=True),
        verify_timeout=dict(type='float', default=15),
        parallel=dict(type='int', default=100),
    )
    module = AnsibleModule(
        argument_spec=parameters,
        supports_check_mode=True,
        mutually_exclusive=[('config', 'modules', 'profile', 'sheet'), ('mac', 'macs'), ('mac', 'modules'),
                            ('macs', 'modules'), ('macs', 'sheet')],
        required_by=dict(config=('mac',)),
    )
    p = module.params
    if not 1 <= p['parallel'] <= 256:
        module.fail_json(msg='parallel must be 1 to 256, not %d' % p['parallel'])
    if not 0 <= p['verify_timeout'] <= 3600:
        module.fail_json(msg='verify_timeout must be 0 to 3600 seconds, not %s' % p['verify_timeout'])
    if (p['new_password'] is not None or p['comm_password'] is not None) and p['config'] is None and p['modules'] is None:
        module.fail_json(msg='new_password and comm_password go with config or modules')
    task = ConfigTask(module)
    if p['state'] == 'rendered':
        task.rendered()
    if p['state'] == 'gathered':
        task.gathered()
    if p['config'] is None and p['modules'] is None and not p['profile'] and not p['sheet']:
        module.fail_json(msg='state=%s needs the desired configuration: mac with config, modules, '
                             'profile with macs, or sheet' % p['state'])
    task.apply()


if __name__ == '__main__':
    main()
