"""C++ output: one header and a few source files per module.

<M>.h            the classes of the module (constructors and enumeration
                 conversions inline, accessors declared)
<M>_tables.cpp   every constant description and its tables
<M>_access<k>.cpp the accessors, split so that no file grows large
catalog.cpp      the list of every module's descriptions (for tests and
                 diagnostics), of the SEQUENCE OF descriptions and of the modules
                 left out

SEQUENCE OF descriptions are the runtime template's constant data
(ASN1::SEQUENCE_OF<T>::theInfo), complete before main without any start-up
step; so is the SIZE-constrained IA5String description of a field.
"""

from asnmodel import ident, enum_facts

RUNTIME_INCLUDES = ['asn1/values/all.h']

CXX_KEYWORDS = set('''
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t char32_t
class compl const constexpr const_cast continue decltype default delete do double dynamic_cast
else enum explicit export extern false float for friend goto if inline int long mutable namespace
new noexcept not not_eq nullptr operator or or_eq private protected public register
reinterpret_cast return short signed sizeof static static_assert static_cast struct switch template
this thread_local throw true try typedef typeid typename union unsigned using virtual void volatile
wchar_t while xor xor_eq final override
NULL EOF errno stdin stdout stderr assert major minor
'''.split())

# Members of the runtime bases a nested tag type must not hide.
BASE_MEMBERS = set('''
info clone compare accept create getTag isValid isStrictlyValid print_on asValueNotation
setFromValueNotation get_from swap extendable currentSelection getSelection setSelection select
createSelection getSelectionName getSelectionTag isUnknownSelection getNumChoices setID getField
getFieldName getFieldTag tagMode hasOptionalField includeOptionalField removeOptionalField
asInt setFromInt getMaximum theInfo fieldInfos fieldIds fieldNames selectionInfos selectionNames
NamedNumber value_type do_compare do_clone do_accept getName setFromName getFieldId
getFieldInfo getElementInfo
'''.split())

ACCESS_CHUNK = 48      # descriptions per accessor file

# ref_<name>(): a reference to the held value, for the users that change a
# field or a selected alternative in place. Only these get one:
# (module, type) -> field or alternative names as written in the module.
REF_ACCESSORS = {
    ('MON', 'Command'): ('snmp-set',),
    ('MON', 'SnmpSetCommands'): ('commands',),
}


def safe(name):
    """A C++ identifier for a nested name or an enumerator."""
    n = ident(name)
    if n in CXX_KEYWORDS or n in BASE_MEMBERS:
        n += '_'
    return n


