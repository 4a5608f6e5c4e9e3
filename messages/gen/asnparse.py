"""Reader of the ASN.1 subset the message modules are written in.

Produces a small model: modules with their imports and their type and value
assignments.  Supported: SEQUENCE and CHOICE (with extension markers and
extension additions; version brackets are refused), ENUMERATED (explicit
numbers, gaps, duplicates and negative numbers allowed, since the runtime codes
the number itself), SEQUENCE OF / SET OF, INTEGER with a value range,
IA5String and OCTET STRING with a SIZE constraint, BOOLEAN, NULL,
OBJECT IDENTIFIER, type references (plain or Module.Type) and INTEGER value
assignments used as bounds.  Tags written in brackets are skipped: the modules
use automatic tagging and PER carries no tags.
"""

import re


class AsnError(Exception):
    def __init__(self, msg, file=None, line=None):
        where = ''
        if file is not None:
            where = '%s:%s: ' % (file, line if line is not None else '?')
        Exception.__init__(self, where + msg)


# --- types -----------------------------------------------------------------

class Type(object):
    kind = None


class Builtin(Type):
    """NULL, BOOLEAN, INTEGER, OCTET STRING, IA5String, OBJECT IDENTIFIER."""

    def __init__(self, kind, lo=None, hi=None, ext=False):
        self.kind = kind          # 'NULL', 'BOOLEAN', 'INTEGER', 'OCTET STRING', 'IA5String', 'OBJECT IDENTIFIER'
        self.lo = lo              # value range (INTEGER) or SIZE range (strings); None = none
        self.hi = hi
        self.ext = ext            # extensible constraint

    def constrained(self):
        return self.lo is not None


class Ref(Type):
    kind = 'REF'

    def __init__(self, module, name, line):
        self.module = module      # explicit module (Module.Type) or None
        self.name = name
        self.line = line


class SeqOf(Type):
    def __init__(self, elem, is_set, lo=None, hi=None):
        self.kind = 'SET OF' if is_set else 'SEQUENCE OF'
        self.elem = elem
        self.is_set = is_set
        self.lo = lo
        self.hi = hi


class Component(object):
    def __init__(self, name, type_, optional, line):
        self.name = name
        self.type = type_
        self.optional = optional
        self.line = line


class Sequence(Type):
    def __init__(self, kind):
        self.kind = kind          # 'SEQUENCE' or 'CHOICE'
        self.root = []            # Components, root part (both root lists joined)
        self.ext = []             # extension additions in order
        self.extensible = False


class Enumerated(Type):
    kind = 'ENUMERATED'

    def __init__(self):
        self.items = []           # (name, number, explicit) in writing order, root then additions
        self.root_count = 0
        self.extensible = False

    def root_items(self):
        return self.items[:self.root_count]


class Assignment(object):
    def __init__(self, name, type_, line):
        self.name = name
        self.type = type_
        self.line = line


class Module(object):
    def __init__(self, name, file):
        self.name = name
        self.file = file
        self.imports = {}         # symbol -> module name
        self.import_order = []    # (module, [symbols])
        self.types = []           # Assignments in order
        self.values = {}          # value reference -> int


# --- lexer -----------------------------------------------------------------

_TOKEN = re.compile(r'''
    (?P<ws>\s+)
  | (?P<comment>--.*?(--|$))
  | (?P<bcomment>/\*.*?\*/)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<lbb>\[\[)
  | (?P<rbb>\]\])
  | (?P<num>-?[0-9]+)
  | (?P<ident>[A-Za-z][A-Za-z0-9_]*(?:-[A-Za-z0-9_]+)*)
  | (?P<sym>[{}(),;\[\].|<:!@])
''', re.VERBOSE | re.MULTILINE)


class Tok(object):
    __slots__ = ('kind', 'text', 'line')

    def __init__(self, kind, text, line):
        self.kind = kind
        self.text = text
        self.line = line

    def __repr__(self):
        return '%s(%r)@%d' % (self.kind, self.text, self.line)


def tokenize(text, file):
    toks = []
    pos = 0
    line = 1
    n = len(text)
    while pos < n:
        m = _TOKEN.match(text, pos)
        if not m:
            raise AsnError('unexpected character %r' % text[pos], file, line)
        kind = m.lastgroup
        s = m.group(kind)
        if kind not in ('ws', 'comment', 'bcomment'):
            if kind in ('assign', 'ellipsis', 'range', 'lbb', 'rbb', 'sym'):
                kind = 'sym'
            toks.append(Tok(kind, s, line))
        line += s.count('\n')
        pos = m.end()
    toks.append(Tok('eof', '', line))
    return toks


# --- parser ----------------------------------------------------------------

_STRING_KINDS = ('IA5String',)
_UNSUPPORTED = ('REAL', 'BIT', 'BMPString', 'UTF8String', 'PrintableString', 'VisibleString',
                'NumericString', 'GeneralString', 'GeneralizedTime', 'UTCTime', 'ANY', 'SET',
                'EXTERNAL', 'EMBEDDED', 'CHARACTER')


