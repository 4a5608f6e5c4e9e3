#include "asn1/values/primitives.h"

#include "asn1/values/detail.h"
#include "asn1/values/visitor.h"

#include <algorithm>

namespace ASN1 {

namespace {

// Appends v in base 128, most significant group first, bit 8 set on every
// group but the last.
void appendSubidentifier(std::vector<char>& out, std::uint64_t v)
{
    char groups[10];
    int n = 0;
    do {
        groups[n++] = static_cast<char>(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n > 1)
        out.push_back(static_cast<char>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

} // namespace

const TypeInfo OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

AbstractData* OBJECT_IDENTIFIER::create(void const* info) { return new OBJECT_IDENTIFIER(info); }

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const
{
    if (arcs_.size() < 2) {
        out.clear();
        return;
    }
    std::vector<char> contents;
    // Computed on 64 bits: 2.x with a large x does not wrap.
    appendSubidentifier(contents, std::uint64_t(arcs_[0]) * 40 + arcs_[1]);
    for (std::size_t i = 2; i < arcs_.size(); ++i)
        appendSubidentifier(contents, arcs_[i]);
    out.insert(out.begin(), contents.begin(), contents.end());
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* data, unsigned length)
{
    arcs_.clear();
    if (length == 0)
        return true;
    // The subidentifiers are kept as read, after a leading 0 arc; once the
    // contents end on a complete subidentifier the first one is split into
    // the first two arcs. Contents that end inside a subidentifier leave
    // the ones read so far.
    arcs_.push_back(0);
    std::uint64_t first = 0;  // may exceed 32 bits (2.x with a large x)
    std::uint64_t v = 0;
    bool inside = false;
    for (unsigned i = 0; i < length; ++i) {
        unsigned char octet = static_cast<unsigned char>(data[i]);
        v = (v << 7) | (octet & 0x7F);
        inside = (octet & 0x80) != 0;
        // An arc wider than 32 bits (the first subidentifier may reach
        // 2 * 40 + 0xFFFFFFFF) would lose its high bits: refuse it.
        std::uint64_t limit = arcs_.size() == 1 ? 0xFFFFFFFFull + 80 : 0xFFFFFFFFull;
        if (v > limit)
            return false;
        if (inside)
            continue;
        if (arcs_.size() == 1)
            first = v;
        arcs_.push_back(static_cast<std::uint32_t>(v));
        v = 0;
    }
    if (inside)
        return false;  // the contents end inside a subidentifier
    if (first < 40) {
        arcs_[1] = static_cast<std::uint32_t>(first);
    } else if (first < 80) {
        arcs_[0] = 1;
        arcs_[1] = static_cast<std::uint32_t>(first - 40);
    } else {
        arcs_[0] = 2;
        arcs_[1] = static_cast<std::uint32_t>(first - 80);
    }
    return true;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const
{
    OBJECT_IDENTIFIER const* o = detail::sameKind<OBJECT_IDENTIFIER>(other);
    if (!o)
        return 1;
    std::size_t n = std::min(arcs_.size(), o->arcs_.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (arcs_[i] != o->arcs_[i])
            return detail::difference(arcs_[i], o->arcs_[i]);
    }
    return detail::difference(static_cast<long long>(arcs_.size()), static_cast<long long>(o->arcs_.size()));
}

AbstractData* OBJECT_IDENTIFIER::do_clone() const { return detail::cloneAs(*this); }
bool OBJECT_IDENTIFIER::do_accept(Visitor& v) { return v.visit(*this); }
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

} // namespace ASN1
