#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: vorz_firmware
short_description: Bring VOR-Z modules to a firmware number, keeping their configuration
description:
  - Searches the segment and compares each module's firmware number with I(firmware). Modules
    already there are C(ok) and are not touched; the others are given the image I(image) by
    C(varnix-cli rollout), which reads and keeps each module's configuration, loads the image,
    waits for the module to come back with the new number, restores factory settings and writes
    the kept configuration back by fields, verifying every field.
  - The task is C(changed) when at least one module was upgraded, and fails when any module
    asked for did not end C(done) or C(skipped) (the rollout's exit status is not 0).
  - Check mode searches only and returns which modules would be upgraded; nothing is sent to
    the modules beyond the search, and the image is only checked to be a readable file.
  - Needs a varnix-cli with the C(rollout) command on the host that runs the task (check mode
    does not). The upgrade serves the image from ports 9, 67 and 69 of that host, which need
    root or the capability cap_net_bind_service (the C(varnix) package gives it).
version_added: 1.0.0
author: Varnix developers (@varnix)
extends_documentation_fragment:
  - varnix.vorz.cli
  - ansible.builtin.action_common_attributes
options:
  firmware:
    description:
      - The firmware number the modules are to have (C(--expect-firmware)).
    type: int
    required: true
  image:
    description:
      - The firmware image on the host that runs the task (a regular, readable file).
    type: path
    required: true
  macs:
    description:
      - The modules to bring to I(firmware); each must answer the search.
      - Mutually exclusive with I(all).
    type: list
    elements: str
  all:
    description:
      - Every module that answers the search.
      - Mutually exclusive with I(macs).
    type: bool
    default: false
  local:
    description:
      - The host's address on the modules' network that serves the image (C(--local)).
        Default I(interface) when that is given, else varnix-cli's choice.
    type: str
  parallel:
    description:
      - How many modules are upgraded side by side (C(--parallel), 1 to 256).
    type: int
  canary:
    description:
      - Upgrade this many modules first and go on only if all of them end verified
        (C(--canary)).
    type: int
  pool:
    description:
      - Addresses C(FIRST-LAST) in the local /24 lent to modules whose own address is outside
        it for the transfer (C(--pool)).
    type: str
  factory_login:
    description:
      - The factory log-in C(USER:PASS) the modules have after their factory reset, when it is
        not varnix-cli's default. Never logged, never on a command line; given to varnix-cli in
        the environment (C(VARNIX_FACTORY_LOGIN)). The task fails before any upgrade when the
        host's varnix-cli does not say it reads it.
    type: str
  keep_config:
    description:
      - Write each module's configuration back after the upgrade (C(--keep-config)); false leaves
        the modules with factory settings (C(--no-keep-config)).
    type: bool
    default: true
  command_timeout:
    description:
      - Seconds the rollout may take in all (and each search).
    type: int
    default: 3600
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: Which modules of the segment are not at 4100 yet
  varnix.vorz.vorz_firmware:
    firmware: 4100
    image: /srv/firmware/vorz2-4100.bin
    all: true
  check_mode: true
  register: plan

- name: Upgrade them, two canaries first
  varnix.vorz.vorz_firmware:
    firmware: 4100
    image: /srv/firmware/vorz2-4100.bin
    macs: "{{ plan.would_upgrade }}"
    canary: 2
    parallel: 10
    interface: 10.9.0.1
    password: "{{ vault_vorz_password }}"
'''

RETURN = r'''
modules:
  description:
    - One entry per module asked for. C(firmware_before) is the number the search reported.
    - C(outcome) is C(ok) (already at I(firmware)), C(would-upgrade) (check mode), or the
      rollout's outcome (C(done), C(skipped), C(failed), C(not-started)).
    - C(rollout) holds the rollout's own report of the module (stage reached, firmware numbers
      before and after, fields that could not be written back), as varnix-cli gives it.
  returned: always
  type: list
  elements: dict
  sample: [{"mac": "00 1A 2B 3C 4D 5E", "ip": "10.9.0.50", "name": "Line-1", "firmware_before": 4017,
            "outcome": "done", "rollout": {"mac": "00 1A 2B 3C 4D 5E", "outcome": "done"}}]
would_upgrade:
  description: The modules not at I(firmware) before the task (upgraded, or in check mode to be).
  returned: always
  type: list
  elements: str
  sample: ["00 1A 2B 3C 4D 5E"]
rollout:
  description: The whole JSON document of C(varnix-cli rollout), when it ran.
  returned: when the rollout ran
  type: dict
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varnix.vorz.plugins.module_utils.varnix_cli import (
    VarnixCli, cli_parameters, normalize_mac)

GOOD = ('done', 'skipped')
_IPV4_PARTS = 4


def is_ipv4(text):
    parts = text.split('.')
    return len(parts) == _IPV4_PARTS and all(p.isdigit() and len(p) <= 3 and int(p) <= 255 for p in parts)


