// Helpers shared by the value classes' implementations (not for users).
#ifndef TSD_ASN1_VALUES_DETAIL_H
#define TSD_ASN1_VALUES_DETAIL_H

#include "asn1/values/abstract_data.h"

#include <climits>
#include <cstdint>
#include <memory>

namespace ASN1 {
namespace detail {

// A deep copy of self whose dynamic class is the one self's description
// creates (so a copy of a generated value is a generated value again). The
// copy is made by creating a fresh value and assigning self to it; when the
// description creates something else, a plain copy of X is made instead.
template <class X>
AbstractData* cloneAs(X const& self)
{
    std::unique_ptr<AbstractData> made(AbstractData::create(self.info()));
    if (X* target = dynamic_cast<X*>(made.get())) {
        *target = self;
        return made.release();
    }
    return new X(self);
}

// The other operand of a comparison as this value's class; null when it is
// of another class (comparing different kinds is a caller error, answered
// with "unequal" rather than undefined behaviour).
template <class X>
X const* sameKind(AbstractData const& other)
{
    return dynamic_cast<X const*>(&other);
}

// a - b, held at the int range so that the sign always stays right.
inline int difference(long long a, long long b)
{
    long long const d = a - b;
    return d < INT_MIN ? INT_MIN : (d > INT_MAX ? INT_MAX : static_cast<int>(d));
}

} // namespace detail
} // namespace ASN1

#endif
