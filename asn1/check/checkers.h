// Validity checkers: judge a value against the constraints of its type.
//
//   value.isValid()           acceptable, allowing what extensible types and
//                             constraints admit beyond their root
//   value.isStrictlyValid()   every root constraint kept
//   trace_invalid(os, "bad: ", value)
//                             writes one line naming the first offending
//                             component and why, e.g.
//                             "bad: .b[2] The INTEGER value 7 is greater than upper bound 3"
//
// An INTEGER is read as unsigned only when its type's range reaches above
// the int range from a lower bound of 0 or more (unsignedRange), as signed
// otherwise; an unconstrained INTEGER holds any 32-bit value.
#ifndef TSD_ASN1_CHECK_CHECKERS_H
#define TSD_ASN1_CHECK_CHECKERS_H

#include "asn1/values/all.h"

#include <ostream>
#include <sstream>
#include <string>

namespace ASN1 {

// The INTEGER holds an unsigned number: its type has a real upper bound
// above 2147483647 and a lower bound of 0 or more (0..4294967295). The
// checkers and the BER encoder read it so.
bool unsignedRange(INTEGER const& v);

class ValidChecker : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    bool do_visit(Null const&) override { return true; }
    bool do_visit(BOOLEAN const&) override { return true; }
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool visitExtensionRoot(SEQUENCE const& seq, int index) override;
    bool visitKnownExtension(SEQUENCE const& seq, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    bool do_visit(Null const&) override { return true; }
    bool do_visit(BOOLEAN const&) override { return true; }
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool visitExtensionRoot(SEQUENCE const& seq, int index) override;
    bool visitKnownExtension(SEQUENCE const& seq, int index) override;
};

// Finds the first component that is not valid and collects, in its text,
// the path to it (".field", "[index]", ".alternative") and a message that
// starts with a blank.
class InvalidTracer : public ConstVisitor {
public:
    std::string text() const { return text_.str(); }

    using ConstVisitor::do_visit;
    bool do_visit(Null const&) override { return true; }
    bool do_visit(BOOLEAN const&) override { return true; }
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool visitExtensionRoot(SEQUENCE const& seq, int index) override;
    bool visitKnownExtension(SEQUENCE const& seq, int index) override;

private:
    bool sizeCheck(char const* what, ConstrainedObject const& v, unsigned size);

    std::stringstream text_;
};

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer);

// True (nothing written) when the value is valid; otherwise writes prefix,
// the trace and a line end to os and answers false.
bool trace_invalid(std::ostream& os, std::string const& prefix, AbstractData const& value);

// Answers true when the value's BER encoding is primitive: false for a
// SEQUENCE, SEQUENCE OF and SET OF; a CHOICE answers for its selection and
// an open type for its decoded value (constructed when there is none).
class PrimitiveChecker : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    bool do_visit(AbstractData const&) override { return true; }
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(SEQUENCE_OF_Base const&) override { return false; }
    bool preVisitExtensionRoots(SEQUENCE const&) override { return false; }
};

} // namespace ASN1

#endif
