// Base of every ASN.1 value: a value bound to a constant type description.
#ifndef TSD_ASN1_VALUES_ABSTRACT_DATA_H
#define TSD_ASN1_VALUES_ABSTRACT_DATA_H

#include "asn1/values/info.h"
#include "asn1/values/pool.h"

#include <ios>
#include <iosfwd>
#include <string>

namespace ASN1 {

class Visitor;
class ConstVisitor;

class AbstractData {
public:
    virtual ~AbstractData() = default;

    // Value objects come from the recycled small-block storage.
    static void* operator new(std::size_t n) { return detail::poolAllocate(n); }
    static void operator delete(void* p, std::size_t n) noexcept { detail::poolFree(p, n); }

    // A new value of the described type (word 0 of the description called
    // with the description); null for a null description. Caller owns it.
    static AbstractData* create(void const* info);

    // A deep copy, owned by the caller. Its dynamic class is the one the
    // description's create function makes, so a clone of a generated value
    // is a value of the generated class again.
    AbstractData* clone() const { return do_clone(); }

    // 0 when equal; only values of the same type may be compared.
    int compare(AbstractData const& other) const { return do_compare(other); }
    bool operator==(AbstractData const& other) const { return compare(other) == 0; }
    bool operator!=(AbstractData const& other) const { return compare(other) != 0; }

    bool accept(Visitor& v) { return do_accept(v); }
    bool accept(ConstVisitor& v) const { return do_accept(v); }

    void const* info() const { return info_; }
    unsigned getTag() const { return static_cast<TypeInfo const*>(info_)->tag; }

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;
    // Defined with the value-notation printer.
    std::ios_base::iostate print_on(std::ostream& os) const;
    std::string asValueNotation() const;
    // Defined with the value-notation parser.
    bool setFromValueNotation(std::string const& text);
    std::ios_base::iostate get_from(std::istream& is);

protected:
    explicit AbstractData(void const* info) : info_(info) {}
    AbstractData(AbstractData const&) = default;
    // Assignment copies values only: the target keeps its description.
    AbstractData& operator=(AbstractData const&) { return *this; }

    virtual int do_compare(AbstractData const& other) const = 0;
    virtual AbstractData* do_clone() const = 0;
    virtual bool do_accept(Visitor& v) = 0;
    virtual bool do_accept(ConstVisitor& v) const = 0;

private:
    void const* info_;
};

// Base of the kinds whose description carries the constraint words 2-4.
class ConstrainedObject : public AbstractData {
public:
    ConstraintType getConstraintType() const { return constraintInfo().type; }
    int getLowerLimit() const { return constraintInfo().lower; }
    unsigned getUpperLimit() const { return constraintInfo().upper; }
    bool constrained() const { return getConstraintType() != Unconstrained; }
    bool extendable() const { return getConstraintType() == ExtendableConstraint; }

protected:
    explicit ConstrainedObject(void const* info) : AbstractData(info) {}
    ConstrainedObject(ConstrainedObject const&) = default;
    ConstrainedObject& operator=(ConstrainedObject const&) = default;

    ConstraintInfo const& constraintInfo() const
    {
        return static_cast<ConstrainedInfo const*>(info())->constraint;
    }
};

namespace detail {
// Empty base of the concrete value classes; takes no part in allocation.
template <class T>
struct Allocator {
    Allocator() {}
};
} // namespace detail

// Create function for a class with a default constructor bound to its own
// description (generated SEQUENCE, CHOICE and ENUMERATED types, SEQUENCE OF
// instances, constrained INTEGERs). Putting &createAs<X> in word 0 of X's
// description makes every value created from it (fields, selections,
// decoded values, clones) a true X object, so that accessing it as X is
// well defined.
template <class T>
AbstractData* createAs(void const*)
{
    return new T();
}

// Byte-wise comparison of two char ranges (bytes unsigned): the first
// differing pair gives this byte minus the other; when one range runs out
// first, -1 if the first is shorter, 1 if it is longer; 0 when equal.
int lexicographic_compare_bytes(char const* first1, char const* last1,
                                char const* first2, char const* last2);

} // namespace ASN1

#endif
