# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
name: vorz
short_description: VOR-Z modules as hosts, found by a search on each segment host
description:
  - Runs C(varnix-cli search --json) on every segment host of I(segments) (on this machine for a
    segment with C(connection=local), else over C(ssh)) and adds one host per module that
    answered, named by its MAC (C(00-1a-2b-3c-4d-5e)).
  - Each module host is in the groups C(vorz_modules), C(site_<site>), C(family_z2),
    C(family_z3) or C(family_incompatible), and C(segment_<segment host>); names are made
    of letters, digits and C(_).
  - Each module host connects to its segment host (C(ansible_host), C(ansible_connection),
    C(ansible_port), C(ansible_user) and the segment's I(vars)), so the tasks of a play that
    targets modules run where the modules can be reached, with C(mac) C({{ vorz_mac }}). For a
    segment host that is in the inventory as well, C(delegate_to) C({{ vorz_segment_host }})
    does the same with that host's own connection settings.
  - Plays that target modules should set C(gather_facts) to false (the facts would be the segment
    host's). C(serial) and C(max_fail_percentage) then work in waves of modules.
  - "Host variables: C(vorz_mac) (C(00 1A 2B 3C 4D 5E)), C(vorz_ip), C(vorz_name),
    C(vorz_firmware), C(vorz_family), C(vorz_local) (the segment host's address the reply came
    in on), C(vorz_site), C(vorz_segment_host), and C(vorz_interface), C(vorz_broadcast) and
    C(vorz_cli) (the segment's, when set)."
  - A module that answers on two segments is added once, for the first; a warning names it.
  - The search carries no log-in, so no password is needed here.
  - The configuration file's name must end in C(vorz.yml) or C(vorz.yaml).
version_added: 1.0.0
author: Varnix developers (@varnix)
extends_documentation_fragment:
  - constructed
options:
  plugin:
    description: The name of this plugin.
    required: true
    type: str
    choices: [varnix.vorz.vorz]
  segments:
    description: The segment hosts, one per segment.
    required: true
    type: list
    elements: dict
    suboptions:
      host:
        description: The segment host's name in the inventory (C(vorz_segment_host)).
        type: str
        required: true
      site:
        description: The site the segment belongs to (group C(site_<site>)). Default I(host).
        type: str
      address:
        description: The address to reach the segment host at. Default I(host).
        type: str
      connection:
        description: C(local) runs the search on this machine; C(ssh) on the segment host.
        type: str
        choices: [local, ssh]
        default: ssh
      port:
        description: The SSH port.
        type: int
      user:
        description: The SSH user.
        type: str
      interface:
        description: The segment host's address on the modules' network (C(--interface)).
        type: str
      broadcast:
        description: Destination of the search (C(--broadcast)); default 255.255.255.255.
        type: str
      cli:
        description: varnix-cli on the segment host. Default I(cli).
        type: str
      vars:
        description: More variables for every module host of the segment (for example
          C(ansible_python_interpreter) or C(ansible_become)).
        type: dict
  cli:
    description: varnix-cli on the segment hosts (a name in C(PATH) or a path).
    type: str
    default: varnix-cli
  timeout:
    description: Seconds each search waits for replies (C(--timeout)).
    type: float
    default: 2.0
  command_timeout:
    description:
      - Seconds each segment host's search may take in all; it runs under C(timeout) there.
        (The SSH connection gets 15 s more.)
    type: int
    default: 60
  ssh_options:
    description: Options for C(ssh), before the host.
    type: list
    elements: str
    default: ['-o', 'BatchMode=yes', '-o', 'ConnectTimeout=10']
'''

EXAMPLES = r'''
# plants.vorz.yml
plugin: varnix.vorz.vorz
segments:
  - host: plant1-cell1
    site: plant1
    address: 10.1.1.5
    user: ops
    interface: 192.168.10.1
  - host: plant1-cell2
    site: plant1
    address: 10.1.2.5
    user: ops
  - host: lab
    connection: local
    interface: 10.9.0.1
keyed_groups:
  - key: vorz_firmware
    prefix: firmware
'''

import json
import re
import shlex
import subprocess

from ansible.errors import AnsibleParserError
from ansible.plugins.inventory import BaseInventoryPlugin, Constructable


def group_name(prefix, text):
    return prefix + re.sub(r'[^A-Za-z0-9_]', '_', str(text)).lower()


def host_name(mac):
    return mac.replace(' ', '-').lower()


class InventoryModule(BaseInventoryPlugin, Constructable):

    NAME = 'varnix.vorz.vorz'

    def verify_file(self, path):
        return super(InventoryModule, self).verify_file(path) and path.endswith(('vorz.yml', 'vorz.yaml'))

    def parse(self, inventory, loader, path, cache=True):
        super(InventoryModule, self).parse(inventory, loader, path, cache)
        self._read_config_data(path)
        segments = self.get_option('segments')
        if not segments:
            raise AnsibleParserError('%s: segments lists no segment host' % path)
        self.inventory.add_group('vorz_modules')
        seen = {}
        for segment in segments:
            if not isinstance(segment, dict) or not segment.get('host'):
                raise AnsibleParserError('%s: every segment needs a host' % path)
            for module in self._search(segment):
                if module['mac'] in seen:
                    self.display.warning('%s answered on %s and %s; listed for %s' % (
                        module['mac'], seen[module['mac']], segment['host'], seen[module['mac']]))
                    continue
                seen[module['mac']] = segment['host']
                self._add_module(segment, module)

    def _command(self, segment):
        cli = segment.get('cli') or self.get_option('cli')
        # timeout(1) bounds the search where it runs, so an SSH connection that drops cannot
        # leave it running on the segment host.
        argv = ['timeout', '--kill-after=5', str(self.get_option('command_timeout')),
                cli, 'search', '--json', '--timeout', '%g' % self.get_option('timeout')]
        for option in ('interface', 'broadcast'):
            if segment.get(option):
                argv += ['--' + option, segment[option]]
        if segment.get('connection', 'ssh') == 'local':
            return argv
        ssh = ['ssh'] + list(self.get_option('ssh_options'))
        if segment.get('port'):
            ssh += ['-p', str(segment['port'])]
        if segment.get('user'):
            ssh += ['-l', segment['user']]
        # ssh hands the remote shell one line; every word is quoted for it.
        return ssh + ['--', segment.get('address') or segment['host'], ' '.join(shlex.quote(a) for a in argv)]

    def _search(self, segment):
        argv = self._command(segment)
        host = segment['host']
        limit = self.get_option('command_timeout')
        try:
            p = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               timeout=limit + 15, check=False)
        except subprocess.TimeoutExpired:
            raise AnsibleParserError('segment %s: the search did not finish within %d s' % (host, limit + 15))
        except OSError as e:
            raise AnsibleParserError('segment %s: cannot run %s: %s' % (host, argv[0], e))
        stderr = p.stderr.decode('utf-8', 'replace').strip()
        if p.returncode == 124:
            raise AnsibleParserError('segment %s: the search did not finish within %d s' % (host, limit))
        try:
            doc = json.loads(p.stdout.decode('utf-8'))
        except ValueError:
            raise AnsibleParserError('segment %s: no search result (exit %d): %s' % (host, p.returncode, stderr))
        if p.returncode not in (0, 1) or not isinstance(doc, dict):
            raise AnsibleParserError('segment %s: the search failed (exit %d): %s' % (host, p.returncode, stderr))
        if not doc.get('modules'):
            self.display.warning('segment %s: no module answered' % host)
        return doc.get('modules', [])

    def _add_module(self, segment, module):
        name = host_name(module['mac'])
        site = segment.get('site') or segment['host']
        self.inventory.add_host(name, group='vorz_modules')
        for group in (group_name('site_', site), group_name('family_', module['family']),
                      group_name('segment_', segment['host'])):
            self.inventory.add_group(group)
            self.inventory.add_child(group, name)
        variables = dict(
            vorz_mac=module['mac'], vorz_ip=module['ip'], vorz_name=module['name'],
            vorz_firmware=module['firmware'], vorz_family=module['family'], vorz_local=module['local'],
            vorz_site=site, vorz_segment_host=segment['host'],
            ansible_host=segment.get('address') or segment['host'],
            ansible_connection=segment.get('connection', 'ssh'))
        if segment.get('port'):
            variables['ansible_port'] = segment['port']
        if segment.get('user'):
            variables['ansible_user'] = segment['user']
        for option in ('interface', 'broadcast', 'cli'):
            if segment.get(option):
                variables['vorz_' + option] = segment[option]
        variables.update(segment.get('vars') or {})
        for key, value in variables.items():
            self.inventory.set_variable(name, key, value)
        strict = self.get_option('strict')
        self._set_composite_vars(self.get_option('compose'), variables, name, strict=strict)
        self._add_host_to_composed_groups(self.get_option('groups'), variables, name, strict=strict)
        self._add_host_to_keyed_groups(self.get_option('keyed_groups'), variables, name, strict=strict)
