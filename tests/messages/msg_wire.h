// Helpers of the message tests: aligned PER through the coder front end,
// hex text, and random values of any generated type built from its
// description alone.
#ifndef TSD_TESTS_MESSAGES_MSG_WIRE_H
#define TSD_TESTS_MESSAGES_MSG_WIRE_H

#include "asn1/coder.h"
#include "asn1/values/all.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace MsgTest {

inline bool perEncode(ASN1::AbstractData const& value, std::vector<char>& out)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    out.clear();
    return ASN1::encode(value, &env, std::back_inserter(out));
}

inline bool perDecode(std::vector<char> const& in, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

// Lower-case hex without separators; "-" for no octets (the Erlang peer's form).
inline std::string hex(std::vector<char> const& bytes)
{
    std::string s = bytes.empty() ? "-" : "";
    char buf[3];
    for (char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
        s += buf;
    }
    return s;
}

// Accepts "80 01 01 18", "80010118" and "-".
inline std::vector<char> unhex(std::string const& text)
{
    std::vector<char> out;
    unsigned digits = 0;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            unsigned const d = static_cast<unsigned>(std::stoi(std::string(1, c), nullptr, 16));
            if (digits++ % 2)
                out.back() = static_cast<char>(out.back() << 4 | d);
            else
                out.push_back(static_cast<char>(d));
        }
    return out;
}

// Fills values of any type from their descriptions with random contents
// that stay inside the runtime's limits (32-bit integers, short lists and
// strings) and inside every type's root (root enumerators only: the
// runtime codes enumeration extensions in its own way).
class RandomFiller {
public:
    explicit RandomFiller(std::uint32_t seed) : rng_(seed) {}

    void fill(ASN1::AbstractData& v, int depth = 0)
    {
        if (auto* s = dynamic_cast<ASN1::SEQUENCE*>(&v)) {
            fillSequence(*s, depth);
        } else if (auto* c = dynamic_cast<ASN1::CHOICE*>(&v)) {
            auto const* info = static_cast<ASN1::ChoiceInfo const*>(c->info());
            int k = static_cast<int>(below(info->knownCount));
            ASN1::AbstractData* alt = c->setSelection(k, ASN1::AbstractData::create(info->selectionInfos[k]));
            fill(*alt, depth + 1);
        } else if (auto* l = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(&v)) {
            unsigned n = depth > 8 ? 0 : below(4);
            for (unsigned i = 0; i < n; ++i) {
                ASN1::AbstractData* e = l->createElement();
                l->push_back(e);
                fill(*e, depth + 1);
            }
        } else if (auto* e = dynamic_cast<ASN1::ENUMERATED*>(&v)) {
            fillEnumerated(*e);
        } else if (auto* i = dynamic_cast<ASN1::INTEGER*>(&v)) {
            fillInteger(*i);
        } else if (auto* b = dynamic_cast<ASN1::BOOLEAN*>(&v)) {
            *b = below(2) == 1;
        } else if (auto* o = dynamic_cast<ASN1::OCTET_STRING*>(&v)) {
            unsigned n = below(8) == 0 ? below(300) : below(6);
            std::vector<char> bytes;
            for (unsigned k = 0; k < n; ++k)
                bytes.push_back(static_cast<char>(below(256)));
            *o = bytes;
        } else if (auto* s = dynamic_cast<ASN1::AbstractString*>(&v)) {
            fillString(*s);
        } else if (auto* oid = dynamic_cast<ASN1::OBJECT_IDENTIFIER*>(&v)) {
            oid->append(below(3));
            oid->append(below(40));
            unsigned n = below(4);
            for (unsigned k = 0; k < n; ++k)
                oid->append(below(2) ? below(128) : below(100000));
        }
        // NULL: nothing to fill.
    }

    unsigned below(unsigned n) { return n ? static_cast<unsigned>(rng_() % n) : 0; }

private:
    void fillSequence(ASN1::SEQUENCE& s, int depth)
    {
        auto const* info = static_cast<ASN1::SequenceInfo const*>(s.info());
        for (unsigned i = 0; i < info->rootCount; ++i) {
            int bit = info->fieldIds[i];
            if (bit >= 0) {
                if (below(2) == 0)
                    continue;
                s.includeOptionalField(static_cast<unsigned>(bit), i);
            }
            fill(*s.getField(i), depth + 1);
        }
        for (unsigned j = 0; j < info->extensionCount; ++j) {
            if (below(3) == 0) {
                unsigned index = info->rootCount + j;
                s.includeOptionalField(info->optionalCount + j, index);
                fill(*s.getField(index), depth + 1);
            }
        }
    }

    void fillEnumerated(ASN1::ENUMERATED& e)
    {
        auto const* info = static_cast<ASN1::EnumeratedInfo const*>(e.info());
        std::vector<int> numbers;
        int number = -1;
        for (char const* const* p = info->names; *p; ++p) {
            char const* eq = std::strchr(*p, '=');
            number = eq ? std::atoi(eq + 1) : number + 1;
            if (number >= 0 && number <= info->maximum)
                numbers.push_back(number);
        }
        e.setFromInt(numbers.empty() ? 0 : numbers[below(static_cast<unsigned>(numbers.size()))]);
    }

    // Constrained: either bound or any number between; unconstrained: every
    // octet count from 1 to 4, both signs.
    void fillInteger(ASN1::INTEGER& v)
    {
        auto const* info = static_cast<ASN1::ConstrainedInfo const*>(v.info());
        auto raw = static_cast<std::uint32_t>(rng_());
        if (info->constraint.type == ASN1::FixedConstraint) {
            auto const lo = static_cast<std::uint32_t>(info->constraint.lower);
            std::uint32_t const span = info->constraint.upper - lo;
            unsigned const pick = below(4);
            raw = pick == 0 ? lo : pick == 1 ? lo + span : lo + (span == 0xFFFFFFFFu ? raw : raw % (span + 1u));
            v.setValue(static_cast<int>(raw));
            return;
        }
        static std::uint32_t const masks[] = {0x7F, 0x7FFF, 0x7FFFFF, 0xFFFFFFFF};
        int const x = static_cast<int>(raw & masks[below(4)]);
        v.setValue(below(4) == 0 && x > 0 ? -x : x);
    }

    void fillString(ASN1::AbstractString& s)
    {
        auto const* info = static_cast<ASN1::StringInfo const*>(s.info());
        unsigned lo = 0;
        unsigned hi = below(8) == 0 ? 200 : 12;
        if (info->base.constraint.type == ASN1::FixedConstraint) {
            lo = static_cast<unsigned>(info->base.constraint.lower);
            hi = info->base.constraint.upper;
        }
        unsigned n = lo + below(hi - lo + 1);
        std::string text;
        for (unsigned k = 0; k < n; ++k)
            text += static_cast<char>(info->charSet[below(info->charSetSize)]);
        s.assign(text);
    }

    std::mt19937 rng_;
};

} // namespace MsgTest

#endif