def check_arguments(module):
    """Every option checked before anything is sent; returns the MACs asked for (or None: all)."""
    p = module.params
    problems = []
    if not 0 <= p['firmware'] <= 65535:
        problems.append('firmware must be 0 to 65535, not %d' % p['firmware'])
    image = p['image']
    if not os.path.isfile(image):
        problems.append('image %s is not a regular file on this host' % image)
    elif not os.access(image, os.R_OK):
        problems.append('image %s cannot be read' % image)
    elif os.path.getsize(image) <= 4:
        problems.append('image %s is too short to be a firmware image' % image)
    if p['all'] == (p['macs'] is not None):
        problems.append('give macs or all: true (one of them)')
    if p['parallel'] is not None and not 1 <= p['parallel'] <= 256:
        problems.append('parallel must be 1 to 256, not %d' % p['parallel'])
    if p['canary'] is not None and p['canary'] < 1:
        problems.append('canary must be at least 1, not %d' % p['canary'])
    if p['local'] is not None and not is_ipv4(p['local']):
        problems.append('local: %r is not an IPv4 address' % p['local'])
    if p['pool'] is not None:
        ends = p['pool'].split('-')
        if len(ends) != 2 or not all(is_ipv4(e) for e in ends):
            problems.append('pool: %r is not FIRST-LAST (two IPv4 addresses)' % p['pool'])
        elif ends[0].rsplit('.', 1)[0] != ends[1].rsplit('.', 1)[0] or \
                int(ends[0].rsplit('.', 1)[1]) > int(ends[1].rsplit('.', 1)[1]):
            problems.append('pool: %s to %s is not a range within one /24' % tuple(ends))
    if p['factory_login'] is not None and ':' not in p['factory_login']:
        problems.append('factory_login must be USER:PASS')
    if p['command_timeout'] < 1:
        problems.append('command_timeout must be at least 1 second')
    macs = None
    if p['macs'] is not None:
        macs = []
        for text in p['macs']:
            mac = normalize_mac(text)
            if mac is None:
                problems.append('macs: %r is not a MAC (twelve hex digits)' % text)
            elif mac not in macs:
                macs.append(mac)
        if not macs and not problems:
            problems.append('macs is empty')
    if problems:
        module.fail_json(msg='; '.join(problems))
    return macs


def rollout_args(p, macs):
    args = ['rollout', p['image']] + macs + ['--expect-firmware', str(p['firmware'])]
    local = p['local'] or p['interface']
    if local:
        args += ['--local', local]
    if p['parallel'] is not None:
        args += ['--parallel', str(p['parallel'])]
    if p['canary'] is not None:
        args += ['--canary', str(p['canary'])]
    if p['pool'] is not None:
        args += ['--pool', p['pool']]
    args.append('--keep-config' if p['keep_config'] else '--no-keep-config')
    return args


def main():
    parameters = cli_parameters()
    parameters.update(
        firmware=dict(type='int', required=True),
        image=dict(type='path', required=True),
        macs=dict(type='list', elements='str'),
        all=dict(type='bool', default=False),
        local=dict(type='str'),
        parallel=dict(type='int'),
        canary=dict(type='int'),
        pool=dict(type='str'),
        factory_login=dict(type='str', no_log=True),
        keep_config=dict(type='bool', default=True),
        command_timeout=dict(type='int', default=3600),
    )
    module = AnsibleModule(argument_spec=parameters, supports_check_mode=True)
    p = module.params
    macs = check_arguments(module)
    cli = VarnixCli(module)

    found = {}
    for m in cli.search()['modules']:
        found.setdefault(m['mac'], m)
    if macs is None:
        macs = list(found)
    missing = [mac for mac in macs if mac not in found]
    if missing:
        module.fail_json(msg='did not answer the search: %s' % ', '.join(missing))
    entries = []
    for mac in macs:
        m = found[mac]
        at = m['firmware'] == p['firmware']
        entries.append(dict(mac=mac, ip=m['ip'], name=m['name'], family=m['family'],
                            firmware_before=m['firmware'], outcome='ok' if at else 'would-upgrade'))
    upgrade = [e['mac'] for e in entries if e['outcome'] == 'would-upgrade']
    diff = dict(before=''.join('%s: %d\n' % (e['mac'], e['firmware_before']) for e in entries),
                after=''.join('%s: %d\n' % (e['mac'], p['firmware']) for e in entries))
    if not upgrade or module.check_mode:
        module.exit_json(changed=bool(upgrade), modules=entries, would_upgrade=upgrade, diff=diff)

    if not cli.has_command('rollout'):
        module.fail_json(msg='the varnix-cli on this host (%s) has no rollout command; install a version '
                             'that has it' % cli.cli, modules=entries, would_upgrade=upgrade)
    env = {}
    if p['factory_login'] is not None:
        help_text = cli.run(['rollout', '--help'], json_out=False, command_timeout=30, lan_options=False)
        if 'VARNIX_FACTORY_LOGIN' not in help_text.stdout + help_text.stderr:
            module.fail_json(msg='factory_login: the varnix-cli on this host does not read VARNIX_FACTORY_LOGIN, '
                                 'and the log-in is never put on a command line; nothing was sent')
        env['VARNIX_FACTORY_LOGIN'] = p['factory_login']
    r = cli.run(rollout_args(p, upgrade), env=env, lan_options=False)
    if r.doc is None:
        cli.fail(r, 'rollout', modules=entries, would_upgrade=upgrade)
    reports = dict((normalize_mac(m.get('mac', '')), m) for m in r.doc.get('modules', []))
    failures = []
    for e in entries:
        if e['outcome'] != 'would-upgrade':
            continue
        report = reports.get(e['mac'])
        e['outcome'] = report.get('outcome', 'unknown') if report else 'not-reported'
        e['rollout'] = report
        if e['outcome'] not in GOOD:
            failures.append('%s: %s' % (e['mac'], e['outcome']))
    changed = any(e['outcome'] == 'done' for e in entries)
    if r.rc != 0 or failures:
        module.fail_json(msg=r.message('rollout') + ('; ' + '; '.join(failures) if failures else ''),
                         changed=changed, modules=entries, would_upgrade=upgrade, rollout=r.doc)
    module.exit_json(changed=changed, modules=entries, would_upgrade=upgrade, rollout=r.doc, diff=diff)


if __name__ == '__main__':
    main()
