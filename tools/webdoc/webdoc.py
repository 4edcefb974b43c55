#!/usr/bin/env python3
"""The <htf-viewer> element's documentation from its one description.

web/htf-viewer-api.json describes the element's attributes, properties,
methods, events, parts, custom properties, slots and exports. From it:

  webdoc.py --manifest OUT        custom-elements.json (the custom elements
                                  manifest, schema 2.0.0) for editors and
                                  catalogues
  webdoc.py --readme README OUT   the package's README.md: the blocks of the
                                  project README between <!-- package:begin -->
                                  and <!-- package:end -->, whose reference
                                  tables are the generated ones
  webdoc.py --update README       writes the generated reference tables into
                                  the project README (between
                                  <!-- reference:begin --> and <!-- reference:end -->)
  webdoc.py --check README        exits 1 when those tables are not current
"""
import argparse
import json
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
API = os.path.join(ROOT, 'web', 'htf-viewer-api.json')
REFERENCE = re.compile(r'(<!-- reference:begin -->\n)(.*?)(<!-- reference:end -->)', re.S)
PACKAGE = re.compile(r'<!-- package:begin -->\n(.*?)<!-- package:end -->', re.S)
IMAGE = re.compile(r'^!\[[^\]]*\]\([^)]*\)\n\n?', re.M)


def load(path=API):
    with open(path, encoding='utf-8') as f:
        return json.load(f)


def cell(text):
    return str(text).replace('|', '\\|')


def reference(api):
    """The reference tables, in Markdown."""
    out = ['Attributes, each with a property of the same meaning (set either; the property reads the attribute '
           'back; values a page gives the properties before the element is defined are taken over):', '',
           '| Attribute | Property | Default | Meaning |', '|---|---|---|---|']
    for a in api['attributes']:
        default = '`%s`' % a['default'] if a['default'] and ' ' not in a['default'] else a['default']
        out.append('| `%s` | `%s` | %s | %s |' % (a['name'], a['property'], cell(default), cell(a['description'])))
    out += ['', '| Property | Meaning |', '|---|---|']
    for p in api['properties']:
        out.append('| `%s`%s | %s |' % (p['name'], ' (read only)' if p['readonly'] else '', cell(p['description'])))
    out += ['', '| Method | What it does |', '|---|---|']
    for m in api['methods']:
        out.append('| `%s` | %s |' % (m['signature'], cell(m['description'])))
    out += ['', 'Events, all bubbling and composed (`event.detail` holds the fields):', '',
            '| Event | Detail | When |', '|---|---|---|']
    for e in api['events']:
        out.append('| `%s` | %s | %s |' % (e['name'], ', '.join('`%s`' % d.strip() for d in e['detail'].split(',')),
                                          cell(e['description'])))
    out += ['', 'Styling: parts (`htf-viewer::part(toolbar)`), custom properties set on the element, and slots '
            '(`<div slot="error">`):', '', '| Part | What it is |', '|---|---|']
    for p in api['parts']:
        out.append('| `%s` | %s |' % (p['name'], cell(p['description'])))
    out += ['', '| Custom property | Default | What it colours |', '|---|---|---|']
    for c in api['cssProperties']:
        out.append('| `%s` | `%s` | %s |' % (c['name'], c['default'], cell(c['description'])))
    out += ['', '| Slot | What it replaces |', '|---|---|']
    for s in api['slots']:
        out.append('| `%s` | %s |' % (s['name'], cell(s['description'])))
    out += ['', '| Export | What it is |', '|---|---|']
    for x in api['exports']:
        out.append('| `%s` | %s |' % (x['signature'], cell(x['description'])))
    return '\n'.join(out) + '\n'


