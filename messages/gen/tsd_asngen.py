#!/usr/bin/env python3
"""Schema toolchain of the message modules.

Reads the ASN.1 modules and writes, for each module that parses (and whose
imports are all usable), the C++ classes and constant descriptions and the
wire-equivalent export for Erlang/OTP's asn1 compiler.

  tsd_asngen.py --out DIR [--erlang DIR] [--list] [--strict] FILE.asn...

--list prints the C++ files that would be written (one per line) and writes
nothing.  A module that does not parse, or that imports from a module left
out, is reported on stderr and left out (its name is recorded in the
catalogue) unless --strict is given, which makes it an error.  Files whose
content did not change are not rewritten, so an edit of one module rebuilds
only what depends on it.
"""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from asnparse import AsnError, parse_file          # noqa: E402
from asnmodel import Schema                        # noqa: E402
from cppgen import CppEmitter                      # noqa: E402
from erlexport import Exporter, strict_modules, ROOT_SUFFIX   # noqa: E402


def load(files, strict):
    """Parses the files; returns (schema, skipped names, source names)."""
    parsed = {}
    source = {}
    skipped = []
    for path in files:
        base = os.path.splitext(os.path.basename(path))[0]
        try:
            m = parse_file(path)
        except (AsnError, OSError) as e:
            if strict:
                raise
            sys.stderr.write('tsd_asngen: module %s left out: %s\n' % (base, e))
            skipped.append(base)
            continue
        if m.name in parsed:
            raise AsnError('module %s defined twice' % m.name, path)
        parsed[m.name] = m
        source[m.name] = os.path.basename(path)
    # Leave out modules whose imports (or whose resolution) fail, until stable.
    while True:
        bad = None
        for name, m in sorted(parsed.items()):
            for src, _ in m.import_order:
                if src not in parsed:
                    bad = (name, 'imports from %s, which is not available' % src)
                    break
            if bad:
                break
        if bad is None:
            try:
                schema = Schema([parsed[n] for n in sorted(parsed)])
                check_cycles(schema)
                return schema, skipped, source
            except AsnError as e:
                if strict or len(parsed) == 0:
                    raise
                # find the culprit: the module named in the message's file
                culprit = None
                for name, m in parsed.items():
                    if m.file and str(e).startswith(m.file):
                        culprit = name
                if culprit is None:
                    raise
                bad = (culprit, str(e))
        if strict:
            raise AsnError('module %s: %s' % bad)
        sys.stderr.write('tsd_asngen: module %s left out: %s\n' % bad)
        skipped.append(bad[0])
        del parsed[bad[0]]


def check_cycles(schema):
    """Module headers include the headers of the modules they refer to."""
    state = {}

    def visit(m, path):
        if state.get(m) == 1:
            raise AsnError('modules refer to each other in a cycle: %s' % ' -> '.join(path + [m]),
                           schema.modules[m].file)
        if state.get(m) == 2:
            return
        state[m] = 1
        for r in schema.referenced_modules(m):
            visit(r, path + [m])
        state[m] = 2
    for m in schema.order:
        visit(m, [])


def outputs(schema, emitter):
    """(relative path, content producer) for every C++ file."""
    res = []
    for m in schema.order:
        res.append(('%s.h' % m, lambda m=m: emitter.header(m)))
        res.append(('%s_tables.cpp' % m, lambda m=m: emitter.tables_file(m)))
        for k, chunk in enumerate(emitter.access_chunks(m)):
            res.append(('%s_access%d.cpp' % (m, k), lambda m=m, c=chunk: emitter.access_file(m, c)))
    return res


def write_if_changed(path, text):
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
    os.replace(tmp, path)


def import_order(schema):
    """Module names, every module after the modules it imports from."""
    done = []

    def visit(m):
        if m in done:
            return
        for src, _ in schema.modules[m].import_order:
            visit(src)
        done.append(m)
    for m in schema.order:
        visit(m)
    return done


def compile_erlang(schema, folder, erlc):
    """Compiles the export (and its root-only variants) with erlc (aligned
    PER, maps) in import order; a module is compiled again only when it or
    a module it imports changed."""
    stamp = {}
    strict = strict_modules(schema)
    units = [(m, m, False) for m in import_order(schema)]
    units += [(m, m + ROOT_SUFFIX, True) for m in import_order(schema) if m in strict]
    for m, name, is_strict in units:
        src = os.path.join(folder, '%s.asn' % name)
        beam = os.path.join(folder, '%s.beam' % name)
        deps = [d + ROOT_SUFFIX if is_strict and d in strict else d for d, _ in schema.modules[m].import_order]
        newest = max([os.path.getmtime(src)] + [stamp[d] for d in deps])
        if not os.path.exists(beam) or os.path.getmtime(beam) < newest:
            subprocess.check_call([erlc, '-bper', '+maps', '%s.asn' % name], cwd=folder)
        stamp[name] = os.path.getmtime(beam)


def main(argv):
    ap = argparse.ArgumentParser(description='ASN.1 to C++ and Erlang export for the message modules')
    ap.add_argument('--out', required=True, help='folder of the C++ files (included as messages/...)')
    ap.add_argument('--erlang', help='folder of the Erlang export')
    ap.add_argument('--list', action='store_true', help='print the C++ files and write nothing')
    ap.add_argument('--erlc', help='compile the Erlang export with this erlc')
    ap.add_argument('--strict', action='store_true', help='fail on a module that cannot be used')
    ap.add_argument('files', nargs='*')
    args = ap.parse_args(argv)
    try:
        schema, skipped, source = load(sorted(args.files), args.strict)
    except AsnError as e:
        sys.stderr.write('tsd_asngen: %s\n' % e)
        return 1
    emitter = CppEmitter(schema, source)
    files = outputs(schema, emitter) + [('catalog.cpp', lambda: emitter.catalog(skipped))]
    if args.list:
        for rel, _ in files:
            print(os.path.join(args.out, rel))
        return 0
    os.makedirs(args.out, exist_ok=True)
    try:
        for rel, make in files:
            write_if_changed(os.path.join(args.out, rel), make())
    except ValueError as e:
        sys.stderr.write('tsd_asngen: %s\n' % e)
        return 1
    if args.erlang:
        os.makedirs(args.erlang, exist_ok=True)
        ex = Exporter(schema)
        root = Exporter(schema, strict=True)
        for m in schema.order:
            write_if_changed(os.path.join(args.erlang, '%s.asn' % m), ex.module_text(m))
            if m in root.rename:
                write_if_changed(os.path.join(args.erlang, '%s%s.asn' % (m, ROOT_SUFFIX)), root.module_text(m))
        if args.erlc:
            # The compiled export serves only the cross-check tests: a failure
            # is reported (and the tests then fail) but does not stop the build.
            try:
                compile_erlang(schema, args.erlang, args.erlc)
            except (OSError, subprocess.CalledProcessError) as e:
                sys.stderr.write('tsd_asngen: warning: erlc failed: %s\n' % e)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
