// Aligned (and unaligned) PER encoder.
#include "asn1/per/per_encoder.h"

#include <cstdint>

namespace ASN1 {

unsigned CountBits(unsigned n)
{
    if (n == 0 || n > 2147483648u)
        return 32;
    return n == 1 ? 0u : 32u - static_cast<unsigned>(__builtin_clz(n - 1));  // bits of n - 1
}

bool IsShortString(ConstrainedObject const& v, unsigned bitsPerChar)
{
    return v.constrained() && std::uint64_t(v.getUpperLimit()) * bitsPerChar <= 16;
}

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned)
    : out_(out), bitsLeft_(8), aligned_(aligned)
{
    out_.clear();
    out_.reserve(256);
}

// ---- bit primitives --------------------------------------------------------

void PEREncoder::encodeSingleBit(bool b)
{
    if (bitsLeft_ == 8)
        out_.push_back(0);
    --bitsLeft_;
    if (b)
        out_.back() = static_cast<char>(static_cast<unsigned char>(out_.back()) | (1u << bitsLeft_));
    if (bitsLeft_ == 0)
        bitsLeft_ = 8;
}

void PEREncoder::encodeMultiBit(unsigned value, unsigned n)
{
    if (n == 0)
        return;
    if (n > 32)
        n = 32;
    std::uint64_t v = value;
    if (n < 32)
        v &= (std::uint64_t(1) << n) - 1;
    // Fill the open octet, then whole octets, then the start of a new one.
    if (bitsLeft_ != 8) {
        unsigned const take = n < bitsLeft_ ? n : bitsLeft_;
        bitsLeft_ = static_cast<unsigned short>(bitsLeft_ - take);
        n -= take;
        out_.back() = static_cast<char>(static_cast<unsigned char>(out_.back()) |
                                        (static_cast<unsigned>(v >> n) << bitsLeft_));
        if (bitsLeft_ == 0)
            bitsLeft_ = 8;
        v &= (std::uint64_t(1) << n) - 1;
    }
    while (n >= 8) {
        n -= 8;
        out_.push_back(static_cast<char>(v >> n));
    }
    if (n > 0) {
        bitsLeft_ = static_cast<unsigned short>(8 - n);
        out_.push_back(static_cast<char>(v << bitsLeft_));
    }
}

void PEREncoder::byteAlign()
{
    bitsLeft_ = 8;
}

void PEREncoder::encodeByte(unsigned v)
{
    byteAlign();
    out_.push_back(static_cast<char>(v));
}

void PEREncoder::encodeBlock(char const* data, unsigned n)
{
    if (n == 0)
        return;
    byteAlign();
    out_.insert(out_.end(), data, data + n);
}

void PEREncoder::encodeBitMap(std::vector<char> const& bits, unsigned n)
{
    encodeBits(reinterpret_cast<unsigned char const*>(bits.data()), n);
}

void PEREncoder::encodeBits(unsigned char const* bits, unsigned n)
{
    unsigned whole = n / 8;
    for (unsigned i = 0; i < whole; ++i)
        encodeMultiBit(bits[i], 8);
    if (n % 8)
        encodeMultiBit(static_cast<unsigned>(bits[whole]) >> (8 - n % 8), n % 8);
}

// ---- numbers and lengths ---------------------------------------------------

bool PEREncoder::encodeUnsigned(unsigned v, unsigned lo, unsigned hi)
{
    if (v < lo || v > hi)
        return false;
    if (lo == hi)
        return true;
    unsigned range = hi - lo + 1;  // 0 stands for the full 32-bit range
    unsigned w = CountBits(range);
    unsigned d = v - lo;
    if (!aligned_) {
        encodeMultiBit(d, w);
    } else if (range != 0 && range <= 255) {
        encodeMultiBit(d, w);  // bit-field, not aligned
    } else if (range == 256) {
        byteAlign();
        encodeMultiBit(d, 8);
    } else if (range != 0 && range <= 65536) {
        byteAlign();
        encodeMultiBit(d, 16);
    } else {
        // Octet count in 1..m, then the octets.
        unsigned k = d == 0 ? 1 : (CountBits(d + 1) + 7) / 8;
        unsigned m = (w + 7) / 8;
        if (!encodeLength(k, 1, m))
            return false;
        byteAlign();
        encodeMultiBit(d, 8 * k);
    }
    return true;
}

