// Type descriptions shared by the PER, printer and coder tests. They mirror
// tests/asn1/erlang/PerCheck.asn type for type (Numbered stands for an
// enumeration with the numbers 0, 11 and 255, which the Erlang module
// writes as INTEGER (0..255)). Values are built from these descriptions
// with AbstractData::create and filled through the generic accessors.
#ifndef TSD_TESTS_ASN1_TEST_PER_TYPES_H
#define TSD_TESTS_ASN1_TEST_PER_TYPES_H

#include "asn1/ber/ber_decoder.h"
#include "asn1/ber/ber_encoder.h"
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"
#include "asn1/values/all.h"

#include <memory>
#include <string>
#include <vector>

namespace PerTypes {

using namespace ASN1;

inline constexpr ConstrainedInfo intRange(ConstraintType t, int lo, unsigned hi)
{
    return {{&INTEGER::create, 2}, {t, lo, hi}};
}

inline const ConstrainedInfo Small = intRange(FixedConstraint, 0, 7);
inline const ConstrainedInfo Quad = intRange(FixedConstraint, 0, 3);
inline const ConstrainedInfo Tdm = intRange(FixedConstraint, 0, 31);
inline const ConstrainedInfo Byte = intRange(FixedConstraint, 0, 255);
inline const ConstrainedInfo Slot = intRange(FixedConstraint, 0, 1023);
inline const ConstrainedInfo Word = intRange(FixedConstraint, 0, 65535);
inline const ConstrainedInfo Wide = intRange(FixedConstraint, 0, 16777215);
inline const ConstrainedInfo Big = intRange(FixedConstraint, 0, 4294967295u);
inline const ConstrainedInfo Five = intRange(FixedConstraint, 5, 5);
inline const ConstrainedInfo Signed = intRange(FixedConstraint, -5, 5);
inline const ConstrainedInfo Grown = intRange(ExtendableConstraint, 0, 7);

inline constexpr StringInfo ia5(ConstraintType t, int lo, unsigned hi)
{
    return {{{&IA5String::create, 22}, {t, lo, hi}}, IA5StringSet, 128, 7, 7, 8};
}
inline const StringInfo Name = ia5(FixedConstraint, 1, 64);
inline const StringInfo Tiny = ia5(FixedConstraint, 1, 2);
inline const StringInfo Grow = ia5(ExtendableConstraint, 1, 4);
inline const StringInfo Digits = {{{&AbstractString::create, 18}, {FixedConstraint, 0, 8}},
                                  NumericStringSet, 11, 4, 4, 4};

inline const ConstrainedInfo Fixed = {{&OCTET_STRING::create, 4}, {FixedConstraint, 4, 4}};
inline const ConstrainedInfo Ranged = {{&OCTET_STRING::create, 4}, {FixedConstraint, 0, 10}};

inline const SequenceOfInfo Bytes = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, &Byte};
inline const SequenceOfInfo Bounded = {{{&SEQUENCE_OF_Base::create, 16}, {FixedConstraint, 0, 8}}, &Byte};
inline const SequenceOfInfo Booleans = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}},
                                        &BOOLEAN::theInfo};

inline char const* const ColourNames[] = {"red", "green", "blue", nullptr};
inline const EnumeratedInfo Colour = {{&ENUMERATED::create, 10}, false, 2, ColourNames};
inline char const* const ModeNames[] = {"off", "on", "auto", nullptr};
inline const EnumeratedInfo Mode = {{&ENUMERATED::create, 10}, true, 2, ModeNames};
inline char const* const NumberedNames[] = {"zero", "eleven=11", "top=255", nullptr};
inline const EnumeratedInfo Numbered = {{&ENUMERATED::create, 10}, false, 255, NumberedNames};

inline void const* const ChannelInfos[] = {&Tdm, &Slot};
inline char const* const ChannelNames[] = {"tdm", "rtp"};
inline const ChoiceInfo Channel = {{&CHOICE::create, 0}, false, ChannelInfos, 2, 2, nullptr, ChannelNames};

