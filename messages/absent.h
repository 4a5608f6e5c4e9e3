// What the generated getters return where there is nothing to read: an
// OPTIONAL field that never had a value object, or a CHOICE alternative
// read while the CHOICE holds nothing or a value of another type. Callers
// are meant to test presence or the selection first; a message from a peer
// that lacks a field must still not make a forgotten test read through a
// null or mistyped pointer.
#ifndef TSD_MESSAGES_ABSENT_H
#define TSD_MESSAGES_ABSENT_H

#include "asn1/values/abstract_data.h"

namespace Messages {

// One default value per type, made from its description on first use and
// kept for the whole run.
template <class T>
T const& absentValue()
{
    static T const* const value = static_cast<T const*>(ASN1::AbstractData::create(&T::theInfo));
    return *value;
}

// A CHOICE's held value read as T, whichever alternative is selected; the
// default value when nothing is held or the held value is no T.
template <class T>
T const& heldAs(ASN1::AbstractData const* held)
{
    T const* const value = dynamic_cast<T const*>(held);
    return value ? *value : absentValue<T>();
}

} // namespace Messages

#endif
