// The coder front end: turns protocol values into octets and back by the
// encoding rule the environment holds.
//
//   ASN1::CoderEnv env;
//   env.set_encodingRule(ASN1::CoderEnv::per);
//   std::vector<char> out;
//   if (ASN1::encode(message, &env, std::back_inserter(out))) ...   // all or nothing
//   if (ASN1::decode(first, last, &env, message, true)) ...         // false: discard message
#ifndef TSD_ASN1_CODER_H
#define TSD_ASN1_CODER_H

#include "asn1/values/all.h"

#include <loki/AssocVector.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ASN1 {

class Module;

class CoderEnv {
public:
    enum EncodingRules : int {
        avn = 0,  // value notation
        ber = 1,
        per = 2,  // aligned PER
        unset = -1
    };

    // Orders module names by their text.
    struct StringListeralCmp {
        using first_argument_type = char const*;
        using second_argument_type = char const*;
        using result_type = bool;
        bool operator()(char const* a, char const* b) const { return std::strcmp(a, b) < 0; }
    };
    using ModuleMap = Loki::AssocVector<char const*, Module*, StringListeralCmp>;

    CoderEnv() = default;
    ~CoderEnv() = default;

    void set_encodingRule(EncodingRules r) { rule_ = r; }
    EncodingRules get_encodingRule() const { return rule_; }

    // Encodes value by the rule into out. The iterator receives octets only
    // when the whole value encoded; false (and nothing written) otherwise,
    // also for an unset or unknown rule.
    template <class OutputIterator>
    bool encode(AbstractData const& value, OutputIterator out)
    {
        switch (rule_) {
        case per: return encodePER(value, out);
        case ber: return encodeBER(value, out);
        case avn: return encodeAVN(value, out);
        default: return false;
        }
    }

    template <class OutputIterator>
    bool encodePER(AbstractData const& value, OutputIterator out)
    {
        return deliver(encodePERBytes(value, buffer_), out);
    }
    template <class OutputIterator>
    bool encodeBER(AbstractData const& value, OutputIterator out)
    {
        return deliver(encodeBERBytes(value, buffer_), out);
    }
    template <class OutputIterator>
    bool encodeAVN(AbstractData const& value, OutputIterator out)
    {
        return deliver(encodeAVNBytes(value, buffer_), out);
    }

    // Reads [first, last) into value by the rule. For BER and PER the
    // decoders get this environment, or none when noEnv is true. On false
    // the value keeps what was read and must be discarded.
    bool decode(char const* first, char const* last, AbstractData& value, bool noEnv);

    // The octets of one encoding; false on failure (bytes then undefined).
    bool encodePERBytes(AbstractData const& value, std::vector<char>& bytes);
    bool encodeBERBytes(AbstractData const& value, std::vector<char>& bytes);
    bool encodeAVNBytes(AbstractData const& value, std::vector<char>& bytes);

private:
    bool decodePER(char const* first, char const* last, AbstractData& value, CoderEnv* env);
    bool decodeBER(char const* first, char const* last, AbstractData& value, CoderEnv* env);
    bool decodeAVN(char const* first, char const* last, AbstractData& value);

    template <class OutputIterator>
    bool deliver(bool ok, OutputIterator out)
    {
        if (ok)
            std::copy(buffer_.begin(), buffer_.end(), out);
        buffer_.clear();
        return ok;
    }

    EncodingRules rule_ = unset;
    ModuleMap modules_;  // nothing registers modules; kept for the interface
    std::vector<char> buffer_;
};

template <class OutputIterator>
bool encode(AbstractData const& value, CoderEnv* env, OutputIterator out)
{
    return env && env->encode(value, out);
}

template <class InputIterator>
bool decode(InputIterator first, InputIterator last, CoderEnv* env, AbstractData& value, bool noEnv)
{
    return env && env->decode(first, last, value, noEnv);
}

} // namespace ASN1

#endif
