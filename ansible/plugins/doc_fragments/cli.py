# -*- coding: utf-8 -*-
# The options every varnix.vorz module takes: how varnix-cli is found and run on the segment host.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  cli:
    description:
      - The varnix-cli program on the host that runs the task (the segment host), as a name
        looked up in C(PATH) or as a path.
    type: str
    default: varnix-cli
  interface:
    description:
      - Local address of the segment host to search and send from (varnix-cli C(--interface)).
      - Without it varnix-cli uses every IPv4 address of the host.
    type: str
  broadcast:
    description:
      - Destination of every datagram (varnix-cli C(--broadcast)); default 255.255.255.255. A
        directed broadcast or one module's address also work; with a module simulator on
        loopback, C(127.0.0.1) together with I(interface) C(127.0.0.1). A
        directed broadcast or one module's address also work; with a module simulator on
        loopback, C(127.0.0.1) together with I(interface) C(127.0.0.1).
    type: str
  user:
    description:
      - Log-in user name sent with every command to the modules.
      - Given to varnix-cli in the environment (C(VARNIX_USER)). Without it the host's own
        C(VARNIX_USER) applies, else varnix-cli's default.
    type: str
  password:
    description:
      - Log-in password sent with every command to the modules.
      - Given to varnix-cli in the environment (C(VARNIX_PASSWORD)), never on its command line,
        and never logged. Without it (and without I(password_file)) the host's own
        C(VARNIX_PASSWORD) applies, else varnix-cli's default.
      - Mutually exclusive with I(password_file).
    type: str
  password_file:
    description:
      - A file on the host that runs the task whose first line is the log-in password.
      - It must be a regular file that only its owner may read and write (mode 0600 or 0400);
        any other mode fails the task before anything is sent.
      - Mutually exclusive with I(password).
    type: path
  timeout:
    description:
      - Seconds varnix-cli waits for search replies, read replies and acknowledgements
        (C(--timeout)); more than 0, at most 3600.
    type: float
    default: 2.0
  command_timeout:
    description:
      - Seconds each varnix-cli call may take in all; a call still running then is stopped
        (SIGTERM, SIGKILL 5 s later) and the task fails saying so.
    type: int
    default: 120
  home:
    description:
      - varnix-cli's program directory on the host (C(--home)); its C(varnix.db) records
        every save (the journal) and every module seen. Default as for varnix-cli (the user's C(~/.config/varnix)).
    type: path
notes:
  - The modules run on the host of the segment the modules are on (a module is reached by
    broadcast, so only from its own segment); that host needs varnix-cli (package C(varnix)) and
    the C(timeout) program (coreutils).
  - Every call of varnix-cli is bounded by I(command_timeout).
  - Field values named C(Password) and C(CommPassword) are secrets; they are masked as
    C(********) in everything a module returns and in diffs.
'''