inline void const* const SingleInfos[] = {&Quad};
inline char const* const SingleNames[] = {"only"};
inline const ChoiceInfo Single = {{&CHOICE::create, 0}, false, SingleInfos, 1, 1, nullptr, SingleNames};

inline void const* const InnerInfos[] = {&Slot, &Name, &BOOLEAN::theInfo, &OCTET_STRING::theInfo};
inline int const InnerIds[] = {-1, 0, 1, 2};
inline char const* const InnerNames[] = {"id", "name", "flag", "data"};
inline const SequenceInfo Inner = {{&SEQUENCE::create, 16}, false, InnerInfos, InnerIds, 4, 0, 3,
                                   nullptr, nullptr, InnerNames};

inline void const* const QueryInfos[] = {&IA5String::theInfo, &Small};
inline int const QueryIds[] = {-1, -1};
inline char const* const QueryNames[] = {"what", "level"};
inline const SequenceInfo Query = {{&SEQUENCE::create, 16}, false, QueryInfos, QueryIds, 2, 0, 0,
                                   nullptr, nullptr, QueryNames};

inline void const* const CommandInfos[] = {&Null::theInfo, &Inner, &Slot, &Query, &Null::theInfo};
inline char const* const CommandNames[] = {"ping", "create", "destroy", "query", "reset"};
inline const ChoiceInfo Command = {{&CHOICE::create, 0}, true, CommandInfos, 3, 5, nullptr, CommandNames};
// The same type as a peer that knows only the root alternatives.
inline const ChoiceInfo CommandV1 = {{&CHOICE::create, 0}, true, CommandInfos, 3, 3, nullptr, CommandNames};

inline void const* const ExtInfos[] = {&Small, &BOOLEAN::theInfo, &Name, &INTEGER::theInfo, &Inner};
inline int const ExtIds[] = {-1, 0, 0, 0, 0};
inline char const* const ExtNames[] = {"a", "b", "c", "d", "e"};
inline const SequenceInfo Ext = {{&SEQUENCE::create, 16}, true, ExtInfos, ExtIds, 2, 3, 1,
                                 nullptr, nullptr, ExtNames};
// The same type as a peer that knows no extension additions yet.
inline const SequenceInfo ExtV1 = {{&SEQUENCE::create, 16}, true, ExtInfos, ExtIds, 2, 0, 1,
                                   nullptr, nullptr, ExtNames};
inline const SequenceOfInfo Exts = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, &Ext};

inline void const* const RecordInfos[] = {
    &Big, &Slot, &Small, &Word, &Wide, &INTEGER::theInfo, &Byte, &BOOLEAN::theInfo, &Null::theInfo,
    &IA5String::theInfo, &Name, &Grow, &OCTET_STRING::theInfo, &Fixed, &Bytes, &Bounded,
    &Channel, &Single, &Colour, &Mode, &Numbered, &Command, &Inner, &Exts};