bool PEREncoder::encodeLength(unsigned len, unsigned lo, unsigned hi)
{
    if (len < lo || len > hi)
        return false;
    if (!aligned_ && hi != NoUpperBound) {
        encodeMultiBit(len - lo, CountBits(hi - lo + 1));
        return true;
    }
    if (hi <= 65535)
        return encodeUnsigned(len, lo, hi);
    byteAlign();
    if (len <= 127)
        encodeMultiBit(len, 8);
    else if (len < 16384)
        encodeMultiBit(0x8000u | len, 16);
    else
        return false;  // fragmented lengths are not produced
    return true;
}

void PEREncoder::encodeSmallUnsigned(unsigned n)
{
    if (n <= 63) {
        encodeMultiBit(n, 7);  // a 0 bit and n in 6 bits
        return;
    }
    encodeSingleBit(true);
    unsigned k = n < 256 ? 1 : n < 65536 ? 2 : n <= 16777215 ? 3 : 4;
    encodeLength(k, 0, NoUpperBound);
    byteAlign();
    encodeMultiBit(n, 8 * k);
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& obj, unsigned v)
{
    switch (obj.getConstraintType()) {
    case ExtendableConstraint: {
        int lower = obj.getLowerLimit();
        bool below = lower < 0 ? static_cast<int>(v) < lower : v < static_cast<unsigned>(lower);
        bool outside = v > obj.getUpperLimit() || below;
        encodeSingleBit(outside);
        return !outside;
    }
    case FixedConstraint:
        return true;
    default:
        return false;
    }
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& obj, unsigned len)
{
    if (encodeConstraint(obj, len))
        return encodeLength(len, static_cast<unsigned>(obj.getLowerLimit()), obj.getUpperLimit());
    return encodeLength(len, 0, NoUpperBound);
}

bool PEREncoder::encodeAnyType(AbstractData const* data)
{
    std::vector<char> inner;
    if (data) {
        PEREncoder encoder(inner, true);
        if (!data->accept(encoder))
            return false;
    }
    if (inner.empty())
        inner.push_back(0);
    if (inner.size() > NoUpperBound || !encodeLength(static_cast<unsigned>(inner.size()), 0, NoUpperBound))
        return false;
    encodeBlock(inner.data(), static_cast<unsigned>(inner.size()));
    return true;
}

// ---- values ----------------------------------------------------------------

bool PEREncoder::do_visit(Null const&)
{
    return true;
}

bool PEREncoder::do_visit(BOOLEAN const& v)
{
    encodeSingleBit(static_cast<bool>(v));
    return true;
}

bool PEREncoder::do_visit(INTEGER const& v)
{
    int value = v.getValue();
    int lower = v.getLowerLimit();
    unsigned upper = v.getUpperLimit();
    bool bounded = false;
    if (v.getConstraintType() == ExtendableConstraint) {
        bool outside = lower < 0
            ? (value < lower || value > static_cast<int>(upper))
            : (static_cast<unsigned>(value) < static_cast<unsigned>(lower) ||
               static_cast<unsigned>(value) > upper);
        encodeSingleBit(outside);
        bounded = !outside;
    } else {
        bounded = v.getConstraintType() == FixedConstraint;
    }
    if (bounded) {
        if (lower >= 0)
            return encodeUnsigned(static_cast<unsigned>(value), static_cast<unsigned>(lower), upper);
        // A range with a negative lower bound: the offset from the bound.
        int hi = static_cast<int>(upper);
        if (value < lower || value > hi)
            return false;
        std::int64_t offset = std::int64_t(value) - lower;
        std::int64_t span = std::int64_t(hi) - lower;
        return encodeUnsigned(static_cast<unsigned>(offset), 0, static_cast<unsigned>(span));
    }
    unsigned k = 1;
    if (value < -128 || value > 127)
        k = 2;
    if (value < -32768 || value > 32767)
        k = 3;
    if (value < -8388608 || value > 8388607)
        k = 4;
    if (!encodeLength(k, 0, NoUpperBound))
        return false;
    encodeMultiBit(static_cast<unsigned>(value), 8 * k);
    return true;
}

