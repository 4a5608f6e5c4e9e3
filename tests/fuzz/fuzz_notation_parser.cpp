// fuzz-links: asn1
// The value-notation parser on arbitrary text: the first octet picks the
// type, the rest is read. Whatever the input, reading never crashes or
// leaks; a value that was read prints, and when it prints completely, its
// printed text reads back into an equal value that prints the same text.
#include "asn1/notation/parser.h"
#include "asn1/notation/printer.h"
#include "tests/asn1/test_per_types.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using namespace PerTypes;

const TypeConstrainedOpenInfo SlotOpen = {{&TypeConstrainedOpenData::create, 0}, &Slot};
void const* const OddInfos[] = {&OBJECT_IDENTIFIER::theInfo, &BIT_STRING::theInfo, &SlotOpen, &Mode,
                                &Digits, &Signed, &Grown, &Ranged, &Numbered};
int const OddIds[] = {-1, 0, 1, 2, -1, -1, 3, -1, -1};
char const* const OddNames[] = {"oid", "bits", "slot", "mode", "digits", "signed", "grown", "ranged",
                                "numbered"};
const SequenceInfo Odd = {{&SEQUENCE::create, 16}, true, OddInfos, OddIds, 9, 0, 4, nullptr, nullptr,
                          OddNames};

void const* const Targets[] = {&Record, &Message, &Ext, &Exts, &Command, &Inner, &Bytes, &Booleans,
                               &Odd, &Query, &Channel, &Big, &INTEGER::theInfo, &OpenData::theInfo};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size == 0)
        return 0;
    void const* info = Targets[data[0] % (sizeof Targets / sizeof Targets[0])];
    std::string const text(reinterpret_cast<char const*>(data + 1), size - 1);
    Value v = make(info);
    if (!v->setFromValueNotation(text))
        return 0;
    std::ostringstream os;
    AVNEncoder printer(os);
    if (!v->accept(printer) || !printer.complete())
        return 0;  // e.g. a CHOICE left without a selection
    std::string const printed = os.str();
    Value again = make(info);
    if (!again->setFromValueNotation(printed) || !(*again == *v) || again->asValueNotation() != printed)
        std::abort();
    return 0;
}
