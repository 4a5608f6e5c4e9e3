// BER decoder.
#include "asn1/ber/ber_decoder.h"

#include "asn1/check/checkers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace ASN1 {

namespace {

constexpr unsigned ContextClass = 0x80u;

bool nonNegativeRange(INTEGER const& v)
{
    return v.constrained() && v.getLowerLimit() >= 0;
}

} // namespace

BERDecoder::BERDecoder(char const* first, char const* last, CoderEnv* env)
    : Visitor(env), pos_(first), end_(last < first ? first : last)
{
}

unsigned BERDecoder::decodeBlock(char* buf, unsigned n)
{
    unsigned const count = std::min(n, remaining());
    if (count)
        std::memcpy(buf, pos_, count);
    pos_ += count;
    return count;
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length)
{
    if (atEnd())
        return false;
    unsigned const identifier = decodeByte();
    primitive = (identifier & 0x20u) == 0;
    std::uint32_t number = identifier & 0x1Fu;
    if (number == 0x1Fu) {
        number = 0;
        unsigned octet;
        do {
            if (atEnd())
                return false;
            octet = decodeByte();
            number = (number << 7) | (octet & 0x7Fu);
            if (number > 0xFFFFu)  // tag numbers are 16 bits wide
                return false;
        } while (octet & 0x80u);
    }
    tag = ((identifier & 0xC0u) << 16) | number;
    if (atEnd())
        return false;
    unsigned const first = decodeByte();
    if (first < 128) {
        length = first;
        return true;
    }
    unsigned const count = first & 0x7Fu;
    if (count > 4)
        return false;
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (atEnd())
            return false;
        value = (value << 8) | decodeByte();
    }
    if (count == 0)
        return false;  // indefinite form: not read
    length = value;
    return true;
}

bool BERDecoder::decodeHeader(AbstractData& value, unsigned& length)
{
    bool primitive;
    return decodeHeader(value, length, primitive);
}

bool BERDecoder::decodeHeader(AbstractData& value, unsigned& length, bool& primitive)
{
    char const* const start = pos_;
    unsigned tag;
    if (!decodeHeader(tag, primitive, length)) {
        pos_ = start;
        return false;
    }
    if (tag == value.getTag() || skip_ > 0) {
        skip_ = 0;
        return true;
    }
    pos_ = start;
    return false;
}

bool BERDecoder::contentsHeader(AbstractData& value, unsigned& length, bool constructed)
{
    // Primitive types are read in the primitive form only (a segmented,
    // constructed string is refused rather than read as its segments'
    // headers), constructed types in the constructed form only.
    bool primitive;
    return decodeHeader(value, length, primitive) && primitive != constructed && length <= remaining();
}

bool BERDecoder::readNumber(unsigned length, bool unsignedValue, bool nonNegative, int& out)
{
    if (length == 0 || length > remaining())
        return false;
    if (length == 5 && unsignedValue && *pos_ == 0) {
        ++pos_;
        --length;
    } else if (length > 4) {
        return false;  // more than the value's 32 bits
    } else if (nonNegative && (static_cast<unsigned char>(*pos_) & 0x80u)) {
        return false;  // a negative number: the type's range has none
    }
    std::uint32_t value = (decodeByte() & 0x80u) ? 0xFFFFFFFFu : 0u;
    pos_ -= 1;
    for (unsigned i = 0; i < length; ++i)
        value = (value << 8) | decodeByte();
    out = static_cast<int>(value);
    return true;
}

bool BERDecoder::do_visit(Null& v)
{
    unsigned length;
    return contentsHeader(v, length) && length == 0;
}

bool BERDecoder::do_visit(BOOLEAN& v)
{
    unsigned length;
    if (!contentsHeader(v, length) || length != 1)
        return false;
    pos_ += length;
    v = pos_[-1] != 0;
    return true;
}

bool BERDecoder::do_visit(INTEGER& v)
{
    unsigned length;
    int value;
    if (!contentsHeader(v, length) || !readNumber(length, unsignedRange(v), nonNegativeRange(v), value))
        return false;
    v.setValue(value);
    return true;
}