class Parser(object):
    def __init__(self, text, file):
        self.file = file
        self.toks = tokenize(text, file)
        self.i = 0

    # helpers
    def peek(self, k=0):
        return self.toks[min(self.i + k, len(self.toks) - 1)]

    def next(self):
        t = self.toks[self.i]
        self.i += 1
        return t

    def error(self, msg, tok=None):
        tok = tok or self.peek()
        raise AsnError(msg + ' (at %r)' % tok.text, self.file, tok.line)

    def accept(self, text):
        if self.peek().text == text and self.peek().kind in ('sym', 'ident'):
            return self.next()
        return None

    def expect(self, text):
        t = self.accept(text)
        if t is None:
            self.error('expected %r' % text)
        return t

    def ident(self):
        t = self.next()
        if t.kind != 'ident':
            self.error('expected an identifier', t)
        return t

    # module
    def parse_module(self):
        name = self.ident()
        mod = Module(name.text, self.file)
        if self.accept('{'):
            self.skip_braces()
        self.expect('DEFINITIONS')
        while self.peek().text in ('AUTOMATIC', 'IMPLICIT', 'EXPLICIT', 'TAGS', 'EXTENSIBILITY', 'IMPLIED'):
            self.next()
        self.expect('::=')
        self.expect('BEGIN')
        if self.accept('EXPORTS'):
            while not self.accept(';'):
                if self.peek().kind == 'eof':
                    self.error('unterminated EXPORTS')
                self.next()
        if self.accept('IMPORTS'):
            self.parse_imports(mod)
        while not self.accept('END'):
            if self.peek().kind == 'eof':
                self.error('missing END')
            self.parse_assignment(mod)
        if self.peek().kind != 'eof':
            self.error('text after END')
        return mod

    def skip_braces(self):
        depth = 1
        while depth:
            t = self.next()
            if t.kind == 'eof':
                self.error('unbalanced braces')
            if t.text == '{':
                depth += 1
            elif t.text == '}':
                depth -= 1

    def parse_imports(self, mod):
        syms = []
        while True:
            if self.accept(';'):
                if syms:
                    self.error('symbols without FROM')
                return
            t = self.ident()
            if t.text == 'FROM':
                m = self.ident().text
                if self.accept('{'):
                    self.skip_braces()
                for s in syms:
                    mod.imports[s] = m
                mod.import_order.append((m, syms))
                syms = []
                continue
            if self.accept('{'):      # parameterised reference: Name{}
                self.expect('}')
            syms.append(t.text)
            self.accept(',')

    def parse_assignment(self, mod):
        t = self.ident()
        if t.text[0].isupper():
            self.expect('::=')
            mod.types.append(Assignment(t.text, self.parse_type(mod), t.line))
        else:
            # value assignment: name INTEGER ::= number
            ty = self.parse_type(mod)
            self.expect('::=')
            if not (isinstance(ty, Builtin) and ty.kind == 'INTEGER'):
                self.error('only INTEGER value assignments are supported', t)
            mod.values[t.text] = self.value(mod)

    def value(self, mod):
        t = self.next()
        if t.kind == 'num':
            return int(t.text)
        if t.kind == 'ident':
            if t.text in ('MIN', 'MAX'):
                return t.text
            if t.text in mod.values:
                return mod.values[t.text]
            self.error('unknown value %s' % t.text, t)
        self.error('expected a number', t)

    def parse_range(self, mod):
        """Inside '(' ... ')': lo..hi or a single value, optional ', ...'."""
        lo = self.value(mod)
        hi = lo
        if self.accept('..'):
            hi = self.value(mod)
        ext = False
        if self.accept(','):
            self.expect('...')
            ext = True
        if lo == 'MIN' or hi == 'MAX' or lo == 'MAX' or hi == 'MIN':
            self.error('MIN/MAX bounds are not supported')
        if lo > hi:
            self.error('empty range %d..%d' % (lo, hi))
        return lo, hi, ext

    def parse_size(self, mod):
        """Parses '(SIZE (..))' or 'SIZE (..)' when present; returns (lo, hi) or None."""
        paren = False
        if self.peek().text == '(' and self.peek(1).text == 'SIZE':
            self.next()
            paren = True
        if not self.accept('SIZE'):
            return None
        self.expect('(')
        lo, hi, ext = self.parse_range(mod)
        self.expect(')')
        if paren:
            self.expect(')')
        if ext:
            self.error('extensible SIZE constraints are not supported')
        return lo, hi

    def parse_type(self, mod):
        # skip tags: [n], [APPLICATION n], IMPLICIT/EXPLICIT
        while self.peek().text == '[':
            self.next()
            while not self.accept(']'):
                self.next()
            self.accept('IMPLICIT') or self.accept('EXPLICIT')
        t = self.next()
        if t.kind != 'ident':
            self.error('expected a type', t)
        w = t.text
        if w == 'NULL' or w == 'BOOLEAN':
            return Builtin(w)
        if w == 'INTEGER':
            if self.peek().text == '{':
                self.error('INTEGER with named numbers is not supported')
            if self.accept('('):
                lo, hi, ext = self.parse_range(mod)
                self.expect(')')
                return Builtin('INTEGER', lo, hi, ext)
            return Builtin('INTEGER')
        if w == 'OCTET':
            self.expect('STRING')
            sz = self.parse_size(mod)
            return Builtin('OCTET STRING', *(sz or (None, None)))
        if w in _STRING_KINDS:
            sz = self.parse_size(mod)
            return Builtin(w, *(sz or (None, None)))
        if w == 'OBJECT':
            self.expect('IDENTIFIER')
            return Builtin('OBJECT IDENTIFIER')
        if w == 'ENUMERATED':
            return self.parse_enumerated(mod)
        if w in ('SEQUENCE', 'SET') and (self.peek().text in ('OF', 'SIZE') or
                                         (self.peek().text == '(' and self.peek(1).text == 'SIZE')):
            sz = self.parse_size(mod)
            self.expect('OF')
            # "SEQUENCE OF name Type" (named element) is allowed
            if self.peek().kind == 'ident' and self.peek().text[0].islower() and \
                    self.peek(1).kind == 'ident':
                self.next()
            elem = self.parse_type(mod)
            return SeqOf(elem, w == 'SET', *(sz or (None, None)))
        if w in ('SEQUENCE', 'CHOICE'):
            return self.parse_constructed(mod, w)
        if w in _UNSUPPORTED:
            self.error('type %s is not supported' % w, t)
        # type reference, maybe Module.Type
        if self.peek().text == '.' and self.peek(1).kind == 'ident':
            self.next()
            r = Ref(w, self.ident().text, t.line)
        else:
            r = Ref(None, w, t.line)
        if not w[0].isupper():
            self.error('expected a type reference', t)
        if self.peek().text == '(':
            self.error('constraints on referenced types are not supported', t)
        return r

    def parse_enumerated(self, mod):
        e = Enumerated()
        self.expect('{')
        in_ext = False
        prev = None
        while True:
            if self.accept('...'):
                if in_ext:
                    self.error('second extension marker in ENUMERATED')
                in_ext = True
                e.extensible = True
                e.root_count = len(e.items)
            else:
                name = self.ident()
                if not name.text[0].islower():
                    self.error('enumeration names start with a lower-case letter', name)
                if self.accept('('):
                    num = self.value(mod)
                    self.expect(')')
                    explicit = True
                else:
                    num = 0 if prev is None else prev + 1
                    explicit = False
                e.items.append((name.text, num, explicit))
                prev = num
            if self.accept('}'):
                break
            self.expect(',')
        if not in_ext:
            e.root_count = len(e.items)
        if e.root_count == 0:
            self.error('ENUMERATED without root names')
        names = [n for n, _, _ in e.items]
        if len(set(names)) != len(names):
            self.error('duplicate name in ENUMERATED')
        return e

    def parse_constructed(self, mod, kind):
        s = Sequence(kind)
        self.expect('{')
        if self.accept('}'):
            if kind == 'CHOICE':
                self.error('CHOICE without root alternatives')
            return s
        part = 0      # 0 root, 1 additions, 2 root again after the second marker
        while True:
            if self.accept('...'):
                if part == 0:
                    part = 1
                    s.extensible = True
                elif part == 1:
                    if kind == 'CHOICE':
                        self.error('second extension marker in CHOICE')
                    part = 2
                else:
                    self.error('third extension marker')
            elif self.peek().text == '[[':
                # A version group is one addition in PER; the runtime knows
                # only single additions, so groups are refused.
                self.error('version brackets are not supported; list the additions singly')
            else:
                c = self.component(mod, kind)
                (s.ext if part == 1 else s.root).append(c)
            if self.accept('}'):
                break
            self.expect(',')
        names = [c.name for c in s.root + s.ext]
        if len(set(names)) != len(names):
            self.error('duplicate component name in %s' % kind)
        if kind == 'CHOICE' and not s.root:
            self.error('CHOICE without root alternatives')
        return s

    def component(self, mod, kind):
        name = self.ident()
        if not name.text[0].islower():
            self.error('component names start with a lower-case letter', name)
        ty = self.parse_type(mod)
        optional = False
        if kind == 'SEQUENCE':
            if self.accept('OPTIONAL'):
                optional = True
            elif self.peek().text == 'DEFAULT':
                self.error('DEFAULT is not supported; write OPTIONAL')
        return Component(name.text, ty, optional, name.line)


def parse_file(path):
    with open(path, encoding='utf-8') as f:
        text = f.read()
    return Parser(text, path).parse_module()


def parse_text(text, name='<text>'):
    return Parser(text, name).parse_module()
