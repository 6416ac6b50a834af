# -*- coding: utf-8 -*-
# Desired field sets for varnix.vorz.vorz_config, checked against the field catalogue
# (varnix-cli fields) and against what a module sent in its read. Pure functions: no I/O.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import difflib
import json

from ansible_collections.varnix.vorz.plugins.module_utils.varnix_cli import (
    IDENTITY_FIELDS, SECRET_FIELDS, mask_value)

# The log-in: part of every configuration, but given through options of its own (secrets), so a
# replaced configuration need not name it.
LOGIN_FIELDS = ('UserName', 'Password')


def canonical_fields(config, catalogue, where):
    """{name: value} with the catalogue's spelling of each name (names are case-insensitive, as in
    varnix-cli). Returns (fields, errors)."""
    by_lower = dict((name.lower(), name) for name in catalogue)
    fields, errors = {}, []
    for key, value in config.items():
        name = by_lower.get(str(key).lower())
        if name is None:
            near = [by_lower[n] for n in difflib.get_close_matches(str(key).lower(), list(by_lower), 3, 0.7)]
            errors.append('%s: unknown field %r%s' % (where, key, ' (did you mean %s?)' % ', '.join(near) if near else ''))
            continue
        if name in fields:
            errors.append('%s: field %s given twice' % (where, name))
            continue
        if name in SECRET_FIELDS:
            errors.append('%s: %s is a secret; give it with the %s option (never logged)'
                          % (where, name, 'new_password' if name == 'Password' else 'comm_password'))
            continue
        if not catalogue[name].get('writable'):
            errors.append('%s: %s is read-only (%s)' % (where, name, catalogue[name].get('help', '')))
            continue
        if isinstance(value, (dict, list)) or value is None:
            errors.append('%s: %s: a value must be a number, a switch or a text' % (where, name))
            continue
        if isinstance(value, float) and value.is_integer():
            value = int(value)
        fields[name] = value
    return fields, errors


def family_writes(catalogue_entry, family):
    return family in (catalogue_entry.get('writable') or '').split('/')


def unwritable_fields(fields, read_doc, catalogue):
    """Why each desired field cannot be written to the module of READ_DOC (varnix-cli read)."""
    family = read_doc['module']['family']
    held = read_doc.get('fields', {})
    problems = []
    for name in sorted(fields):
        entry = catalogue[name]
        if not family_writes(entry, family):
            problems.append('%s: a %s save does not write it' % (name, family))
        elif name not in held:
            problems.append('%s: the module sent no %s settings' % (name, entry.get('group', name)))
    return problems


def missing_for_replace(given, read_doc, catalogue):
    """Fields a replaced configuration leaves out: every field the module holds and its save
    writes, except its identity and its log-in."""
    family = read_doc['module']['family']
    missing = []
    for name in sorted(read_doc.get('fields', {})):
        entry = catalogue.get(name)
        if entry is None or not family_writes(entry, family):
            continue
        if name in IDENTITY_FIELDS or name in LOGIN_FIELDS or name in SECRET_FIELDS:
            continue
        if name not in given:
            missing.append(name)
    return missing


def profile_document(fields):
    """A varnix-cli profile holding FIELDS."""
    return json.dumps({'format': 'varnix-profile', 'version': 1, 'fields': fields}, sort_keys=True)


def group_by_fields(desired):
    """[(fields, [mac...])]: modules that get the same fields share one varnix-cli run."""
    groups = {}
    order = []
    for mac, fields in desired:
        key = json.dumps(fields, sort_keys=True)
        if key not in groups:
            groups[key] = (fields, [])
            order.append(key)
        groups[key][1].append(mac)
    return [groups[k] for k in order]


def shown(catalogue, name, value):
    """A value as the diff shows it: enumerations with their item name, secrets masked."""
    value = mask_value(name, value)
    if isinstance(value, bool):
        return 'true' if value else 'false'
    entry = catalogue.get(name, {})
    for item in entry.get('items', []):
        if item.get('value') == value and item.get('names'):
            return '%s (%s)' % (value, item['names'][0])
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    return str(value)


def diff_entry(catalogue, mac, module, changes):
    """One module's diff for Ansible's diff mode: the changed fields, old and new."""
    title = '%s (%s, %s)' % (mac, module.get('name', ''), module.get('ip', ''))
    before = ''.join('%s: %s\n' % (c['field'], shown(catalogue, c['field'], c['old'])) for c in changes)
    after = ''.join('%s: %s\n' % (c['field'], shown(catalogue, c['field'], c['new'])) for c in changes)
    return dict(before_header=title, after_header=title, before=before, after=after)
