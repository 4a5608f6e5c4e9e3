"""Resolution of parsed modules into the described types.

Every SEQUENCE, CHOICE and ENUMERATED gets one description and one class.
Inline ones are named <Outer>_<field>; the constructed element of an inline
SEQUENCE OF is named <Outer>_subtype (where Outer is the name the SEQUENCE OF
itself has: a type assignment's name, or <Type>_<field> for a field).
Other assignments (SEQUENCE OF, constrained INTEGER, references) are aliases
resolved where they are used.
"""

from asnparse import AsnError, Builtin, Ref, SeqOf, Sequence, Enumerated


def ident(name):
    """C++ identifier of an ASN.1 name: every '-' becomes '_'."""
    return name.replace('-', '_')


class Expr(object):
    """A resolved field type."""

    def __init__(self, kind, desc=None, builtin=None, elem=None, is_set=False):
        self.kind = kind          # 'named', 'builtin', 'seqof'
        self.desc = desc          # TypeDesc for 'named'
        self.builtin = builtin    # parse Builtin for 'builtin'
        self.elem = elem          # Expr for 'seqof'
        self.is_set = is_set

    def key(self):
        if self.kind == 'named':
            return ('named', self.desc.module, self.desc.cname)
        if self.kind == 'builtin':
            b = self.builtin
            return ('builtin', b.kind, b.lo, b.hi, b.ext)
        return ('seqof', self.is_set, self.elem.key())

    def seqofs(self):
        """Every SEQUENCE OF expression inside this one (nested first)."""
        if self.kind == 'seqof':
            return self.elem.seqofs() + [self]
        return []


class Field(object):
    def __init__(self, name, expr, optional, bit, ext_index, line):
        self.name = name          # printable name as written
        self.cname = ident(name)
        self.expr = expr
        self.optional = optional
        self.bit = bit            # OPTIONAL bit of a root field, else None
        self.ext_index = ext_index  # index among the extension additions, else None
        self.line = line


class TypeDesc(object):
    def __init__(self, module, name, node, line):
        self.module = module      # module name
        self.name = name          # name as written (may hold '-')
        self.cname = ident(name)
        self.node = node          # Sequence or Enumerated parse node
        self.kind = node.kind     # 'SEQUENCE', 'CHOICE', 'ENUMERATED'
        self.line = line
        self.fields = []          # SEQUENCE fields / CHOICE alternatives, root then additions
        self.root_count = 0
        self.opt_count = 0
        self.extensible = getattr(node, 'extensible', False)
        self.resolved = False

    def qname(self):
        return '%s::%s' % (self.module, self.cname)