// An enumeration is coded as its (signed) number.
bool BERDecoder::do_visit(ENUMERATED& v)
{
    unsigned length;
    int value;
    if (!contentsHeader(v, length) || !readNumber(length, false, false, value))
        return false;
    v.setFromInt(value);
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    unsigned length;
    if (!contentsHeader(v, length))
        return false;
    char const* const data = pos_;
    pos_ += length;
    return v.decodeCommon(data, length);
}

bool BERDecoder::do_visit(OCTET_STRING& v)
{
    unsigned length;
    if (!contentsHeader(v, length))
        return false;
    v.assign(pos_, pos_ + length);
    pos_ += length;
    return true;
}

bool BERDecoder::do_visit(BIT_STRING& v)
{
    unsigned length;
    if (!contentsHeader(v, length) || length == 0)
        return false;
    unsigned const unused = decodeByte();
    unsigned const octets = length - 1;
    if (unused > 7 || (octets == 0 && unused != 0))
        return false;
    v.resize(octets * 8 - unused);
    std::vector<char>& data = v.getData();
    std::copy(pos_, pos_ + octets, data.begin());
    pos_ += octets;
    return true;
}

bool BERDecoder::do_visit(AbstractString& v)
{
    unsigned length;
    if (!contentsHeader(v, length))
        return false;
    v.std::string::assign(pos_, length);
    pos_ += length;
    return true;
}

bool BERDecoder::do_visit(BMPString& v)
{
    unsigned length;
    if (!contentsHeader(v, length) || length % 2 != 0)
        return false;
    std::wstring text;
    text.reserve(length / 2);
    for (unsigned i = 0; i < length; i += 2) {
        unsigned const high = decodeByte();
        text.push_back(static_cast<wchar_t>((high << 8) | decodeByte()));
    }
    v.std::wstring::assign(text);
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v)
{
    unsigned length;
    if (!contentsHeader(v, length))
        return false;
    std::string const text(pos_, length);
    pos_ += length;
    // Read into the empty value, as a new one would be.
    v = GeneralizedTime();
    v.set(text.c_str());
    return true;
}

// ---- CHOICE ------------------------------------------------------------------------

bool BERDecoder::decodeChoicePreamle(CHOICE& v, char const*& end)
{
    char const* const start = pos_;
    unsigned tag, length;
    bool primitive;
    if (!decodeHeader(tag, primitive, length) || length > remaining())
        return false;
    char const* alternative = start;
    char const* outerEnd = nullptr;
    if (v.getTag() != 0 || skip_ > 0) {
        // That was the CHOICE's own (or its field's) tag around the alternative.
        if ((skip_ == 0 && tag != v.getTag()) || primitive)
            return false;
        skip_ = 0;
        outerEnd = pos_ + length;
        alternative = pos_;
        if (!decodeHeader(tag, primitive, length) || length > remaining())
            return false;
    }
    end = pos_ + length;
    if (outerEnd) {
        if (end > outerEnd)
            return false;
        end = outerEnd;
    }
    pos_ = alternative;
    unsigned const tagClass = (tag >> 16) & 0xFFu;
    if (!v.choiceInfo()->tags && tagClass != ContextClass)
        return false;
    if (v.setID(tag & 0xFFFFu, tagClass) && tagClass == ContextClass)
        skip_ = 1;
    return true;
}

bool BERDecoder::do_visit(CHOICE& v)
{
    char const* end = nullptr;
    if (!decodeChoicePreamle(v, end))
        return false;
    if (v.currentSelection() < 0 || !v.getSelection()) {
        // An alternative added in a later version of an extensible type.
        if (!v.extendable())
            return false;
        skip_ = 0;
        pos_ = end;
        return true;
    }
    Narrow const narrow(*this, end);
    if (!v.getSelection()->accept(*this) || pos_ > end)
        return false;
    pos_ = end;
    return true;
}

// ---- SEQUENCE OF -------------------------------------------------------------------

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    v.clear();
    unsigned length;
    if (!contentsHeader(v, length, true))
        return false;
    char const* const contentsEnd = pos_ + length;
    Narrow const narrow(*this, contentsEnd);
    while (pos_ < contentsEnd) {
        std::unique_ptr<AbstractData> element(v.createElement());
        if (!element)
            return false;
        skip_ = 0;
        if (!element->accept(*this))
            return false;
        v.push_back(element.release());
    }
    return pos_ == contentsEnd;
}

