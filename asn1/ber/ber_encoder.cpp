// BER encoder and contents-length counter.
#include "asn1/ber/ber_encoder.h"

#include "asn1/check/checkers.h"

#include <string>

namespace ASN1 {

namespace {

// Octets of a tag number written in base 128 after the 0x1F identifier octet.
unsigned base128Length(std::uint32_t number)
{
    unsigned n = 1;
    while (number >= 128) {
        number >>= 7;
        ++n;
    }
    return n;
}

unsigned identifierLength(std::uint32_t tag)
{
    std::uint32_t const number = tag & 0xFFFFu;
    return number < 31 ? 1 : 1 + base128Length(number);
}

unsigned lengthOctets(std::uint32_t length)
{
    if (length < 128)
        return 1;
    unsigned k = 0;
    for (std::uint32_t l = length; l; l >>= 8)
        ++k;
    return 1 + k;
}

std::vector<char> oidContents(OBJECT_IDENTIFIER const& v)
{
    std::vector<char> contents;
    v.encodeCommon(contents);
    return contents;
}

} // namespace

unsigned getIntegerDataLength(int v)
{
    std::uint32_t const sign = v < 0 ? 0x1FFu : 0u;
    for (int shift = 23; shift > 0; shift -= 8) {
        if ((static_cast<std::uint32_t>(v >> shift) & 0x1FFu) != sign)
            return static_cast<unsigned>(shift + 9) / 8;
    }
    return 1;
}

unsigned getIntegerDataLength(INTEGER const& v)
{
    if (unsignedRange(v) && v.getValue() < 0)
        return 5;  // a leading zero octet keeps the number positive
    return getIntegerDataLength(v.getValue());
}

unsigned getDataLength(AbstractData const& value)
{
    DataLengthCounter counter;
    value.accept(counter);
    return counter.getLength();
}

unsigned getObjectLength(AbstractData const& value, unsigned tag)
{
    DataLengthCounter counter;
    value.accept(counter);
    return tag == 0 ? counter.getLength() : counter.getObjectLen(tag);
}

// ---- DataLengthCounter ----------------------------------------------------------------

unsigned DataLengthCounter::getObjectLen(unsigned tag) const
{
    return identifierLength(tag) + lengthOctets(length_) + length_;
}

bool DataLengthCounter::do_visit(BOOLEAN const&)
{
    length_ += 1;
    return true;
}

bool DataLengthCounter::do_visit(INTEGER const& v)
{
    length_ += getIntegerDataLength(v);
    return true;
}

bool DataLengthCounter::do_visit(ENUMERATED const& v)
{
    length_ += getIntegerDataLength(v.asInt());
    return true;
}

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& v)
{
    length_ += static_cast<std::uint32_t>(oidContents(v).size());
    return true;
}

bool DataLengthCounter::do_visit(BIT_STRING const& v)
{
    length_ += 1 + (v.size() + 7) / 8;
    return true;
}

bool DataLengthCounter::do_visit(OCTET_STRING const& v)
{
    length_ += static_cast<std::uint32_t>(v.size());
    return true;
}

bool DataLengthCounter::do_visit(AbstractString const& v)
{
    length_ += static_cast<std::uint32_t>(v.size());
    return true;
}

bool DataLengthCounter::do_visit(BMPString const& v)
{
    length_ += 2 * static_cast<std::uint32_t>(v.size());
    return true;
}

bool DataLengthCounter::do_visit(CHOICE const& v)
{
    if (v.currentSelection() >= 0 && v.getSelection())
        length_ += getObjectLength(*v.getSelection(), v.getSelectionTag());
    return true;
}

bool DataLengthCounter::do_visit(OpenData const& v)
{
    if (v.has_data())
        length_ += getObjectLength(v.get_data(), v.get_data().getTag());
    else if (v.has_buf())
        length_ += static_cast<std::uint32_t>(v.get_buf().size());
    return true;
}

bool DataLengthCounter::do_visit(GeneralizedTime const& v)
{
    length_ += static_cast<std::uint32_t>(v.get().size());
    return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& v)
{
    for (AbstractData const* element : v)
        length_ += getObjectLength(*element, element->getTag());
    return true;
}

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& seq, int index)
{
    AbstractData const* field = seq.getField(static_cast<unsigned>(index));
    if (field)
        length_ += getObjectLength(*field, seq.getFieldTag(index));
    return true;
}

