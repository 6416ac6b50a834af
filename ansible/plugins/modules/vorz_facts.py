#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: vorz_facts
short_description: Find the VOR-Z modules of a segment, with their fields and health findings
description:
  - Searches the segment of the host that runs the task with C(varnix-cli search --check) and
    returns every module that answered, with the health findings of the search (two modules on
    one address, one name used twice, a module outside its adapter's subnet, a module seen
    through two adapters, incompatible firmware).
  - With I(read), each module (or each of I(macs)) is also read and its fields are returned under
    the field names of C(varnix-cli fields).
  - Changes nothing on the modules; check mode and diff mode change nothing either.
version_added: 1.0.0
author: Varnix developers (@varnix)
extends_documentation_fragment:
  - varnix.vorz.cli
  - ansible.builtin.action_common_attributes
options:
  read:
    description:
      - Also read every module found (or every module of I(macs)) and return its fields.
      - Modules of incompatible firmware are listed but not read.
    type: bool
    default: false
  macs:
    description:
      - Only these modules (twelve hex digits, with or without C(:), C(-) or spaces).
      - A module of the list that does not answer the search fails the task.
    type: list
    elements: str
  checks:
    description:
      - Run the health checks of the search and return their findings.
    type: bool
    default: true
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: List the modules of this segment
  varnix.vorz.vorz_facts:
    interface: 10.9.0.1
  register: segment

- name: Read two modules, the log-in from the vault
  varnix.vorz.vorz_facts:
    macs:
      - 00:1A:2B:3C:4D:5E
      - 00-1A-2B-3C-4D-5F
    read: true
    password: "{{ vault_vorz_password }}"

- name: Fail when the segment has duplicate addresses
  ansible.builtin.assert:
    that: segment.checks | selectattr('kind', 'eq', 'duplicate-ip') | list | length == 0
'''

RETURN = r'''
modules:
  description:
    - One entry per search reply, in the order they came. A module seen through two adapters
      of the host is listed once per adapter.
  returned: always
  type: list
  elements: dict
  contains:
    mac:
      description: The module's MAC, as varnix-cli writes it.
      type: str
      sample: 00 1A 2B 3C 4D 5E
    ip:
      description: The address the module reported.
      type: str
      sample: 192.168.0.50
    name:
      description: The module's name.
      type: str
      sample: Line-1
    firmware:
      description: The firmware number.
      type: int
      sample: 4017
    family:
      description: C(Z2), C(Z3) or C(incompatible).
      type: str
      sample: Z2
    local:
      description: The host's address the reply came in on.
      type: str
      sample: 10.9.0.1
    findings:
      description: Kinds of the health findings that name this module.
      type: list
      elements: str
      sample: [outside-subnet]
    fields:
      description:
        - With I(read), the module's fields (integers and enumerations as numbers, switches as
          booleans, the rest as strings; C(Password) and C(CommPassword) masked).
      type: dict
      returned: when read is true and the module is Z2 or Z3
      sample: {"BaudRate": 115200, "WorkMode": 3, "ModName": "Line-1"}
    replies:
      description: With I(read), which blocks the module sent to the read.
      type: dict
      returned: when read is true and the module is Z2 or Z3
      sample: {"params": true, "cloud": true, "heartbeat": true, "httpd": true, "modbusKind": 7}
checks:
  description: The health findings of the search.
  returned: always
  type: list
  elements: dict
  contains:
    kind:
      description: >-
        C(duplicate-ip), C(two-adapters), C(outside-subnet), C(incompatible-firmware) or
        C(duplicate-name).
      type: str
    subject:
      description: The address, MAC or name the finding is about.
      type: str
    macs:
      description: The modules concerned.
      type: list
      elements: str
    text:
      description: The finding in words.
      type: str
no_answer:
  description: When no module answered, the local addresses tried and the likely causes.
  returned: when no module answered
  type: dict
  sample: {"tried": ["10.9.0.1"], "destination": "255.255.255.255", "causes": ["..."]}
ansible_facts:
  description: The same lists as facts.
  returned: always
  type: dict
  contains:
    vorz_modules:
      description: As I(modules).
      type: list
      elements: dict
    vorz_checks:
      description: As I(checks).
      type: list
      elements: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varnix.vorz.plugins.module_utils.varnix_cli import (
    VarnixCli, cli_parameters, mask_fields, normalize_mac)


def wanted_macs(module):
    if module.params['macs'] is None:
        return None
    macs = []
    for text in module.params['macs']:
        mac = normalize_mac(text)
        if mac is None:
            module.fail_json(msg='macs: %r is not a MAC (twelve hex digits)' % text)
        if mac not in macs:
            macs.append(mac)
    return macs


def main():
    parameters = cli_parameters()
    parameters.update(
        read=dict(type='bool', default=False),
        macs=dict(type='list', elements='str'),
        checks=dict(type='bool', default=True),
    )
    module = AnsibleModule(argument_spec=parameters, supports_check_mode=True)
    macs = wanted_macs(module)
    cli = VarnixCli(module)
    doc = cli.search(checks=module.params['checks'])

    rows = doc.get('modules', [])
    findings = {}
    for finding in doc.get('checks', []):
        for mac in finding.get('macs', []):
            findings.setdefault(mac, [])
            if finding['kind'] not in findings[mac]:
                findings[mac].append(finding['kind'])
    if macs is not None:
        found = set(row['mac'] for row in rows)
        missing = [mac for mac in macs if mac not in found]
        if missing:
            module.fail_json(msg='did not answer the search: %s' % ', '.join(missing),
                             modules=rows, checks=doc.get('checks', []))
        rows = [row for row in rows if row['mac'] in macs]

    modules = []
    for row in rows:
        entry = dict(row)
        entry.pop('familyCode', None)
        entry['findings'] = findings.get(row['mac'], [])
        modules.append(entry)

    if module.params['read']:
        readable = []
        for entry in modules:
            if entry['family'] in ('Z2', 'Z3') and entry['mac'] not in readable:
                readable.append(entry['mac'])
        docs = cli.read_or_fail(readable)
        for entry in modules:
            if entry['mac'] in docs:
                entry['fields'] = mask_fields(docs[entry['mac']]['fields'])
                entry['replies'] = docs[entry['mac']]['replies']

    checks = doc.get('checks', [])
    result = dict(changed=False, modules=modules, checks=checks,
                  ansible_facts=dict(vorz_modules=modules, vorz_checks=checks))
    if 'noAnswer' in doc:
        result['no_answer'] = doc['noAnswer']
        module.warn('no module answered the search: %s' % '; '.join(doc['noAnswer'].get('causes', [])))
    module.exit_json(**result)


if __name__ == '__main__':
    main()