// ---- SEQUENCE ----------------------------------------------------------------------

int BERDecoder::preVisitExtensionRoots(SEQUENCE& v)
{
    unsigned length;
    if (!contentsHeader(v, length, true))
        return Fail;
    // The additions present are marked as they are read: none from an
    // earlier decode stays marked.
    v.getExtensionMap().resize(0);
    // Fields are read within the SEQUENCE's contents.
    sequenceEnds_.push_back(end_);
    end_ = pos_ + length;
    return ContinueAll;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalBit)
{
    bool const optional = optionalBit != -1;
    unsigned const field = static_cast<unsigned>(index);
    char const* const sequenceEnd = end_;
    if (pos_ > sequenceEnd)
        return Fail;
    bool present = !atEnd() && pos_ != sequenceEnd;
    if (present) {
        char const* const start = pos_;
        unsigned tag, length;
        bool primitive;
        if (!decodeHeader(tag, primitive, length))
            return Fail;
        pos_ = start;
        present = tag == v.getFieldTag(index);
    }
    if (!present) {
        // A mandatory field must be there.
        if (!optional)
            return Fail;
        v.removeOptionalField(static_cast<unsigned>(optionalBit));
        return ContinueAll;
    }
    AbstractData* value = optional ? v.includeOptionalField(static_cast<unsigned>(optionalBit), field)
                                   : v.getField(field);
    if (!value)
        return Fail;
    // The field's header carries the field tag in place of its own.
    skip_ = v.getFieldTag(index) != value->getTag() ? 1 : 0;
    if (!value->accept(*this)) {
        if (optional)
            v.removeOptionalField(static_cast<unsigned>(optionalBit));
        return Fail;
    }
    return ContinueAll;
}

int BERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalBit)
{
    return visitExtensionRoot(v, index, optionalBit);
}

bool BERDecoder::visitUnknownExtensions(SEQUENCE& v)
{
    char const* const sequenceEnd = end_;
    end_ = sequenceEnds_.back();
    sequenceEnds_.pop_back();
    if (pos_ > sequenceEnd)
        return false;
    // An extensible SEQUENCE skips additions this version does not know;
    // anything left in another one is not a field of it.
    if (pos_ != sequenceEnd && !v.extendable())
        return false;
    pos_ = sequenceEnd;
    return true;
}

// ---- open values -------------------------------------------------------------------

bool BERDecoder::openHeader(OpenData& v, char const*& first, char const*& last, bool& wrapped)
{
    char const* const start = pos_;
    unsigned tag, length;
    bool primitive;
    if (!decodeHeader(tag, primitive, length) || length > remaining()) {
        pos_ = start;
        return false;
    }
    unsigned const own = v.getTag();
    wrapped = skip_ > 0 || (own != 0 && tag == own);
    skip_ = 0;
    if ((!wrapped && own != 0) || (wrapped && primitive)) {
        pos_ = start;
        return false;
    }
    first = wrapped ? pos_ : start;
    last = pos_ + length;
    return true;
}

bool BERDecoder::do_visit(OpenData& v)
{
    char const *first, *last;
    bool wrapped;
    if (!openHeader(v, first, last, wrapped))
        return false;
    v.grab(new std::vector<char>(first, last));
    pos_ = last;
    return true;
}

bool BERDecoder::do_revisit(OpenData& v)
{
    if (!v.has_data() || !v.has_buf())
        return false;
    std::vector<char> const& buf = v.get_buf();
    BERDecoder inner(buf.data(), buf.data() + buf.size(), get_env());
    return v.get_data().accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v)
{
    char const *first, *last;
    bool wrapped;
    if (!v.has_data() || !openHeader(v, first, last, wrapped))
        return false;
    pos_ = first;
    Narrow const narrow(*this, last);
    if (!v.get_data().accept(*this) || pos_ > last)
        return false;
    pos_ = last;
    return true;
}

} // namespace ASN1