def manifest(api):
    """The custom elements manifest (schema 2.0.0)."""
    module = api['module']
    members = []
    for a in api['attributes']:
        members.append({'kind': 'field', 'name': a['property'], 'type': {'text': a['type']},
                        'default': json.dumps(a['default']), 'description': a['description'],
                        'attribute': a['name'], 'reflects': True})
    for p in api['properties']:
        field = {'kind': 'field', 'name': p['name'], 'type': {'text': p['type']}, 'description': p['description']}
        if p['readonly']:
            field['readonly'] = True
        members.append(field)
    for m in api['methods']:
        members.append({'kind': 'method', 'name': m['name'], 'description': m['description']})
    declaration = {
        'kind': 'class', 'name': api['className'], 'tagName': api['tagName'], 'customElement': True,
        'description': api['summary'],
        'superclass': {'name': 'HTMLElement'},
        'attributes': [{'name': a['name'], 'type': {'text': a['type']}, 'default': json.dumps(a['default']),
                        'description': a['description'], 'fieldName': a['property']} for a in api['attributes']],
        'members': members,
        'events': [{'name': e['name'], 'type': {'text': 'CustomEvent'}, 'description': e['description']}
                   for e in api['events']],
        'cssParts': [{'name': p['name'], 'description': p['description']} for p in api['parts']],
        'cssProperties': [{'name': c['name'], 'default': c['default'], 'description': c['description']}
                          for c in api['cssProperties']],
        'slots': [{'name': s['name'], 'description': s['description']} for s in api['slots']],
    }
    exports = [{'kind': 'js', 'name': api['className'], 'declaration': {'name': api['className'], 'module': module}},
               {'kind': 'custom-element-definition', 'name': api['tagName'],
                'declaration': {'name': api['className'], 'module': module}}]
    declarations = [declaration]
    for x in api['exports']:
        kind = 'function' if '(' in x['signature'] else 'variable'
        declarations.append({'kind': kind, 'name': x['name'], 'description': x['description']})
        exports.append({'kind': 'js', 'name': x['name'], 'declaration': {'name': x['name'], 'module': module}})
    return {'schemaVersion': '2.0.0', 'readme': 'README.md',
            'modules': [{'kind': 'javascript-module', 'path': module, 'declarations': declarations,
                         'exports': exports}]}


def with_reference(text, api):
    if not REFERENCE.search(text):
        raise SystemExit('webdoc: no <!-- reference:begin --> ... <!-- reference:end --> block in the README')
    return REFERENCE.sub(lambda m: m.group(1) + reference(api) + m.group(3), text, count=1)


def package_readme(text, api):
    """The package's README: the project README's package blocks, current."""
    blocks = PACKAGE.findall(with_reference(text, api))
    if not blocks:
        raise SystemExit('webdoc: no <!-- package:begin --> ... <!-- package:end --> block in the README')
    body = '\n'.join(blocks)
    body = IMAGE.sub('', body)
    body = re.sub(r'<!-- reference:(begin|end) -->\n', '', body)
    # The project's subsections are the package's sections.
    body = re.sub(r'^### ', '## ', body, flags=re.M)
    return '# %s\n\n%s' % (api['tagName'], body)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--manifest')
    parser.add_argument('--readme', nargs=2, metavar=('README', 'OUT'))
    parser.add_argument('--update')
    parser.add_argument('--check')
    args = parser.parse_args()
    api = load()
    if args.manifest:
        with open(args.manifest, 'w', encoding='utf-8') as f:
            json.dump(manifest(api), f, indent=2, ensure_ascii=False)
            f.write('\n')
    if args.readme:
        with open(args.readme[0], encoding='utf-8') as f:
            text = f.read()
        with open(args.readme[1], 'w', encoding='utf-8') as f:
            f.write(package_readme(text, api))
    for path in filter(None, [args.update, args.check]):
        with open(path, encoding='utf-8') as f:
            text = f.read()
        current = with_reference(text, api)
        if args.update and current != text:
            with open(path, 'w', encoding='utf-8') as f:
                f.write(current)
        elif args.check and current != text:
            print('webdoc: the reference tables in %s are not current: run tools/webdoc/webdoc.py --update %s'
                  % (path, path), file=sys.stderr)
            return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
