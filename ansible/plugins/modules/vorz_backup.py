#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: vorz_backup
short_description: Snapshot the configuration of VOR-Z modules into a JSON file
description:
  - Reads every module of the segment (or of I(macs)) and writes their fields, per module, into
    the JSON file I(dest) on the host that runs the task.
  - The file holds the modules' log-in and cloud passwords, so it is written with mode 0600
    (readable by its owner only), to a temporary file in the same directory first and then
    renamed over I(dest), so an interrupted run never leaves half a file.
  - The file is replaced only when a module's fields, the set of modules or the file's mode
    differ from what it holds; then C(changed) is true. Run again with nothing changed on the
    modules, the task reports C(changed=false) and leaves the file (and its C(taken) time) alone.
  - "File layout: C({\"format\": \"varnix-backup\", \"version\": 1, \"taken\": TIME,
    \"modules\": {MAC: {\"module\": {\"family\", \"firmware\", \"ip\", \"name\"}, \"replies\": {...},
    \"fields\": {FIELD: VALUE}}}}), the fields as C(varnix-cli read --json) gives them."
  - Modules of incompatible firmware cannot be read; they are listed in I(not_read).
version_added: 1.0.0
author: Varnix developers (@varnix)
extends_documentation_fragment:
  - varnix.vorz.cli
  - ansible.builtin.action_common_attributes
options:
  dest:
    description:
      - The JSON file to write on the host that runs the task. Its directory must exist.
    type: path
    required: true
  macs:
    description:
      - Only these modules; each must answer. Without it every Z2 and Z3 module that answers
        the search.
    type: list
    elements: str
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: Snapshot every module of the segment
  varnix.vorz.vorz_backup:
    dest: /var/backups/varnix/{{ inventory_hostname }}.json
    password: "{{ vault_vorz_password }}"

- name: Fetch the snapshot to the control node
  ansible.builtin.fetch:
    src: /var/backups/varnix/{{ inventory_hostname }}.json
    dest: backups/
'''

RETURN = r'''
dest:
  description: The file written (or that would be written).
  returned: always
  type: str
modules:
  description: The MACs in the snapshot.
  returned: always
  type: list
  elements: str
  sample: ["00 1A 2B 3C 4D 5E", "00 1A 2B 3C 4D 5F"]
differing:
  description: MACs whose fields differ from the file, or that are new or gone.
  returned: always
  type: list
  elements: str
not_read:
  description: Modules that answered the search but cannot be read (incompatible firmware).
  returned: always
  type: list
  elements: dict
  sample: [{"mac": "00 1A 2B 3C 4D 61", "firmware": 2001, "reason": "incompatible firmware"}]
'''

import datetime
import json
import os
import stat
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varnix.vorz.plugins.module_utils.varnix_cli import (
    VarnixCli, cli_parameters, normalize_mac)

FORMAT = 'varnix-backup'
VERSION = 1


def snapshot(cli, macs):
    """{mac: entry} of the modules read, and the modules that could not be read."""
    not_read = []
    if macs is None:
        found = cli.search()['modules']
        macs = []
        for m in found:
            if m['family'] not in ('Z2', 'Z3'):
                not_read.append(dict(mac=m['mac'], firmware=m['firmware'], reason='incompatible firmware'))
            elif m['mac'] not in macs:
                macs.append(m['mac'])
    docs = cli.read_or_fail(macs)
    modules = {}
    for mac, d in docs.items():
        module = dict((k, d['module'][k]) for k in ('family', 'firmware', 'ip', 'name'))
        modules[mac] = dict(module=module, replies=d['replies'], fields=d['fields'])
    return modules, not_read


def existing(path):
    """(document or None, mode or None) of the current file; a file that is not a backup is an
    error rather than something to overwrite."""
    try:
        st = os.lstat(path)
    except OSError:
        return None, None
    if not stat.S_ISREG(st.st_mode):
        raise ValueError('%s exists and is not a regular file' % path)
    with open(path, 'rb') as f:
        data = f.read()
    try:
        doc = json.loads(data.decode('utf-8'))
    except ValueError:
        doc = None
    if not isinstance(doc, dict) or doc.get('format') != FORMAT:
        raise ValueError('%s exists and is not a varnix backup; not overwritten' % path)
    return doc, stat.S_IMODE(st.st_mode)


def write_atomically(path, text):
    directory = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix='.%s.' % os.path.basename(path), dir=directory)
    try:
        os.fchmod(fd, 0o600)
        with os.fdopen(fd, 'w') as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.rename(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.unlink(tmp)
        raise


def summary(doc):
    """One line per module, for the diff: its MAC and a digest of what it holds."""
    lines = []
    for mac in sorted((doc or {}).get('modules', {})):
        m = doc['modules'][mac]
        lines.append('%s %s %s firmware %s, %d fields\n' % (
            mac, m['module'].get('name'), m['module'].get('ip'), m['module'].get('firmware'), len(m['fields'])))
    return ''.join(lines)


def main():
    parameters = cli_parameters()
    parameters.update(dest=dict(type='path', required=True), macs=dict(type='list', elements='str'))
    module = AnsibleModule(argument_spec=parameters, supports_check_mode=True)
    dest = module.params['dest']
    macs = None
    if module.params['macs'] is not None:
        macs = []
        for text in module.params['macs']:
            mac = normalize_mac(text)
            if mac is None:
                module.fail_json(msg='macs: %r is not a MAC (twelve hex digits)' % text)
            if mac not in macs:
                macs.append(mac)
    if not os.path.isdir(os.path.dirname(os.path.abspath(dest))):
        module.fail_json(msg='dest: the directory of %s does not exist' % dest)
    try:
        old, mode = existing(dest)
    except (OSError, ValueError) as e:
        module.fail_json(msg=str(e))

    cli = VarnixCli(module)
    modules, not_read = snapshot(cli, macs)
    old_modules = (old or {}).get('modules', {})
    differing = sorted(set(mac for mac in set(modules) | set(old_modules)
                           if modules.get(mac) != old_modules.get(mac)))
    changed = old is None or bool(differing) or mode != 0o600
    new = dict(format=FORMAT, version=VERSION, modules=modules,
               taken=datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%dT%H:%M:%SZ'))
    if changed and not differing and old is not None:
        new['taken'] = old.get('taken', new['taken'])  # only the mode is repaired
    if changed and not module.check_mode:
        try:
            write_atomically(dest, json.dumps(new, indent=2, sort_keys=True, ensure_ascii=False) + '\n')
        except OSError as e:
            module.fail_json(msg='cannot write %s: %s' % (dest, e))
    module.exit_json(changed=changed, dest=dest, modules=sorted(modules), differing=differing, not_read=not_read,
                     diff=dict(before_header=dest, after_header=dest, before=summary(old), after=summary(new)))


if __name__ == '__main__':
    main()
