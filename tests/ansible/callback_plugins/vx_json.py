# A stdout callback for the end-to-end tests: the whole run as one JSON document (Debian's
# ansible-core has no JSON callback of its own). Results arrive here already censored by Ansible
# (no_log), exactly as a user's screen or log would get them.
#
#   {"plays": [{"play": {"name"}, "tasks": [{"task": {"name"}, "hosts": {HOST: RESULT}}]}],
#    "stats": {HOST: {"ok", "changed", "failures", "unreachable", "skipped", ...}}}

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = '''
name: vx_json
type: stdout
short_description: the run as one JSON document (tests only)
description: Prints plays, tasks, each host's result and the stats as one JSON document at the end.
'''


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'vx_json'

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.plays = []

    def v2_playbook_on_play_start(self, play):
        self.plays.append({'play': {'name': play.get_name()}, 'tasks': []})

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.plays[-1]['tasks'].append({'task': {'name': task.get_name()}, 'hosts': {}})

    def _record(self, result, **extra):
        entry = dict(result._result)
        entry.update(extra)
        self.plays[-1]['tasks'][-1]['hosts'][result._host.get_name()] = entry

    def v2_runner_on_ok(self, result):
        self._record(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, failed=True)

    def v2_runner_on_skipped(self, result):
        self._record(result, skipped=True)

    def v2_runner_on_unreachable(self, result):
        self._record(result, unreachable=True)

    def v2_playbook_on_stats(self, stats):
        summary = dict((host, stats.summarize(host)) for host in sorted(stats.processed))
        self._display.display(json.dumps({'plays': self.plays, 'stats': summary}, default=str))
