#include "asn1/values/visitor.h"

#include "asn1/values/primitives.h"
#include "asn1/values/sequence.h"
#include "asn1/values/sequence_of.h"
#include "asn1/values/strings.h"

namespace ASN1 {

// ---- ConstVisitor defaults ---------------------------------------------------

bool ConstVisitor::do_visit(Null const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BOOLEAN const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(INTEGER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& v)
{
    return do_visit(static_cast<INTEGER const&>(v));
}
bool ConstVisitor::do_visit(ENUMERATED const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& v)
{
    return do_visit(static_cast<AbstractData const&>(v));
}
bool ConstVisitor::do_visit(BIT_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OCTET_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(AbstractString const& v)
{
    return do_visit(static_cast<AbstractData const&>(v));
}
bool ConstVisitor::do_visit(BMPString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(CHOICE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OpenData const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(GeneralizedTime const& v)
{
    return do_visit(static_cast<AbstractData const&>(v));
}
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& v)
{
    return do_visit(static_cast<AbstractData const&>(v));
}
bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& v)
{
    return do_visit(static_cast<AbstractData const&>(v));
}

// ---- reading walk ------------------------------------------------------------

bool ConstVisitor::visit(SEQUENCE const& seq)
{
    if (!preVisitExtensionRoots(seq))
        return false;
    unsigned const roots = seq.getNumRootFields();
    int lastBit = -1;
    for (unsigned i = 0; i < roots; ++i) {
        int id = seq.getFieldId(i);
        if (id != -1)
            lastBit = id;
        if (id == -1 || seq.hasOptionalField(unsigned(id))) {
            if (!visitExtensionRoot(seq, int(i)))
                return false;
        }
    }
    if (seq.getExtensionMap().any()) {
        if (!preVisitExtensions(seq))
            return false;
        unsigned const known = seq.getNumKnownExtensions();
        for (unsigned j = 0; j < known; ++j) {
            unsigned bit = unsigned(++lastBit);
            if (seq.hasOptionalField(bit) && !visitKnownExtension(seq, int(roots + j)))
                return false;
        }
    }
    return afterVisitSequence(seq);
}

// ---- Visitor -------------------------------------------------------------------

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return do_visit(static_cast<INTEGER&>(v)); }

bool Visitor::visit(SEQUENCE& seq)
{
    int const first = preVisitExtensionRoots(seq);
    if (first <= Stop)
        return first != Fail;
    unsigned const roots = seq.getNumRootFields();
    int lastBit = -1;
    for (unsigned i = 0; i < roots; ++i) {
        int id = seq.getFieldId(i);
        int result = visitExtensionRoot(seq, int(i), id);
        if (result <= Stop)
            return result != Fail;
        if (id != -1)
            lastBit = id;
    }
    if (first != ContinueAll)
        return true;
    int result = preVisitExtensions(seq);
    if (result != ContinueAll)
        return result != Fail;
    unsigned const known = seq.getNumKnownExtensions();
    for (unsigned j = 0; j < known; ++j) {
        int bit = ++lastBit;
        result = visitKnownExtension(seq, int(roots + j), bit);
        if (result != ContinueAll)
            return result != Fail;
    }
    return visitUnknownExtensions(seq);
}

} // namespace ASN1
