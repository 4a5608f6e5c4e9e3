// fuzz-links: messages asn1
// The aligned PER decoder on arbitrary octets: the first octet picks the
// type (the control or SNMP agent message, or a test type), the rest is
// decoded. Whatever the input, decoding never crashes,
// leaks or allocates beyond its limits; a decoded value prints, and when it
// re-encodes, decoding that encoding and encoding again gives the same
// octets.
#include "asn1/notation/printer.h"
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"
#include "messages/LGCP.h"
#include "messages/MON.h"
#include "tests/asn1/test_per_types.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace {

using namespace PerTypes;

void const* const MiscInfos[] = {&OBJECT_IDENTIFIER::theInfo, &BIT_STRING::theInfo, &BMPString::theInfo,
                                 &GeneralizedTime::theInfo, &OpenData::theInfo, &Mode, &Digits, &Signed,
                                 &Grown, &Ranged};
int const MiscIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
char const* const MiscNames[] = {"oid", "bits", "bmp", "time", "open", "mode", "digits", "signed", "grown",
                                 "ranged"};
const SequenceInfo Misc = {{&SEQUENCE::create, 16}, true, MiscInfos, MiscIds, 10, 0, 0, nullptr, nullptr,
                           MiscNames};

// The control and agent messages first, then the test types of every form.
void const* const Targets[] = {&LGCP::Message::theInfo, &MON::Message::theInfo, &Record, &Message, &Ext, &Exts, &Command, &Inner, &ExtV1, &CommandV1,
                               &Bytes, &Booleans, &Grow, &Misc, &Query, &Channel};

std::vector<char> encode(AbstractData const& v, bool& ok)
{
    std::vector<char> out;
    PEREncoder e(out, true);
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
    PERDecoder d(first, first + (size - 1), nullptr, true);
    if (!v->accept(d))
        return 0;
    std::ostringstream os;
    os << *v;
    bool ok = false;
    std::vector<char> once = encode(*v, ok);
    if (!ok)
        return 0;  // decoded numbers outside a range do not re-encode
    Value again = make(info);
    PERDecoder d2(once.data(), once.data() + once.size(), nullptr, true);
    if (!again->accept(d2))
        std::abort();
    std::vector<char> twice = encode(*again, ok);
    if (!ok || twice != once)
        std::abort();
    return 0;
}
