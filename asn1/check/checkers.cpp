// Validity checkers and the invalid-value tracer.
#include "asn1/check/checkers.h"

#include <climits>
#include <cstdint>

namespace ASN1 {

namespace {

// Bounds of a constrained kind read as sizes (lower taken as unsigned).
bool sizeAtLeastLower(ConstrainedObject const& v, unsigned size)
{
    return size >= static_cast<unsigned>(v.getLowerLimit());
}

// The upper bound is a bound for fixed and extensible constraints and for
// the "no constraint" words (0 .. 0xFFFFFFFF); not for a lower bound only.
bool hasUpperBound(ConstrainedObject const& v)
{
    return v.getConstraintType() != PartiallyConstrained;
}

bool sizeStrict(ConstrainedObject const& v, unsigned size)
{
    return sizeAtLeastLower(v, size) && (!hasUpperBound(v) || size <= v.getUpperLimit());
}

bool sizeValid(ConstrainedObject const& v, unsigned size)
{
    return sizeAtLeastLower(v, size) &&
           (!hasUpperBound(v) || v.extendable() || size <= v.getUpperLimit());
}

bool timeValid(GeneralizedTime const& t)
{
    return t.getYear() > 0 && t.getMonth() >= 1 && t.getMonth() <= 12 && t.getDay() >= 1 &&
           t.getDay() <= 31 && t.getHour() >= 0 && t.getHour() <= 24 && t.getMinute() >= 0 &&
           t.getMinute() <= 59 && t.getSecond() >= 0 && t.getSecond() <= 59 &&
           t.getMinutesFromUTC() >= -720 && t.getMinutesFromUTC() <= 720;
}

bool fieldValid(SEQUENCE const& seq, int index, bool strict)
{
    AbstractData const* field = seq.getField(static_cast<unsigned>(index));
    if (!field)
        return false;
    return strict ? field->isStrictlyValid() : field->isValid();
}

} // namespace

// Only a range with a real upper bound above the int range (0..4294967295)
// holds an unsigned number, since only that way it fits; every other
// constrained INTEGER holds a signed one.
bool unsignedRange(INTEGER const& v)
{
    return v.constrained() && v.getConstraintType() != PartiallyConstrained && v.getLowerLimit() >= 0 &&
           v.getUpperLimit() > static_cast<unsigned>(INT_MAX);
}

// ---- per-class judges -------------------------------------------------------------

bool INTEGER::isStrictValid() const
{
    if (!constrained())
        return true;
    bool const hasUpper = getConstraintType() != PartiallyConstrained;
    if (unsignedRange(*this)) {
        std::uint32_t const u = static_cast<std::uint32_t>(getValue());
        return u >= static_cast<std::uint32_t>(getLowerLimit()) && (!hasUpper || u <= getUpperLimit());
    }
    std::int64_t const s = getValue();
    return s >= getLowerLimit() && (!hasUpper || s <= static_cast<std::int64_t>(getUpperLimit()));
}

bool INTEGER::isValid() const
{
    return isStrictValid() || extendable();
}

bool ENUMERATED::isStrictlyValid() const
{
    return asInt() <= getMaximum();
}

bool ENUMERATED::isValid() const
{
    return extendable() || isStrictlyValid();
}

bool OBJECT_IDENTIFIER::isStrictlyValid() const { return levels() > 0; }
bool OBJECT_IDENTIFIER::isValid() const { return levels() > 0; }

bool BIT_STRING::isStrictlyValid() const { return sizeStrict(*this, size()); }
bool BIT_STRING::isValid() const
{
    return sizeAtLeastLower(*this, size()) &&
           (getConstraintType() != FixedConstraint || size() <= getUpperLimit());
}

bool OCTET_STRING::isStrictlyValid() const
{
    return sizeStrict(*this, static_cast<unsigned>(size()));
}
bool OCTET_STRING::isValid() const
{
    unsigned const n = static_cast<unsigned>(size());
    return sizeAtLeastLower(*this, n) && (getConstraintType() != FixedConstraint || n <= getUpperLimit());
}

bool AbstractString::isStrictlyValid() const
{
    return sizeStrict(*this, static_cast<unsigned>(size())) && find_first_invalid() < 0;
}
bool AbstractString::isValid() const
{
    return sizeValid(*this, static_cast<unsigned>(size())) && find_first_invalid() < 0;
}

bool BMPString::isStrictlyValid() const
{
    return sizeStrict(*this, static_cast<unsigned>(size())) && first_illegal_at() == size();
}
bool BMPString::isValid() const
{
    return sizeValid(*this, static_cast<unsigned>(size())) && first_illegal_at() == size();
}

bool GeneralizedTime::isStrictlyValid() const { return timeValid(*this); }
bool GeneralizedTime::isValid() const { return timeValid(*this); }

bool CHOICE::isStrictlyValid() const
{
    int const index = currentSelection();
    AbstractData const* selection = getSelection();
    return index >= 0 && static_cast<unsigned>(index) < getNumChoices() && selection &&
           selection->isStrictlyValid();
}

bool CHOICE::isValid() const
{
    int const index = currentSelection();
    AbstractData const* selection = getSelection();
    if (index < 0 || !selection)
        return false;
    if (static_cast<unsigned>(index) >= getNumChoices() && !extendable())
        return false;
    return selection->isValid();
}

bool SEQUENCE_OF_Base::isStrictlyValid() const
{
    if (!sizeStrict(*this, size()))
        return false;
    for (AbstractData const* element : *this)
        if (!element->isStrictlyValid())
            return false;
    return true;
}

bool SEQUENCE_OF_Base::isValid() const
{
    if (!sizeValid(*this, size()))
        return false;
    for (AbstractData const* element : *this)
        if (!element->isValid())
            return false;
    return true;
}

bool OpenData::isStrictlyValid() const
{
    return has_data() ? get_data().isStrictlyValid() : has_buf();
}

bool OpenData::isValid() const
{
    return has_data() ? get_data().isValid() : has_buf();
}

bool AbstractData::isValid() const
{
    ValidChecker checker;
    return accept(checker);
}

bool AbstractData::isStrictlyValid() const
{
    StrictlyValidChecker checker;
    return accept(checker);
}

// ---- ValidChecker / StrictlyValidChecker ---------------------------------------------

bool ValidChecker::do_visit(INTEGER const& v) { return v.isValid(); }
bool ValidChecker::do_visit(ENUMERATED const& v) { return v.isValid(); }
bool ValidChecker::do_visit(OBJECT_IDENTIFIER const& v) { return v.isValid(); }
bool ValidChecker::do_visit(BIT_STRING const& v) { return v.isValid(); }
bool ValidChecker::do_visit(OCTET_STRING const& v) { return v.isValid(); }
bool ValidChecker::do_visit(AbstractString const& v) { return v.isValid(); }
bool ValidChecker::do_visit(BMPString const& v) { return v.isValid(); }
bool ValidChecker::do_visit(CHOICE const& v) { return v.isValid(); }
bool ValidChecker::do_visit(OpenData const& v) { return v.isValid(); }
bool ValidChecker::do_visit(GeneralizedTime const& v) { return v.isValid(); }
bool ValidChecker::do_visit(SEQUENCE_OF_Base const& v) { return v.isValid(); }
bool ValidChecker::visitExtensionRoot(SEQUENCE const& seq, int index)
{
    return fieldValid(seq, index, false);
}
bool ValidChecker::visitKnownExtension(SEQUENCE const& seq, int index)
{
    return fieldValid(seq, index, false);
}

bool StrictlyValidChecker::do_visit(INTEGER const& v) { return v.isStrictValid(); }
bool StrictlyValidChecker::do_visit(ENUMERATED const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(OBJECT_IDENTIFIER const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(BIT_STRING const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(OCTET_STRING const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(AbstractString const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(BMPString const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(CHOICE const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(OpenData const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(GeneralizedTime const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(SEQUENCE_OF_Base const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::visitExtensionRoot(SEQUENCE const& seq, int index)
{
    return fieldValid(seq, index, true);
}
bool StrictlyValidChecker::visitKnownExtension(SEQUENCE const& seq, int index)
{
    return fieldValid(seq, index, true);
}

// ---- InvalidTracer ------------------------------------------------------------------------

bool InvalidTracer::do_visit(INTEGER const& v)
{
    if (!v.constrained())
        return true;
    bool const hasUpper = v.getConstraintType() != PartiallyConstrained;
    int const lower = v.getLowerLimit();
    if (unsignedRange(v)) {
        std::uint32_t const u = static_cast<std::uint32_t>(v.getValue());
        if (u < static_cast<std::uint32_t>(lower)) {
            text_ << " The INTEGER value " << u << " is smaller than lower bound " << lower;
            return false;
        }
        if (!hasUpper || u <= v.getUpperLimit() || v.extendable())
            return true;
        text_ << " The INTEGER value " << u << " is greater than upper bound " << v.getUpperLimit();
        return false;
    }
    int const s = v.getValue();
    if (s < lower) {
        text_ << " The INTEGER value " << s << " is smaller than lower bound " << lower;
        return false;
    }
    if (!hasUpper || static_cast<std::int64_t>(s) <= static_cast<std::int64_t>(v.getUpperLimit()) ||
        v.extendable())
        return true;
    text_ << " The INTEGER value " << s << " is greater than upper bound " << v.getUpperLimit();
    return false;
}

bool InvalidTracer::do_visit(ENUMERATED const& v)
{
    if (v.asInt() <= v.getMaximum())
        return true;
    text_ << " This ENUMERATED has invalid value " << v.asInt();
    return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& v)
{
    if (v.levels() > 0)
        return true;
    text_ << " This OBJECT IDENTIFIER is not assigned";
    return false;
}

// The size messages of strings and lists: the upper bound is tested only
// for a fixed constraint.
bool InvalidTracer::sizeCheck(char const* what, ConstrainedObject const& v, unsigned size)
{
    if (size < static_cast<unsigned>(v.getLowerLimit())) {
        text_ << " This " << what << " has size " << size << " smaller than its lower bound "
              << v.getLowerLimit();
        return false;
    }
    if (v.getConstraintType() == FixedConstraint && size > v.getUpperLimit()) {
        text_ << " This " << what << " has size " << size << " greater than its upper bound "
              << v.getUpperLimit();
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& v) { return sizeCheck("BIT STRING", v, v.size()); }

bool InvalidTracer::do_visit(OCTET_STRING const& v)
{
    return sizeCheck("OCTET STRING", v, static_cast<unsigned>(v.size()));
}

bool InvalidTracer::do_visit(AbstractString const& v)
{
    if (!sizeCheck("AbstractString", v, static_cast<unsigned>(v.size())))
        return false;
    int const bad = v.find_first_invalid();
    if (bad < 0)
        return true;
    text_ << " The character '" << v[static_cast<std::size_t>(bad)] << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(BMPString const& v)
{
    if (!sizeCheck("BMPString", v, static_cast<unsigned>(v.size())))
        return false;
    std::size_t const bad = v.first_illegal_at();
    if (bad == v.size())
        return true;
    text_ << " The character '" << static_cast<long>(v[bad]) << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(CHOICE const& v)
{
    int const index = v.currentSelection();
    if (index == CHOICE::NoSelection) {
        text_ << " This CHOICE is not selected";
        return false;
    }
    if (index < 0 || !v.getSelection()) {
        text_ << " This selection is not understood by this decoder";
        return false;
    }
    text_ << "." << v.getSelectionName();
    return v.getSelection()->accept(*this);
}

bool InvalidTracer::do_visit(OpenData const& v)
{
    if (v.has_data())
        return v.get_data().accept(*this);
    if (v.has_buf())
        return true;
    text_ << " This Open Type does not contain any valid data";
    return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& v)
{
    if (timeValid(v))
        return true;
    text_ << " This GeneralizedTime is not valid";
    return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& v)
{
    if (!sizeCheck("SEQUENCE OF", v, v.size()))
        return false;
    unsigned index = 0;
    for (AbstractData const* element : v) {
        InvalidTracer inner;
        if (!element->accept(inner)) {
            text_ << "[" << index << "]" << inner.text();
            return false;
        }
        ++index;
    }
    return true;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& seq, int index)
{
    AbstractData const* field = seq.getField(static_cast<unsigned>(index));
    InvalidTracer inner;
    if (field && field->accept(inner))
        return true;
    text_ << "." << seq.getFieldName(index);
    if (field)
        text_ << inner.text();
    else
        text_ << " This field has no value";
    return false;
}

bool InvalidTracer::visitKnownExtension(SEQUENCE const& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer)
{
    return os << tracer.text();
}

bool trace_invalid(std::ostream& os, std::string const& prefix, AbstractData const& value)
{
    InvalidTracer tracer;
    if (value.accept(tracer))
        return true;
    os << prefix << tracer << std::endl;
    return false;
}

// ---- PrimitiveChecker ---------------------------------------------------------------------

bool PrimitiveChecker::do_visit(CHOICE const& v)
{
    AbstractData const* selection = v.getSelection();
    return v.currentSelection() >= 0 && selection ? selection->accept(*this) : false;
}

bool PrimitiveChecker::do_visit(OpenData const& v)
{
    return v.has_data() ? v.get_data().accept(*this) : false;
}

} // namespace ASN1
