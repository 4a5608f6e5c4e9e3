"""Export of the modules as ASN.1 that Erlang/OTP's asn1 compiler accepts and
that codes every value exactly as our aligned PER does.

- Identifiers: '_' becomes '-' (the compiler refuses underscores).
- An ENUMERATED whose root numbers are not exactly 0..n-1 (gaps, duplicates,
  negative numbers) becomes INTEGER (0..max) (with ', ...' when extensible):
  our runtime codes an enumeration by its number in 0..max, which is how the
  compiler codes such an INTEGER.  Extension additions of enumerations are
  left out: our runtime codes them in its own way, so values beyond the root
  are not cross-checked.
"""

from asnparse import Builtin, Ref, SeqOf, Sequence, Enumerated
from asnmodel import enum_facts


def erl_name(name):
    return name.replace('_', '-')


def _range(lo, hi, ext=False):
    return '(%d..%d%s)' % (lo, hi, ', ...' if ext else '')


ROOT_SUFFIX = 'Root'


class Exporter(object):
    """strict=True writes the root-only variant (modules named <M>Root):
    every enumeration becomes a non-extensible ENUMERATED or INTEGER range.
    It is not wire-equivalent; Erlang's random value generator uses it so
    that the values it makes stay inside the roots (with +maps a value of
    one variant is a value of the other)."""

    def __init__(self, schema, strict=False):
        self.schema = schema
        self.strict = strict
        self.rename = {}
        if strict:
            self.rename = dict((m, m + ROOT_SUFFIX) for m in strict_modules(schema))

    def type_text(self, t, indent):
        pad = '  ' * indent
        if isinstance(t, Builtin):
            k = t.kind
            if k == 'INTEGER':
                return 'INTEGER' + (' ' + _range(t.lo, t.hi, t.ext) if t.lo is not None else '')
            if k in ('OCTET STRING', 'IA5String'):
                if t.lo is None:
                    return k
                return '%s (SIZE %s)' % (k, _range(t.lo, t.hi))
            return k
        if isinstance(t, Ref):
            if t.module:
                return '%s.%s' % (self.rename.get(t.module, t.module), erl_name(t.name))
            return erl_name(t.name)
        if isinstance(t, SeqOf):
            return '%s OF %s' % ('SET' if t.is_set else 'SEQUENCE', self.type_text(t.elem, indent))
        if isinstance(t, Enumerated):
            nums, mx, plain = enum_facts(t.desc)
            if not plain:
                return 'INTEGER ' + _range(0, mx, t.extensible and not self.strict)
            items = ['%s(%d)' % (erl_name(n), v) for n, v, _ in t.root_items()]
            if t.extensible and not self.strict:
                items.append('...')
            return 'ENUMERATED { ' + ', '.join(items) + ' }'
        if isinstance(t, Sequence):
            lines = []
            for c in t.root:
                lines.append(self.comp(c, indent + 1))
            if t.extensible:
                lines.append(pad + '  ...')
                for c in t.ext:
                    lines.append(self.comp(c, indent + 1))
            if not lines:
                return t.kind + ' { }'
            return t.kind + ' {\n' + ',\n'.join(lines) + '\n' + pad + '}'
        raise ValueError('unexpected type')

    def comp(self, c, indent):
        s = '  ' * indent + erl_name(c.name) + ' ' + self.type_text(c.type, indent)
        if c.optional:
            s += ' OPTIONAL'
        return s

    def module_text(self, mname):
        m = self.schema.modules[mname]
        what = 'root-only variant (value generation only)' if self.strict else 'wire-equivalent export'
        out = ['-- Generated from %s; %s for Erlang/OTP asn1.' % (mname, what),
               '%s DEFINITIONS AUTOMATIC TAGS ::=' % self.rename.get(m.name, m.name), 'BEGIN', '']
        if m.import_order:
            out.append('IMPORTS')
            for src, syms in m.import_order:
                out.append('  ' + ', '.join(erl_name(s) for s in syms))
                out.append('    FROM ' + self.rename.get(src, src))
            out[-1] += ';'
            out.append('')
        for name, val in sorted(m.values.items()):
            out.append('%s INTEGER ::= %d' % (erl_name(name), val))
        for a in m.types:
            out.append('%s ::= %s' % (erl_name(a.name), self.type_text(a.type, 0)))
            out.append('')
        out.append('END')
        return '\n'.join(out) + '\n'


def strict_modules(schema):
    """Modules whose root-only variant differs: those with an extensible
    enumeration exported as an extensible INTEGER range, and every module
    importing from one of them."""
    direct = set()
    for d in schema.all_descs():
        if d.kind == 'ENUMERATED' and d.extensible and not enum_facts(d)[2]:
            direct.add(d.module)
    out = set(direct)
    changed = True
    while changed:
        changed = False
        for name in schema.order:
            if name not in out and any(src in out for src, _ in schema.modules[name].import_order):
                out.add(name)
                changed = True
    return sorted(out)