class Schema(object):
    def __init__(self, modules):
        self.modules = {}
        self.order = []
        for m in modules:
            if m.name in self.modules:
                raise AsnError('module %s defined twice' % m.name, m.file)
            self.modules[m.name] = m
            self.order.append(m.name)
        self.descs = {}           # module -> [TypeDesc] in definition order
        self.by_name = {}         # (module, name) -> TypeDesc
        self.aliases = {}         # (module, name) -> parse type
        self.expr_cache = {}
        self.resolving = set()
        for name in self.order:
            self._collect(self.modules[name])
        for name in self.order:
            for d in list(self.descs[name]):
                self._resolve_desc(d)
        # every alias must resolve too (catches dangling references)
        for (mname, aname) in list(self.aliases):
            self._alias_expr(mname, aname, self.modules[mname].types[0].line)

    # --- collection of the described types ---
    def _add(self, module, name, node, line):
        key = (module.name, ident(name))
        if key in self.by_name:
            raise AsnError('type %s defined twice (C++ name %s)' % (name, ident(name)), module.file, line)
        d = TypeDesc(module.name, name, node, line)
        self.by_name[key] = d
        self.descs[module.name].append(d)
        return d

    def _collect(self, module):
        self.descs[module.name] = []
        seen = set()
        for a in module.types:
            if a.name in seen:
                raise AsnError('type %s assigned twice' % a.name, module.file, a.line)
            seen.add(a.name)
            self._collect_type(module, a.name, a.type, a.line, top=True)
        for sym, src in module.imports.items():
            if src not in self.modules:
                raise AsnError('module %s imports %s from unknown module %s' % (module.name, sym, src),
                               module.file)

    def _collect_type(self, module, name, t, line, top=False):
        """Registers the described types found in t (named 'name')."""
        if isinstance(t, (Sequence, Enumerated)):
            d = self._add(module, name, t, line)
            t.desc = d
            if isinstance(t, Sequence):
                for c in t.root + t.ext:
                    self._collect_type(module, name + '_' + c.name, c.type, c.line)
        elif isinstance(t, SeqOf):
            self._collect_type(module, name + '_subtype', t.elem, line)
            if top:
                self.aliases[(module.name, name)] = t
        elif top:
            self.aliases[(module.name, name)] = t

    # --- resolution ---
    def _lookup(self, mname, ref):
        module = self.modules[mname]
        target = ref.module
        if target is None:
            if (mname, ident(ref.name)) in self.by_name or (mname, ref.name) in self.aliases:
                target = mname
            elif ref.name in module.imports:
                target = module.imports[ref.name]
            else:
                raise AsnError('unknown type %s' % ref.name, module.file, ref.line)
        if target not in self.modules:
            raise AsnError('unknown module %s' % target, module.file, ref.line)
        if (target, ident(ref.name)) in self.by_name:
            return Expr('named', desc=self.by_name[(target, ident(ref.name))])
        if (target, ref.name) in self.aliases:
            return self._alias_expr(target, ref.name, ref.line)
        raise AsnError('module %s has no type %s' % (target, ref.name), module.file, ref.line)

    def _alias_expr(self, mname, aname, line):
        key = (mname, aname)
        if key in self.expr_cache:
            return self.expr_cache[key]
        if key in self.resolving:
            raise AsnError('circular type alias %s' % aname, self.modules[mname].file, line)
        self.resolving.add(key)
        e = self._expr(mname, self.aliases[key], aname)
        self.resolving.discard(key)
        self.expr_cache[key] = e
        return e

    def _expr(self, mname, t, name):
        """Expression of parse type t written where the name would be 'name'."""
        if isinstance(t, (Sequence, Enumerated)):
            return Expr('named', desc=t.desc)
        if isinstance(t, Builtin):
            return Expr('builtin', builtin=t)
        if isinstance(t, SeqOf):
            if t.lo is not None:
                raise AsnError('SIZE constraints on SEQUENCE OF are not supported (%s)' % name,
                               self.modules[mname].file)
            return Expr('seqof', elem=self._expr(mname, t.elem, name + '_subtype'), is_set=t.is_set)
        if isinstance(t, Ref):
            return self._lookup(mname, t)
        raise AsnError('unsupported type in %s' % name, self.modules[mname].file)

    def _resolve_desc(self, d):
        node = d.node
        if d.kind == 'ENUMERATED':
            return
        bit = 0
        seen = set()
        for i, c in enumerate(node.root + node.ext):
            is_ext = i >= len(node.root)
            e = self._expr(d.module, c.type, d.name + '_' + c.name)
            if e.kind == 'builtin' and e.builtin.ext:
                raise AsnError('extensible constraints are not supported (%s.%s)' % (d.name, c.name),
                               self.modules[d.module].file, c.line)
            b = None
            if c.optional and not is_ext:
                b = bit
                bit += 1
            f = Field(c.name, e, c.optional, b, (i - len(node.root)) if is_ext else None, c.line)
            if f.cname in seen:
                raise AsnError('two components of %s give the identifier %s' % (d.name, f.cname),
                               self.modules[d.module].file, c.line)
            seen.add(f.cname)
            d.fields.append(f)
        d.root_count = len(node.root)
        d.opt_count = bit
        d.resolved = True

    # --- queries ---
    def all_descs(self):
        for m in self.order:
            for d in self.descs[m]:
                yield d

    def referenced_modules(self, mname):
        """Modules whose types the module's descriptions refer to (itself excluded)."""
        out = set()

        def walk(e):
            if e.kind == 'named':
                if e.desc.module != mname:
                    out.add(e.desc.module)
            elif e.kind == 'seqof':
                walk(e.elem)
        for d in self.descs[mname]:
            for f in d.fields:
                walk(f.expr)
        return sorted(out)


def enum_facts(d):
    """(root numbers, maximum, contiguous-from-zero-without-duplicates)."""
    root = d.node.root_items()
    nums = [n for _, n, _ in root]
    mx = max(nums)
    plain = nums == list(range(len(nums)))
    return nums, mx, plain
