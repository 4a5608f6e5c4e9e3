#include "asn1/values/abstract_data.h"

namespace ASN1 {

std::uint32_t MaximumArraySize = 128;
std::uint32_t MaximumStringSize = 16384;

AbstractData* AbstractData::create(void const* info)
{
    if (!info)
        return nullptr;
    CreateFunction make = static_cast<TypeInfo const*>(info)->create;
    return make ? make(info) : nullptr;
}

int lexicographic_compare_bytes(char const* first1, char const* last1,
                                char const* first2, char const* last2)
{
    for (; first1 != last1 && first2 != last2; ++first1, ++first2) {
        unsigned char a = static_cast<unsigned char>(*first1);
        unsigned char b = static_cast<unsigned char>(*first2);
        if (a != b)
            return int(a) - int(b);
    }
    if (first1 == last1)
        return first2 == last2 ? 0 : -1;
    return 1;
}

} // namespace ASN1