inline int const RecordIds[] = {0, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
inline char const* const RecordNames[] = {
    "seq", "slot", "small", "word", "wide", "plain", "byte", "flag", "nothing",
    "text", "name", "grow", "octets", "fixed", "numbers", "bounded",
    "channel", "single", "colour", "mode", "numbered", "command", "inner", "exts"};
inline const SequenceInfo Record = {{&SEQUENCE::create, 16}, false, RecordInfos, RecordIds, 24, 0, 2,
                                    nullptr, nullptr, RecordNames};

inline void const* const MessageInfos[] = {&Big, &Slot, &Command};
inline int const MessageIds[] = {0, 1, -1};
inline char const* const MessageNames[] = {"seq", "slot", "pdu"};
inline const SequenceInfo Message = {{&SEQUENCE::create, 16}, false, MessageInfos, MessageIds, 3, 0, 2,
                                     nullptr, nullptr, MessageNames};

// ---- building values ---------------------------------------------------------

using Value = std::unique_ptr<AbstractData>;

inline Value make(void const* info)
{
    return Value(AbstractData::create(info));
}

template <class T>
T& as(AbstractData* v)
{
    return *dynamic_cast<T*>(v);
}

inline AbstractData* field(AbstractData& seq, unsigned index)
{
    SEQUENCE& s = as<SEQUENCE>(&seq);
    int id = s.getFieldId(index);
    if (index >= s.getNumRootFields())
        id = static_cast<int>(s.getNumOptionalFields() + index - s.getNumRootFields());
    if (id >= 0)
        return s.includeOptionalField(static_cast<unsigned>(id), index);
    return s.getField(index);
}

inline AbstractData* select(AbstractData& choice, int index)
{
    CHOICE& c = as<CHOICE>(&choice);
    c.select(index);
    return c.getSelection();
}

inline void setInt(AbstractData* v, long long n)
{
    as<INTEGER>(v).setValue(static_cast<int>(n));
}

inline void setText(AbstractData* v, std::string const& text)
{
    as<AbstractString>(v).std::string::assign(text);
}

inline void setOctets(AbstractData* v, std::string const& bytes)
{
    as<OCTET_STRING>(v) = std::vector<char>(bytes.begin(), bytes.end());
}

// Values of one type, filled in one call.
template <class Fill>
Value build(void const* info, Fill fill)
{
    Value v = make(info);
    fill(v.get());
    return v;
}
inline Value intV(void const* info, long long n) { return build(info, [&](AbstractData* v) { setInt(v, n); }); }
inline Value textV(void const* info, std::string const& s)
{
    return build(info, [&](AbstractData* v) { setText(v, s); });
}
inline Value octV(void const* info, std::string const& s)
{
    return build(info, [&](AbstractData* v) { setOctets(v, s); });
}
inline Value enumV(void const* info, int n)
{
    return build(info, [&](AbstractData* v) { as<ENUMERATED>(v).setFromInt(n); });
}
inline Value listV(void const* info, std::size_t n)
{
    return build(info, [&](AbstractData* v) { as<SEQUENCE_OF_Base>(v).resize(n); });
}

inline int intOf(AbstractData const* v)
{
    return dynamic_cast<INTEGER const&>(*v).getValue();
}

inline std::string hex(std::vector<char> const& bytes)
{
    static char const digits[] = "0123456789abcdef";
    std::string s;
    for (char c : bytes) {
        s += digits[static_cast<unsigned char>(c) >> 4];
        s += digits[static_cast<unsigned char>(c) & 15];
    }
    return s;
}

inline std::vector<char> unhex(std::string const& text)
{
    std::vector<char> out;
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// Aligned PER or BER: a value's octets as hex ("fail" when it does not
// encode), and octets decoded into a value.
enum class Rule { per, ber };

inline std::string encHex(Rule r, AbstractData const& v)
{
    std::vector<char> out;
    bool ok;
    if (r == Rule::per) {
        PEREncoder e(out, true);
        ok = v.accept(e);
    } else {
        BEREncoder e(out);
        ok = v.accept(e);
    }
    return ok ? hex(out) : std::string("fail");
}

inline bool decBytes(Rule r, std::vector<char> const& in, AbstractData& v)
{
    if (r == Rule::per) {
        PERDecoder d(in.data(), in.data() + in.size(), nullptr, true);
        return v.accept(d);
    }
    BERDecoder d(in.data(), in.data() + in.size());
    return v.accept(d);
}

inline std::string perHex(AbstractData const& v) { return encHex(Rule::per, v); }
inline std::string berHex(AbstractData const& v) { return encHex(Rule::ber, v); }
inline bool perDecode(std::string const& text, AbstractData& v) { return decBytes(Rule::per, unhex(text), v); }
inline bool berDecode(std::string const& text, AbstractData& v) { return decBytes(Rule::ber, unhex(text), v); }

} // namespace PerTypes

#endif
