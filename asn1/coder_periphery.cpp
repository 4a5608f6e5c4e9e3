// The front end's BER and value-notation-reading paths.
#include "asn1/coder.h"

#include "asn1/ber/ber_decoder.h"
#include "asn1/ber/ber_encoder.h"
#include "asn1/notation/parser.h"

#include <sstream>
#include <string>

namespace ASN1 {

bool CoderEnv::encodeBERBytes(AbstractData const& value, std::vector<char>& bytes)
{
    BEREncoder encoder(bytes);
    return value.accept(encoder);
}

bool CoderEnv::decodeBER(char const* first, char const* last, AbstractData& value, CoderEnv* env)
{
    if (last < first)
        return false;
    BERDecoder decoder(first, last, env);
    return value.accept(decoder);
}

bool CoderEnv::decodeAVN(char const* first, char const* last, AbstractData& value)
{
    if (last < first)
        return false;
    std::istringstream is(std::string(first, last));
    AVNDecoder parser(is, nullptr);
    return value.accept(parser);
}

} // namespace ASN1