bool PEREncoder::do_visit(ENUMERATED const& v)
{
    int number = v.asInt();
    int maximum = v.getMaximum();
    if (v.extendable()) {
        bool extension = number > maximum;
        encodeSingleBit(extension);
        if (extension) {
            unsigned n = static_cast<unsigned>(number);
            encodeSmallUnsigned(n + 1);
            return encodeUnsigned(n, 0, n);
        }
    }
    if (number < 0 || maximum < 0)
        return false;
    return encodeUnsigned(static_cast<unsigned>(number), 0, static_cast<unsigned>(maximum));
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& v)
{
    std::vector<char> contents;
    v.encodeCommon(contents);
    if (contents.size() > 255)
        return false;
    unsigned n = static_cast<unsigned>(contents.size());
    if (!encodeLength(n, 0, 255))
        return false;
    encodeBlock(contents.data(), n);
    return true;
}

bool PEREncoder::do_visit(BIT_STRING const& v)
{
    unsigned size = v.size();
    if (!encodeConstrainedLength(v, size))
        return false;
    if (size == 0)
        return true;
    std::vector<char> const& data = v.getData();
    if (data.size() < (size + 7) / 8)
        return false;
    if (aligned_ && size > 16)
        encodeBlock(data.data(), (size + 7) / 8);
    else
        encodeBitMap(data, size);
    return true;
}

bool PEREncoder::do_visit(OCTET_STRING const& v)
{
    if (v.size() > NoUpperBound)
        return false;
    unsigned size = static_cast<unsigned>(v.size());
    if (!encodeConstrainedLength(v, size))
        return false;
    if (size == 0)
        return true;
    if (size <= 2) {
        for (unsigned i = 0; i < size; ++i)
            encodeMultiBit(static_cast<unsigned char>(v[i]), 8);
        return true;
    }
    encodeBlock(v.data(), size);
    return true;
}

bool PEREncoder::do_visit(AbstractString const& v)
{
    if (v.size() > NoUpperBound)
        return false;
    unsigned len = static_cast<unsigned>(v.size());
    if (!encodeConstrainedLength(v, len))
        return false;
    unsigned b = v.getNumBits(aligned_);
    bool small = IsShortString(v, b);
    if (!small) {
        if (b == 8) {
            encodeBlock(v.data(), len);
            return true;
        }
        if (aligned_)
            byteAlign();
    }
    unsigned canonical = v.getCanonicalSetBits();
    bool asCode = canonical > 4 && canonical <= b;
    // Written as their own codes, the characters must still be of the set.
    if (asCode && v.find_first_invalid() >= 0)
        return false;
    char const* set = v.getCharacterSet();
    unsigned setSize = v.getCharacterSetSize();
    for (unsigned i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(v[i]);
        if (asCode) {
            encodeMultiBit(c, b);
            continue;
        }
        unsigned index = 0;
        while (index < setSize && static_cast<unsigned char>(set[index]) != c)
            ++index;
        if (index == setSize)
            return false;
        encodeMultiBit(index, b);
    }
    return true;
}

