// The coder front end: PER and value notation.
#include "asn1/coder.h"

#include "asn1/notation/printer.h"
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"

#include <sstream>

namespace ASN1 {

bool CoderEnv::decode(char const* first, char const* last, AbstractData& value, bool noEnv)
{
    switch (rule_) {
    case per: return decodePER(first, last, value, noEnv ? nullptr : this);
    case ber: return decodeBER(first, last, value, noEnv ? nullptr : this);
    case avn: return decodeAVN(first, last, value);
    default: return false;
    }
}

bool CoderEnv::encodePERBytes(AbstractData const& value, std::vector<char>& bytes)
{
    PEREncoder encoder(bytes, true);
    return value.accept(encoder);
}

bool CoderEnv::decodePER(char const* first, char const* last, AbstractData& value, CoderEnv* env)
{
    if (last < first)
        return false;
    PERDecoder decoder(first, last, env, true);
    return value.accept(decoder);
}

bool CoderEnv::encodeAVNBytes(AbstractData const& value, std::vector<char>& bytes)
{
    std::ostringstream os;
    AVNEncoder printer(os);
    // Text with markers for unprintable parts is not value notation.
    if (!value.accept(printer) || !printer.complete() || !os)
        return false;
    std::string const text = os.str();
    bytes.assign(text.begin(), text.end());
    return true;
}

} // namespace ASN1