class CppEmitter(object):
    def __init__(self, schema, source_names):
        self.schema = schema
        self.source_names = source_names    # module -> source file name (for comments)

    def ref_fields(self, d):
        """The fields or alternatives of d that get a ref_ accessor."""
        names = REF_ACCESSORS.get((d.module, d.name), ())
        known = [f.name for f in d.fields]
        for n in names:
            if n not in known:
                raise ValueError('%s::%s has no component %s for a ref_ accessor' % (d.module, d.name, n))
        return [f for f in d.fields if f.name in names]

    # --- expressions ---
    def cls(self, e):
        """C++ class of a field type."""
        if e.kind == 'named':
            return '::%s::%s' % (e.desc.module, e.desc.cname)
        if e.kind == 'seqof':
            return '::ASN1::%s< %s, ::ASN1::EmptyConstraint >' % (
                'SET_OF' if e.is_set else 'SEQUENCE_OF', self.cls(e.elem))
        b = e.builtin
        k = b.kind
        if k == 'NULL':
            return '::ASN1::Null'
        if k == 'BOOLEAN':
            return '::ASN1::BOOLEAN'
        if k == 'INTEGER':
            if b.lo is None:
                return '::ASN1::INTEGER'
            return '::ASN1::Constrained_INTEGER< ::ASN1::FixedConstraint, %d, %dU >' % (b.lo, b.hi)
        if k == 'OCTET STRING':
            return '::ASN1::OCTET_STRING'
        if k == 'IA5String':
            return '::ASN1::IA5String'
        if k == 'OBJECT IDENTIFIER':
            return '::ASN1::OBJECT_IDENTIFIER'
        raise ValueError(k)

    def own_info(self, e):
        """True when the field's type needs a description of its own (SIZE on a string)."""
        return e.kind == 'builtin' and e.builtin.kind in ('IA5String', 'OCTET STRING') \
            and e.builtin.lo is not None

    def info(self, d, f):
        e = f.expr
        if self.own_info(e):
            return '&::%s::%s::%s::value_type::theInfo' % (d.module, d.cname, safe(f.name))
        return '&%s::theInfo' % self.cls(e)

    def arg(self, e):
        """Argument type of set_f(v) / select_a(v)."""
        if e.kind == 'builtin':
            k = e.builtin.kind
            if k == 'INTEGER':
                return 'int' if e.builtin.lo is None else 'unsigned int'
            if k == 'BOOLEAN':
                return 'bool'
            if k == 'OCTET STRING':
                return 'std::vector<char> const&'
            if k == 'IA5String':
                return 'std::string const&'
        if e.kind == 'named' and e.desc.kind == 'ENUMERATED':
            return '%s::NamedNumber' % self.cls(e)
        return '%s const&' % self.cls(e)

    # --- header ---
    def header(self, m):
        s = self.schema
        out = []
        guard = 'TSD_MESSAGES_%s_H' % m.upper()
        out.append('// Generated from %s by messages/gen/tsd_asngen.py; do not edit.' %
                   self.source_names[m])
        out.append('#ifndef %s\n#define %s\n' % (guard, guard))
        for inc in RUNTIME_INCLUDES:
            out.append('#include "%s"' % inc)
        out.append('#include <cstdint>\n#include <string>\n#include <type_traits>\n#include <vector>')
        for r in s.referenced_modules(m):
            out.append('#include "messages/%s.h"' % r)
        out.append('\nnamespace %s {\n' % m)
        descs = s.descs[m]
        enums = [d for d in descs if d.kind == 'ENUMERATED']
        others = [d for d in descs if d.kind != 'ENUMERATED']
        for d in enums:
            out.extend(self.enum_class(d))
        for d in others:
            out.append('class %s;' % d.cname)
        out.append('')
        # Class bodies need only the declarations above (accessor bodies are
        # in the source files), so definition order is the module's order.
        for d in others:
            out.extend(self.seq_class(d) if d.kind == 'SEQUENCE' else self.choice_class(d))
        out.append('} // namespace %s\n\n#endif' % m)
        return '\n'.join(out) + '\n'

    def enum_class(self, d):
        items = d.node.items
        c = d.cname
        L = ['class %s : public ::ASN1::ENUMERATED {' % c, 'public:']
        enumerators = []
        seen = {}
        for name, num, _ in items:
            n = safe(name)
            if n in seen:
                raise ValueError('%s::%s: enumeration names %s and %s give the same identifier'
                                 % (d.module, d.name, seen[n], name))
            seen[n] = name
            enumerators.append('%s = %d' % (n, num))
        L.append('    enum NamedNumber { %s };' % ', '.join(enumerators))
        L.append('    static ::ASN1::EnumeratedInfo const theInfo;')
        L.append('    %s() : ::ASN1::ENUMERATED(&theInfo) {}' % c)
        L.append('    %s(NamedNumber v) : ::ASN1::ENUMERATED(&theInfo) { setFromInt(v); }' % c)
        L.extend(self.special_members(c))
        L.append('    %s& operator=(NamedNumber v) { setFromInt(v); return *this; }' % c)
        L.append('    operator NamedNumber() const { return NamedNumber(asInt()); }')
        L.append('    %s* clone() const { return static_cast<%s*>(::ASN1::AbstractData::clone()); }' % (c, c))
        for name, num, _ in items:
            n = ident(name)
            L.append('    void set_%s() { setFromInt(%d); }' % (n, num))
            L.append('    bool is_%s() const { return asInt() == %d; }' % (n, num))
        L.append('};\n')
        return L

    def special_members(self, c):
        return ['    %s(%s const&) = default;' % (c, c),
                '    %s& operator=(%s const&) = default;' % (c, c),
                '    ~%s() override;' % c]

    def nested_info_structs(self, d):
        L = []
        for f in d.fields:
            if self.own_info(f.expr):
                t = 'StringInfo' if f.expr.builtin.kind == 'IA5String' else 'ConstrainedInfo'
                L.append('    struct %s { struct value_type { static ::ASN1::%s const theInfo; }; };'
                         % (safe(f.name), t))
        return L

    def seq_class(self, d):
        c = d.cname
        L = ['class %s : public ::ASN1::SEQUENCE {' % c, 'public:']
        L.append('    static ::ASN1::SequenceInfo const theInfo;')
        if d.fields:
            L.append('    static void const* const fieldInfos[%d];' % len(d.fields))
            L.append('    static std::int32_t const fieldIds[%d];' % len(d.fields))
            L.append('    static char const* const fieldNames[%d];' % len(d.fields))
        L.extend(self.nested_info_structs(d))
        L.append('    %s() : ::ASN1::SEQUENCE(&theInfo) {}' % c)
        L.extend(self.special_members(c))
        L.append('    %s* clone() const { return static_cast<%s*>(::ASN1::AbstractData::clone()); }' % (c, c))
        for f in d.fields:
            t = self.cls(f.expr)
            n = f.cname
            L.append('    %s const& get_%s() const;' % (t, n))
            L.append('    %s& set_%s();' % (t, n))
            L.append('    void set_%s(%s v);' % (n, self.arg(f.expr)))
            if f.optional or f.ext_index is not None:
                L.append('    void omit_%s();' % n)
                L.append('    bool %s_isPresent() const;' % n)
        for f in self.ref_fields(d):
            L.append('    // The field\'s value, included first when OPTIONAL.')
            L.append('    %s& ref_%s();' % (self.cls(f.expr), f.cname))
        L.append('};\n')
        return L

    def choice_class(self, d):
        c = d.cname
        L = ['class %s : public ::ASN1::CHOICE {' % c, 'public:']
        L.append('    static ::ASN1::ChoiceInfo const theInfo;')
        L.append('    static void const* const selectionInfos[%d];' % len(d.fields))
        L.append('    static char const* const selectionNames[%d];' % len(d.fields))
        for k, f in enumerate(d.fields):
            L.append('    struct %s { using Id = std::integral_constant<int, %d>; };' % (safe(f.name), k))
        L.extend(self.nested_info_structs(d))
        L.append('    %s() : ::ASN1::CHOICE(&theInfo, -1, nullptr) {}' % c)
        L.extend(self.special_members(c))
        L.append('    %s* clone() const { return static_cast<%s*>(::ASN1::AbstractData::clone()); }' % (c, c))
        for k, f in enumerate(d.fields):
            t = self.cls(f.expr)
            n = f.cname
            L.append('    %s(%s::Id, %s v);' % (c, safe(f.name), self.arg(f.expr)))
            L.append('    %s& select_%s();' % (t, n))
            L.append('    void select_%s(%s v);' % (n, self.arg(f.expr)))
            L.append('    %s const& get_%s() const;' % (t, n))
            L.append('    bool %s_isSelected() const { return currentSelection() == %d; }' % (n, k))
        for f in self.ref_fields(d):
            L.append('    // The held value of the alternative; selects a new default one when')
            L.append('    // another alternative (or none) is held.')
            L.append('    %s& ref_%s();' % (self.cls(f.expr), f.cname))
        L.append('};\n')
        return L

    # --- accessors ---
    def access_chunks(self, m):
        descs = [d for d in self.schema.descs[m] if d.kind != 'ENUMERATED']
        chunks = [descs[i:i + ACCESS_CHUNK] for i in range(0, len(descs), ACCESS_CHUNK)]
        return chunks or [[]]

    def access_file(self, m, descs):
        out = ['// Generated from %s by messages/gen/tsd_asngen.py; do not edit.' %
               self.source_names[m], '#include "messages/%s.h"' % m, '#include "messages/absent.h"\n',
               'namespace %s {\n' % m]
        for d in descs:
            c = d.cname
            out.append('%s::~%s() = default;' % (c, c))
            if d.kind == 'SEQUENCE':
                for i, f in enumerate(d.fields):
                    t = self.cls(f.expr)
                    n = f.cname
                    bit = f.bit if f.ext_index is None else d.opt_count + f.ext_index
                    if f.optional or f.ext_index is not None:
                        out.append('%s const& %s::get_%s() const { ::ASN1::AbstractData const* v = getField(%d); '
                                   'return v ? static_cast<%s const&>(*v) : ::Messages::absentValue<%s>(); }'
                                   % (t, c, n, i, t, t))
                    else:
                        out.append('%s const& %s::get_%s() const { return static_cast<%s const&>(*getField(%d)); }'
                                   % (t, c, n, t, i))
                    if f.optional or f.ext_index is not None:
                        out.append('%s& %s::set_%s() { includeOptionalField(%d, %d); return static_cast<%s&>(*getField(%d)); }'
                                   % (t, c, n, bit, i, t, i))
                        out.append('void %s::omit_%s() { removeOptionalField(%d); }' % (c, n, bit))
                        out.append('bool %s::%s_isPresent() const { return hasOptionalField(%d); }' % (c, n, bit))
                    else:
                        out.append('%s& %s::set_%s() { return static_cast<%s&>(*getField(%d)); }' % (t, c, n, t, i))
                    out.append('void %s::set_%s(%s v) { set_%s() = v; }' % (c, n, self.arg(f.expr), n))
                for f in self.ref_fields(d):
                    out.append('%s& %s::ref_%s() { return set_%s(); }' % (self.cls(f.expr), c, f.cname, f.cname))
            else:
                for k, f in enumerate(d.fields):
                    t = self.cls(f.expr)
                    n = f.cname
                    out.append('%s::%s(%s::Id, %s v) : ::ASN1::CHOICE(&theInfo, -1, nullptr) { select_%s(v); }'
                               % (c, c, safe(f.name), self.arg(f.expr), n))
                    out.append('%s& %s::select_%s() { return static_cast<%s&>(*setSelection(%d, ::ASN1::AbstractData::create(selectionInfos[%d]))); }'
                               % (t, c, n, t, k, k))
                    out.append('void %s::select_%s(%s v) { select_%s() = v; }' % (c, n, self.arg(f.expr), n))
                    out.append('%s const& %s::get_%s() const { return currentSelection() == %d && getSelection() ? '
                               'static_cast<%s const&>(*getSelection()) : ::Messages::heldAs<%s>(getSelection()); }'
                               % (t, c, n, k, t, t))
                for f in self.ref_fields(d):
                    k = d.fields.index(f)
                    t = self.cls(f.expr)
                    out.append('%s& %s::ref_%s() { if (currentSelection() != %d || !getSelection()) select_%s(); '
                               'return static_cast<%s&>(*getSelection()); }' % (t, c, f.cname, k, f.cname, t))
            out.append('')
        out.append('} // namespace %s' % m)
        return '\n'.join(out) + '\n'

    # --- tables ---
    def enum_names(self, d):
        names = []
        prev = None
        for name, num, _ in d.node.items:
            expect = 0 if prev is None else prev + 1
            names.append('"%s"' % name if num == expect else '"%s=%d"' % (name, num))
            prev = num
        return names

    def tables_file(self, m):
        s = self.schema
        out = ['// Generated from %s by messages/gen/tsd_asngen.py; do not edit.' %
               self.source_names[m], '#include "messages/%s.h"\n' % m, 'namespace %s {\n' % m]
        for d in s.descs[m]:
            c = d.cname
            if d.kind == 'ENUMERATED':
                nums, mx, _ = enum_facts(d)
                out.append('namespace {\nchar const* const %s_enum_names__[] = { %s, nullptr };\n}'
                           % (c, ', '.join(self.enum_names(d))))
                out.append('::ASN1::EnumeratedInfo const %s::theInfo = { { &::ASN1::createAs<%s>, 10 }, %s, %d, %s_enum_names__ };'
                           % (c, c, 'true' if d.extensible else 'false', mx, c))
                out.append('%s::~%s() = default;\n' % (c, c))
                continue
            for f in d.fields:
                if self.own_info(f.expr):
                    out.append(self.own_info_def(d, f))
            n = len(d.fields)
            if d.kind == 'SEQUENCE':
                if n:
                    out.append('void const* const %s::fieldInfos[%d] = { %s };' % (
                        c, n, ', '.join(self.info(d, f) for f in d.fields)))
                    out.append('std::int32_t const %s::fieldIds[%d] = { %s };' % (
                        c, n, ', '.join(str(f.bit if f.bit is not None else (0 if f.ext_index is not None else -1))
                                        for f in d.fields)))
                    out.append('char const* const %s::fieldNames[%d] = { %s };' % (
                        c, n, ', '.join('"%s"' % f.name for f in d.fields)))
                tab = (c + '::fieldInfos', c + '::fieldIds', c + '::fieldNames') if n else ('nullptr',) * 3
                out.append('::ASN1::SequenceInfo const %s::theInfo = { { &::ASN1::createAs<%s>, 0x10 }, %s, %s, %s, %d, %d, %d, nullptr, nullptr, %s };\n'
                           % (c, c, 'true' if d.extensible else 'false', tab[0], tab[1], d.root_count,
                              n - d.root_count, d.opt_count, tab[2]))
            else:
                out.append('void const* const %s::selectionInfos[%d] = { %s };' % (
                    c, n, ', '.join(self.info(d, f) for f in d.fields)))
                out.append('char const* const %s::selectionNames[%d] = { %s };' % (
                    c, n, ', '.join('"%s"' % f.name for f in d.fields)))
                out.append('::ASN1::ChoiceInfo const %s::theInfo = { { &::ASN1::createAs<%s>, 0 }, %s, %s::selectionInfos, %d, %d, nullptr, %s::selectionNames };\n'
                           % (c, c, 'true' if d.extensible else 'false', c, d.root_count, n, c))
        out.append('} // namespace %s' % m)
        return '\n'.join(out) + '\n'

    def own_info_def(self, d, f):
        b = f.expr.builtin
        name = '%s::%s::value_type::theInfo' % (d.cname, safe(f.name))
        if b.kind == 'IA5String':
            return ('::ASN1::StringInfo const %s = { { { &::ASN1::IA5String::create, 22 }, '
                    '{ ::ASN1::FixedConstraint, %d, %dU } }, ::ASN1::IA5StringSet, 128, 7, 7, 8 };'
                    % (name, b.lo, b.hi))
        return ('::ASN1::ConstrainedInfo const %s = { { &::ASN1::OCTET_STRING::create, 4 }, { ::ASN1::FixedConstraint, %d, %dU } };'
                % (name, b.lo, b.hi))

    def catalog(self, skipped):
        s = self.schema
        out = ['// Generated by messages/gen/tsd_asngen.py; do not edit.',
               '#include "messages/catalog.h"']
        for m in s.order:
            out.append('#include "messages/%s.h"' % m)
        out.append('\nnamespace Messages {\nnamespace {\n')
        kinds = {'SEQUENCE': 'SequenceKind', 'CHOICE': 'ChoiceKind', 'ENUMERATED': 'EnumeratedKind'}
        for m in s.order:
            rows = ['    { "%s", "%s", %s, &::%s::%s::theInfo },' % (m, d.cname, kinds[d.kind], m, d.cname)
                    for d in s.descs[m]]
            out.append('TypeEntry const %s_types[] = {\n%s\n};' % (m, '\n'.join(rows)))
        out.append('\n} // namespace\n')
        rows = ['    { "%s", %s_types, %d },' % (m, m, len(s.descs[m])) for m in s.order]
        out.append('ModuleEntry const catalogModules[] = {\n%s\n    { nullptr, nullptr, 0 }\n};' % '\n'.join(rows))
        rows = ['    "%s",' % x for x in skipped]
        out.append('char const* const catalogSkipped[] = {\n%s\n    nullptr\n};' % '\n'.join(rows))
        seen = {}
        for d in s.all_descs():
            for f in d.fields:
                for e in f.expr.seqofs():
                    seen.setdefault(e.key(), e)
        rows = ['    &%s::theInfo,' % self.cls(e) for _, e in sorted(seen.items(), key=lambda kv: self.cls(kv[1]))]
        out.append('void const* const catalogSequenceOfs[] = {\n%s\n    nullptr\n};' % '\n'.join(rows))
        out.append('\n} // namespace Messages')
        return '\n'.join(out) + '\n'