bool PEREncoder::do_visit(BMPString const& v)
{
    if (v.size() > NoUpperBound)
        return false;
    unsigned len = static_cast<unsigned>(v.size());
    if (!encodeConstrainedLength(v, len))
        return false;
    unsigned b = v.getNumBits(aligned_);
    bool small = IsShortString(v, b);
    if (aligned_ && !small)
        byteAlign();
    unsigned first = v.getFirstChar();
    for (unsigned i = 0; i < len; ++i)
        encodeMultiBit(static_cast<unsigned>(v[i]) - first, b);
    return true;
}

bool PEREncoder::do_visit(CHOICE const& v)
{
    int index = v.currentSelection();
    AbstractData const* selection = v.getSelection();
    if (index < 0 || !selection)
        return false;
    unsigned i = static_cast<unsigned>(index);
    unsigned n = v.getNumChoices();
    if (v.extendable()) {
        bool extension = i >= n;
        encodeSingleBit(extension);
        if (extension) {
            encodeSmallUnsigned(i - n);
            return encodeAnyType(selection);
        }
    } else if (i >= n) {
        return false;
    }
    if (n > 1 && !encodeUnsigned(i, 0, n - 1))
        return false;
    return selection->accept(*this);
}

bool PEREncoder::do_visit(OpenData const& v)
{
    if (v.has_data() || !v.has_buf())
        return encodeAnyType(v.has_data() ? &v.get_data() : nullptr);
    // Only the octets received are held: hand them on unchanged.
    std::vector<char> const& buf = v.get_buf();
    if (buf.empty())
        return encodeAnyType(nullptr);
    if (buf.size() > NoUpperBound || !encodeLength(static_cast<unsigned>(buf.size()), 0, NoUpperBound))
        return false;
    encodeBlock(buf.data(), static_cast<unsigned>(buf.size()));
    return true;
}

bool PEREncoder::do_visit(GeneralizedTime const& v)
{
    std::string text = v.get();
    unsigned len = static_cast<unsigned>(text.size());
    if (!encodeLength(len, 0, 4294967295u))
        return false;
    encodeBlock(text.data(), len);
    return true;
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& v)
{
    if (!encodeConstrainedLength(v, v.size()))
        return false;
    for (AbstractData const* element : v)
        if (!element->accept(*this))
            return false;
    return true;
}

namespace {

// Extension additions are written only for the additions the type knows:
// bits beyond them (left by a decoded value from a newer peer) have no
// value to write, and announcing them would corrupt the encoding.
unsigned knownExtensionBits(SEQUENCE const& v)
{
    unsigned size = v.getExtensionMap().size();
    unsigned known = v.getNumKnownExtensions();
    return size < known ? size : known;
}

bool anyKnownExtension(SEQUENCE const& v)
{
    SEQUENCE::BitMap const& map = v.getExtensionMap();
    unsigned n = knownExtensionBits(v);
    for (unsigned i = 0; i < n; ++i)
        if (map[i])
            return true;
    return false;
}

} // namespace

bool PEREncoder::preVisitExtensionRoots(SEQUENCE const& v)
{
    if (v.extendable())
        encodeSingleBit(anyKnownExtension(v));
    SEQUENCE::BitMap const& optional = v.getOptionalMap();
    encodeBits(optional.bytes(), optional.size());
    return true;
}

bool PEREncoder::visitExtensionRoot(SEQUENCE const& v, int index)
{
    AbstractData const* field = v.getField(static_cast<unsigned>(index));
    return field && field->accept(*this);
}

bool PEREncoder::preVisitExtensions(SEQUENCE const& v)
{
    if (!v.extendable() || !anyKnownExtension(v))
        return true;
    unsigned n = knownExtensionBits(v);
    encodeSmallUnsigned(n - 1);
    encodeBits(v.getExtensionMap().bytes(), n);
    return true;
}

bool PEREncoder::visitKnownExtension(SEQUENCE const& v, int index)
{
    AbstractData const* field = v.getField(static_cast<unsigned>(index));
    return field && encodeAnyType(field);
}

} // namespace ASN1