bool DataLengthCounter::visitKnownExtension(SEQUENCE const& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

// ---- BEREncoder -------------------------------------------------------------------------

BEREncoder::BEREncoder(std::vector<char>& out) : out_(out)
{
    out_.clear();
    out_.reserve(256);
}

void BEREncoder::writeHeader(std::uint32_t tag, bool constructed, unsigned length)
{
    unsigned identifier = (tag >> 16) & 0xC0u;
    if (constructed)
        identifier |= 0x20u;
    std::uint32_t const number = tag & 0xFFFFu;
    if (number < 31) {
        encodeByte(identifier | number);
    } else {
        encodeByte(identifier | 0x1Fu);
        for (unsigned i = base128Length(number); i-- > 0;)
            encodeByte(((number >> (7 * i)) & 0x7Fu) | (i ? 0x80u : 0u));
    }
    if (length < 128) {
        encodeByte(length);
    } else {
        unsigned const k = lengthOctets(length) - 1;
        encodeByte(0x80u | k);
        encodeUnsigned(length, k);
    }
}

void BEREncoder::encodeUnsigned(std::uint64_t value, unsigned octets)
{
    for (unsigned i = octets; i-- > 0;)
        encodeByte(static_cast<unsigned>((value >> (8 * i)) & 0xFFu));
}

void BEREncoder::encodeHeader(AbstractData const& value)
{
    std::uint32_t const tag = tag_ == OwnTag ? value.getTag() : tag_;
    if (tag == 0)
        return;
    PrimitiveChecker primitive;
    writeHeader(tag, !value.accept(primitive), getDataLength(value));
}

bool BEREncoder::do_visit(Null const& v)
{
    encodeHeader(v);
    return true;
}

bool BEREncoder::do_visit(BOOLEAN const& v)
{
    encodeHeader(v);
    encodeByte(static_cast<bool>(v) ? 0xFFu : 0u);
    return true;
}

bool BEREncoder::do_visit(INTEGER const& v)
{
    encodeHeader(v);
    std::uint64_t const bits = unsignedRange(v)
                                   ? static_cast<std::uint64_t>(static_cast<std::uint32_t>(v.getValue()))
                                   : static_cast<std::uint64_t>(static_cast<std::int64_t>(v.getValue()));
    encodeUnsigned(bits, getIntegerDataLength(v));
    return true;
}

bool BEREncoder::do_visit(ENUMERATED const& v)
{
    encodeHeader(v);
    encodeUnsigned(static_cast<std::uint64_t>(static_cast<std::int64_t>(v.asInt())),
                   getIntegerDataLength(v.asInt()));
    return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& v)
{
    encodeHeader(v);
    std::vector<char> const contents = oidContents(v);
    encodeBlock(contents.data(), static_cast<unsigned>(contents.size()));
    return true;
}

bool BEREncoder::do_visit(BIT_STRING const& v)
{
    encodeHeader(v);
    encodeByte((8 - v.size() % 8) % 8);
    std::vector<char> const& data = v.getData();
    std::size_t const octets = (std::size_t(v.size()) + 7) / 8;
    for (std::size_t i = 0; i < octets; ++i)
        encodeByte(i < data.size() ? static_cast<unsigned char>(data[i]) : 0u);
    return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& v)
{
    encodeHeader(v);
    encodeBlock(v.data(), static_cast<unsigned>(v.size()));
    return true;
}

bool BEREncoder::do_visit(AbstractString const& v)
{
    encodeHeader(v);
    encodeBlock(v.data(), static_cast<unsigned>(v.size()));
    return true;
}

bool BEREncoder::do_visit(BMPString const& v)
{
    encodeHeader(v);
    for (wchar_t c : v) {
        encodeByte((static_cast<unsigned>(c) >> 8) & 0xFFu);
        encodeByte(static_cast<unsigned>(c) & 0xFFu);
    }
    return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& v)
{
    encodeHeader(v);
    std::string const text = v.get();
    encodeBlock(text.data(), static_cast<unsigned>(text.size()));
    return true;
}

// A CHOICE under a tag of its own is wrapped in that (constructed) tag;
// otherwise only its alternative, under the alternative's tag, is written.
bool BEREncoder::do_visit(CHOICE const& v)
{
    AbstractData const* selection = v.getSelection();
    if (v.currentSelection() < 0 || !selection)
        return false;
    if (tag_ != 0 && (tag_ != OwnTag || v.getTag() != 0))
        writeHeader(tag_ == OwnTag ? v.getTag() : tag_, true, getDataLength(v));
    tag_ = v.getSelectionTag();
    return selection->accept(*this);
}

bool BEREncoder::do_visit(OpenData const& v)
{
    if (v.isEmpty())
        return false;
    std::uint32_t const tag = tag_ == OwnTag ? v.getTag() : tag_;
    if (tag != 0)
        writeHeader(tag, true, getDataLength(v));
    tag_ = OwnTag;
    if (v.has_data())
        return v.get_data().accept(*this);
    encodeBlock(v.get_buf().data(), static_cast<unsigned>(v.get_buf().size()));
    return true;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& v)
{
    encodeHeader(v);
    for (AbstractData const* element : v) {
        tag_ = OwnTag;
        if (!element->accept(*this))
            return false;
    }
    return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& v)
{
    encodeHeader(v);
    return true;
}

bool BEREncoder::visitExtensionRoot(SEQUENCE const& seq, int index)
{
    AbstractData const* field = seq.getField(static_cast<unsigned>(index));
    if (!field)
        return false;
    tag_ = seq.getFieldTag(index);
    return field->accept(*this);
}

bool BEREncoder::visitKnownExtension(SEQUENCE const& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

} // namespace ASN1
