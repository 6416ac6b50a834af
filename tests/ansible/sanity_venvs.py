#!/usr/bin/env python3
"""Prepares ansible-test's sanity environments without a network.

ansible-test sanity runs each test in a virtual environment of its own under
~/.ansible/test/venv and fills it with pip from the Python package index. This machine takes its
Python packages from Debian (pylint, pycodestyle, yamllint, voluptuous, jinja2, PyYAML; see
scripts/setup --test), so each environment is made here instead, at the very path and with the very
marker files ansible-test looks for, as a venv that sees the system's packages. ansible-test then
finds it ready and installs nothing.

    sanity_venvs.py TEST...      (run with HOME set to where the environments are to live)
"""
import json
import os
import subprocess
import sys

from ansible_test._internal.commands.sanity import hash_pip_commands
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements


def prepare(test, python):
    # The import test's environments (import.module, import.plugin) are made "minimized".
    commands = collect_requirements(python=python, controller=True, virtualenv=False, command=None, ansible=False,
                                    cryptography=False, coverage=False, minimize=test.startswith('import.'),
                                    sanity=test)
    label = 'sanity.%s' % test if commands else 'sanity'
    path = os.path.join(os.path.expanduser('~/.ansible/test/venv'), label, python.version, hash_pip_commands(commands))
    if os.path.exists(os.path.join(path, 'marker.txt')):
        return
    subprocess.run([python.path, '-m', 'venv', '--system-site-packages', '--without-pip', path], check=True)
    with open(os.path.join(path, 'meta.install.json'), 'w') as f:
        f.write(json.dumps([c.serialize() for c in commands], indent=4))
    with open(os.path.join(path, 'meta.yaml.json'), 'w') as f:
        json.dump(True, f)  # Debian's PyYAML is built with libyaml
    open(os.path.join(path, 'marker.txt'), 'w').close()


def main():
    version = '%d.%d' % sys.version_info[:2]
    python = NativePythonConfig(version=version, path=sys.executable)
    for test in sys.argv[1:]:
        prepare(test, python)


if __name__ == '__main__':
    main()
