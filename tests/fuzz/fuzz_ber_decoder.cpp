// fuzz-links: asn1
// The BER decoder on arbitrary octets: the first octet picks the type, the
// rest is decoded. Whatever the input, decoding never crashes, leaks or
// allocates beyond what the input announces and holds; a decoded value is
// checked, traced and printed, and when it re-encodes, decoding that
// encoding and encoding again gives the same octets (the time type, whose
// text is read as it comes, is only decoded and printed).
#include "asn1/ber/ber_decoder.h"
#include "asn1/ber/ber_encoder.h"
#include "asn1/check/checkers.h"
#include "asn1/notation/printer.h"
#include "tests/asn1/test_per_types.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace {

using namespace PerTypes;

const TypeConstrainedOpenInfo SlotOpen = {{&TypeConstrainedOpenData::create, 0}, &Slot};
void const* const OddInfos[] = {&OBJECT_IDENTIFIER::theInfo, &BIT_STRING::theInfo, &BMPString::theInfo,
                                &OpenData::theInfo, &SlotOpen, &Mode, &Digits, &Signed, &Grown, &Ranged};
int const OddIds[] = {-1, 0, 1, 2, 3, -1, -1, 4, -1, -1};
char const* const OddNames[] = {"oid", "bits", "bmp", "open", "slot", "mode", "digits", "signed", "grown",
                                "ranged"};
const SequenceInfo Odd = {{&SEQUENCE::create, 16}, true, OddInfos, OddIds, 10, 0, 5, nullptr, nullptr,
                          OddNames};

void const* const Targets[] = {&Record, &Message, &Ext, &Exts, &Command, &Inner, &ExtV1, &CommandV1,
                               &Bytes, &Booleans, &Grow, &Odd, &Query, &Channel, &Big, &INTEGER::theInfo,
                               &GeneralizedTime::theInfo};

std::vector<char> encode(AbstractData const& v, bool& ok)
{
    std::vector<char> out;
    BEREncoder e(out);
    ok = v.accept(e);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size == 0)
        return 0;
    void const* info = Targets[data[0] % (sizeof Targets / sizeof Targets[0])];
    char const* first = reinterpret_cast<char const*>(data + 1);
    Value v = make(info);
    BERDecoder d(first, first + (size - 1));
    if (!v->accept(d))
        return 0;
    v->isValid();
    v->isStrictlyValid();
    std::ostringstream os;
    trace_invalid(os, "fuzz: ", *v);
    os << *v;
    if (info == &GeneralizedTime::theInfo)
        return 0;  // any text is taken as it comes; its normal form may differ
    bool ok = false;
    std::vector<char> const once = encode(*v, ok);
    if (!ok)
        return 0;  // an alternative this version does not know
    if (getObjectLength(*v, v->getTag()) != once.size() && v->getTag() != 0)
        std::abort();
    Value again = make(info);
    BERDecoder d2(once.data(), once.data() + once.size());
    if (!again->accept(d2))
        std::abort();
    std::vector<char> const twice = encode(*again, ok);
    if (!ok || twice != once)
        std::abort();
    return 0;
}
