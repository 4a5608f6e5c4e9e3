// Aligned (and unaligned) PER decoder.
#include "asn1/per/per_decoder.h"

#include <cstdint>
#include <string>
#include <typeinfo>

namespace ASN1 {

PERDecoder::PERDecoder(char const* first, char const* last, CoderEnv* env, bool aligned)
    : Visitor(env), pos_(first), end_(last < first ? first : last), bitsLeft_(8), aligned_(aligned)
{
}

// ---- position --------------------------------------------------------------

unsigned long PERDecoder::getBitsLeft() const
{
    if (pos_ >= end_)
        return 0;
    return static_cast<unsigned long>(end_ - pos_) * 8 - (8 - bitsLeft_);
}

char const* PERDecoder::ahead(unsigned n) const
{
    if (static_cast<unsigned long>(end_ - pos_) <= n)
        return end_;
    return pos_ + n;
}

void PERDecoder::setPosition(char const* p)
{
    pos_ = p > end_ ? end_ : p;
    bitsLeft_ = 8;
}

void PERDecoder::byteAlign()
{
    if (bitsLeft_ != 8 && pos_ < end_) {
        ++pos_;
        bitsLeft_ = 8;
    }
}

void PERDecoder::rollback(memento_type m)
{
    if (!m.position)
        return;
    pos_ = m.position > end_ ? end_ : m.position;
    bitsLeft_ = static_cast<unsigned short>(m.bitsLeft);
}

// ---- bit primitives --------------------------------------------------------

unsigned PERDecoder::decodeSingleBit()
{
    if (pos_ >= end_)
        return 0;
    --bitsLeft_;
    unsigned bit = (static_cast<unsigned char>(*pos_) >> bitsLeft_) & 1u;
    if (bitsLeft_ == 0) {
        ++pos_;
        bitsLeft_ = 8;
    }
    return bit;
}

bool PERDecoder::decodeMultiBit(unsigned n, unsigned& v)
{
    if (n > 32 || getBitsLeft() < n)
        return false;
    if (n == 0) {
        v = 0;
        return true;
    }
    // The octets holding the n bits (at most five), read as one number.
    unsigned const skip = 8u - bitsLeft_;
    unsigned const used = skip + n;
    unsigned const octets = (used + 7) / 8;
    std::uint64_t window = 0;
    for (unsigned k = 0; k < octets; ++k)
        window = (window << 8) | static_cast<unsigned char>(pos_[k]);
    window >>= 8 * octets - used;
    v = static_cast<unsigned>(window & ((std::uint64_t(1) << n) - 1));
    pos_ += used / 8;
    bitsLeft_ = static_cast<unsigned short>(8 - used % 8);
    return true;
}

unsigned PERDecoder::decodeBlock(char* buf, unsigned n)
{
    if (n == 0)
        return 0;
    byteAlign();
    unsigned long available = pos_ < end_ ? static_cast<unsigned long>(end_ - pos_) : 0;
    unsigned count = available < n ? static_cast<unsigned>(available) : n;
    for (unsigned i = 0; i < count; ++i)
        buf[i] = pos_[i];
    pos_ += count;
    return count;
}

bool PERDecoder::decodeBitMap(std::vector<char>& bits, unsigned n)
{
    if (getBitsLeft() < n)
        return false;
    bits.assign((n + 7) / 8, 0);
    return decodeBits(reinterpret_cast<unsigned char*>(bits.data()), n);
}

bool PERDecoder::decodeBits(unsigned char* bits, unsigned n)
{
    if (getBitsLeft() < n)
        return false;
    unsigned v = 0;
    for (unsigned i = 0; i < n / 8; ++i) {
        decodeMultiBit(8, v);
        bits[i] = static_cast<unsigned char>(v);
    }
    if (n % 8) {
        decodeMultiBit(n % 8, v);
        bits[n / 8] = static_cast<unsigned char>(v << (8 - n % 8));
    }
    return true;
}

// ---- numbers and lengths ---------------------------------------------------

int PERDecoder::decodeUnsigned(unsigned lo, unsigned hi, unsigned& v)
{
    if (lo == hi) {
        v = lo;
        return 0;
    }
    if (atEnd())
        return -1;
    unsigned range = hi - lo + 1;  // 0 stands for the full 32-bit range
    unsigned w = CountBits(range);
    if (aligned_ && (range == 0 || range > 255)) {
        if (w > 16) {
            unsigned k = 0;
            if (decodeLength(1, (w + 7) / 8, k) < 0)
                return -1;
            w = 8 * k;
        } else if (w > 8) {
            w = 16;
        }
        byteAlign();
    }
    unsigned bits = 0;
    // The offset is not compared with hi (a 16-bit field may carry a number
    // above its range, for the checks after decoding to refuse); a sum that
    // does not fit 32 bits is no number at all.
    if (!decodeMultiBit(w, bits) || bits > ~0u - lo)
        return -1;
    v = lo + bits;
    return 0;
}

int PERDecoder::decodeLength(unsigned lo, unsigned hi, unsigned& len)
{
    if (!aligned_ && hi != NoUpperBound) {
        unsigned bits = 0;
        if (!decodeMultiBit(CountBits(hi - lo + 1), bits))
            return -1;
        len = lo + bits;
        return 0;
    }
    if (hi <= 65535)
        return decodeUnsigned(lo, hi, len);
    byteAlign();
    unsigned first = 0;
    if (atEnd() || !decodeMultiBit(8, first))
        return -1;
    if ((first & 0x80u) == 0) {
        len = first;
        return 0;
    }
    if ((first & 0x40u) != 0)
        return -1;  // fragmented form
    unsigned second = 0;
    if (!decodeMultiBit(8, second))
        return -1;
    len = ((first & 0x3Fu) << 8) | second;
    return 0;
}

bool PERDecoder::decodeSmallUnsigned(unsigned& n)
{
    if (atEnd())
        return false;
    if (decodeSingleBit() == 0)
        return decodeMultiBit(6, n);
    unsigned k = 0;
    if (decodeLength(0, NoUpperBound, k) < 0)
        return false;
    byteAlign();
    return decodeMultiBit(8 * k, n);
}

bool PERDecoder::decodeConstrainedLength(ConstrainedObject const& obj, unsigned& len)
{
    ConstraintType type = obj.getConstraintType();
    if (type == ExtendableConstraint && decodeSingleBit())
        return decodeLength(0, NoUpperBound, len) == 0;
    if (type != Unconstrained)
        return decodeLength(static_cast<unsigned>(obj.getLowerLimit()), obj.getUpperLimit(), len) == 0;
    return decodeLength(0, NoUpperBound, len) == 0;
}

// An open type's value is read within its octets [pos_, after): reading
// past them fails rather than taking the octets that follow.
bool PERDecoder::within(char const* after, AbstractData& value)
{
    char const* const saved = end_;
    end_ = after;
    bool const ok = decodeNested(value);
    end_ = saved;
    return ok;
}

bool PERDecoder::decodeNested(AbstractData& value)
{
    bool const outer = nested_;
    nested_ = true;
    bool const ok = value.accept(*this);
    nested_ = outer;
    return ok;
}

// ---- values ----------------------------------------------------------------

bool PERDecoder::do_visit(Null&)
{
    return true;
}

bool PERDecoder::do_visit(BOOLEAN& v)
{
    if (atEnd())
        return false;
    v = decodeSingleBit() != 0;
    return true;
}

bool PERDecoder::do_visit(INTEGER& v)
{
    ConstraintType type = v.getConstraintType();
    bool bounded = type == FixedConstraint;
    if (type == ExtendableConstraint)
        bounded = decodeSingleBit() == 0;
    if (bounded) {
        int lower = v.getLowerLimit();
        unsigned upper = v.getUpperLimit();
        unsigned value = 0;
        if (lower >= 0) {
            if (decodeUnsigned(static_cast<unsigned>(lower), upper, value) < 0)
                return false;
            v.setValue(static_cast<int>(value));
            return true;
        }
        // A range with a negative lower bound: the offset from the bound.
        std::int64_t span = std::int64_t(static_cast<int>(upper)) - lower;
        if (span < 0)
            return false;
        if (decodeUnsigned(0, static_cast<unsigned>(span), value) < 0)
            return false;
        std::int64_t const number = std::int64_t(lower) + value;
        if (number > INT32_MAX)
            return false;  // not a number the value can hold
        v.setValue(static_cast<int>(number));
        return true;
    }
    // k octets of two's complement; no octet at all is the number 0.
    unsigned k = 0;
    if (decodeLength(0, NoUpperBound, k) < 0 || k > 4)
        return false;
    unsigned bits = 0;
    if (!decodeMultiBit(8 * k, bits))
        return false;
    if (k > 0 && k < 4 && (bits & (1u << (8 * k - 1))))
        bits |= ~0u << (8 * k);  // sign extension
    v.setValue(static_cast<int>(bits));
    return true;
}

bool PERDecoder::do_visit(ENUMERATED& v)
{
    if (v.extendable()) {
        if (decodeSingleBit()) {
            // Extension value: its number plus one, then the number. A form
            // that cannot be read is a failure, not a root value.
            unsigned n = 0, number = 0;
            if (!decodeSmallUnsigned(n) || n == 0 || decodeUnsigned(0, n - 1, number) < 0 ||
                number > static_cast<unsigned>(INT32_MAX))
                return false;  // not a number the value can hold
            v.setFromInt(static_cast<int>(number));
            return true;
        }
    }
    int maximum = v.getMaximum();
    if (maximum < 0)
        return false;
    // The number the field carries, also one above the maximum (as a
    // constrained INTEGER holds one above its range): the checkers and the
    // services judge it.
    unsigned number = 0;
    if (decodeUnsigned(0, static_cast<unsigned>(maximum), number) < 0 ||
        number > static_cast<unsigned>(INT32_MAX))
        return false;  // not a number the value can hold
    v.setFromInt(static_cast<int>(number));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    unsigned len = 0;
    if (decodeLength(0, 255, len) < 0)
        return false;
    char buf[256];
    if (decodeBlock(buf, len) != len)
        return false;
    return v.decodeCommon(buf, len);
}

bool PERDecoder::do_visit(OCTET_STRING& v)
{
    unsigned size = 0;
    if (!decodeConstrainedLength(v, size) || size > MaximumStringSize || size > getBitsLeft() / 8)
        return false;
    v.resize(size);
    if (size == 0)
        return true;
    if (size <= 2) {
        for (unsigned i = 0; i < size; ++i) {
            unsigned octet = 0;
            if (!decodeMultiBit(8, octet))
                return false;
            v[i] = static_cast<char>(octet);
        }
        return true;
    }
    return decodeBlock(v.data(), size) == size;
}

bool PERDecoder::do_visit(BIT_STRING& v)
{
    unsigned size = 0;
    if (!decodeConstrainedLength(v, size) || size > MaximumStringSize || size > getBitsLeft())
        return false;
    v.resize(size);
    if (size == 0)
        return true;
    std::vector<char>& data = v.getData();
    unsigned octets = (size + 7) / 8;
    if (aligned_ && size > 16)
        return decodeBlock(data.data(), octets) == octets;
    return decodeBitMap(data, size);
}

bool PERDecoder::do_visit(AbstractString& v)
{
    unsigned len = 0;
    if (!decodeConstrainedLength(v, len) || len > MaximumStringSize)
        return false;
    v.resize(len);
    unsigned b = v.getNumBits(aligned_);
    bool small = IsShortString(v, b);
    if (!small) {
        if (b == 8) {
            if (decodeBlock(&v[0], len) != len) {
                v.clear();
                return false;
            }
            return true;
        }
        if (aligned_)
            byteAlign();
    }
    unsigned canonical = v.getCanonicalSetBits();
    bool asCode = canonical > 4 && canonical <= b;
    char const* set = v.getCharacterSet();
    unsigned setSize = v.getCharacterSetSize();
    for (unsigned i = 0; i < len; ++i) {
        unsigned bits = 0;
        if (!decodeMultiBit(b, bits))
            return false;
        if (asCode) {
            v[i] = static_cast<char>(bits);
        } else {
            if (bits >= setSize)
                return false;
            v[i] = set[bits];
        }
    }
    return true;
}

bool PERDecoder::do_visit(BMPString& v)
{
    unsigned len = 0;
    if (!decodeConstrainedLength(v, len) || len > MaximumStringSize)
        return false;
    v.resize(len);
    unsigned b = v.getNumBits(aligned_);
    bool small = IsShortString(v, b);
    if (aligned_ && !small)
        byteAlign();
    unsigned first = v.getFirstChar();
    for (unsigned i = 0; i < len; ++i) {
        unsigned bits = 0;
        if (!decodeMultiBit(b, bits))
            return false;
        v[i] = static_cast<wchar_t>(bits + first);
    }
    return true;
}

bool PERDecoder::decodeChoicePreamle(CHOICE& v, memento_type& m)
{
    m = memento_type();
    if (atEnd())
        return false;
    unsigned n = v.getNumChoices();
    unsigned index = 0;
    if (v.extendable() && decodeSingleBit()) {
        unsigned j = 0, len = 0;
        if (!decodeSmallUnsigned(j) || decodeLength(0, NoUpperBound, len) < 0)
            return false;
        if (!octetsLeft(len))
            return false;
        m.position = ahead(len);
        m.bitsLeft = 8;
        index = j < v.getNumKnownChoices() ? j + n : v.getNumKnownChoices();
    } else if (n > 1) {
        // An index cut short fails with the held alternative in place.
        if (decodeUnsigned(0, n - 1, index) < 0)
            return false;
        if (index >= n) {
            // A root index beyond the root alternatives.
            v.setSelection(CHOICE::UnknownSelection, nullptr);
            return false;
        }
    }
    // The alternative already held is decoded again in place; any other one
    // is a new value (nothing of an earlier selection comes back).
    return v.select(static_cast<int>(index));
}

bool PERDecoder::do_visit(CHOICE& v)
{
    memento_type m;
    if (!decodeChoicePreamle(v, m))
        return false;
    AbstractData* selection = v.getSelection();
    if (!selection)
        return false;
    if (!m.position)
        return decodeNested(*selection);
    // An extension alternative lies within its open-type octets.
    if (!within(m.position, *selection))
        return false;
    rollback(m);
    return true;
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    unsigned count = 0;
    if (!decodeConstrainedLength(v, count) || count > MaximumArraySize)
        return false;
    v.resize(count);
    unsigned i = 0;
    for (auto it = v.begin(); it != v.end(); ++it, ++i) {
        if (!decodeNested(**it)) {
            v.resize(i);
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& v)
{
    unsigned len = 0;
    if (decodeLength(0, NoUpperBound, len) < 0 || len > MaximumStringSize || len > getBitsLeft() / 8)
        return false;
    if (!v.has_buf())
        v.grab(new std::vector<char>());
    std::vector<char>& buf = v.get_buf();
    buf.resize(len);
    return decodeBlock(buf.data(), len) == len;
}

bool PERDecoder::do_revisit(OpenData& v)
{
    if (!v.has_buf() || !v.has_data())
        return false;
    std::vector<char> const& buf = v.get_buf();
    PERDecoder decoder(buf.data(), buf.data() + buf.size(), get_env(), true);
    return v.get_data().accept(decoder);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v)
{
    unsigned len = 0;
    if (decodeLength(0, NoUpperBound, len) < 0)
        return false;
    char const* after = ahead(len);
    if (!v.has_data() || !octetsLeft(len) || !within(after, v.get_data()))
        return false;
    setPosition(after);
    return true;
}

bool PERDecoder::do_visit(GeneralizedTime& v)
{
    unsigned len = 0;
    if (decodeLength(0, NoUpperBound, len) < 0)
        return false;
    std::string text(len, '\0');
    if (len > 0 && decodeBlock(&text[0], len) != len)
        return false;
    // The text is read into the empty value: a field it does not carry (a
    // fraction, the "Z", an offset) is not one from an earlier decode.
    v = GeneralizedTime();
    v.set(text.c_str());
    return true;
}

// ---- SEQUENCE --------------------------------------------------------------

// The extension bit and the presence bits of the root; the walk then
// visits every root field, and the additions after an extension bit of 1.
//
// For speed, a SEQUENCE met inside a value the decoder is reading is read
// here whole, in the walk's order, and the walk stops: no virtual call per
// field. Only a PERDecoder itself does so, whose hooks nothing can watch;
// in a subclass, on a direct call and for the value handed to the decoder
// the walk drives the fields.
int PERDecoder::preVisitExtensionRoots(SEQUENCE& v)
{
    int const first = readPresence(v);
    if (first == Fail || !nested_ || typeid(*this) != typeid(PERDecoder))
        return first;
    return readFields(v, first);
}

int PERDecoder::readFields(SEQUENCE& v, int first)
{
    // Each root field as visitExtensionRoot reads it (the decoder is marked
    // as inside a value already).
    unsigned const roots = v.getNumRootFields();
    int lastBit = -1;
    for (unsigned i = 0; i < roots; ++i) {
        int const id = v.getFieldId(i);
        if (id != -1) {
            lastBit = id;
            if (!v.hasOptionalField(static_cast<unsigned>(id)))
                continue;
        }
        AbstractData* const field = v.getField(i);
        if (!field || !field->accept(*this))
            return Fail;
    }
    if (first != ContinueAll)
        return Stop;
    int result = PERDecoder::preVisitExtensions(v);
    for (unsigned j = 0; result == ContinueAll && j < v.getNumKnownExtensions(); ++j)
        result = PERDecoder::visitKnownExtension(v, static_cast<int>(roots + j), ++lastBit);
    if (result != ContinueAll)
        return result == Fail ? Fail : Stop;
    return PERDecoder::visitUnknownExtensions(v) ? Stop : Fail;
}

int PERDecoder::readPresence(SEQUENCE& v)
{
    bool extension = false;
    if (v.extendable()) {
        if (atEnd())
            return Fail;
        extension = decodeSingleBit() != 0;
    }
    unsigned optional = v.getNumOptionalFields();
    unsigned char small[32];
    std::vector<unsigned char> large;
    unsigned char* bits = small;
    if (optional > 8 * sizeof small) {
        large.resize((optional + 7) / 8);
        bits = large.data();
    }
    if (!decodeBits(bits, optional))
        return Fail;
    for (unsigned i = 0; optional > 0 && i < v.getNumRootFields(); ++i) {
        int id = v.getFieldId(i);
        if (id < 0 || static_cast<unsigned>(id) >= optional)
            continue;
        if (bits[id / 8] & (0x80u >> (id % 8)))
            v.includeOptionalField(static_cast<unsigned>(id), i);
        else
            v.removeOptionalField(static_cast<unsigned>(id));
    }
    if (!extension) {
        // The value holds exactly what the input carries.
        SEQUENCE::BitMap& additions = v.getExtensionMap();
        if (!additions.empty())
            additions.resize(0);
        return Continue;
    }
    return ContinueAll;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalBit)
{
    // A present optional field was included when its bit was read.
    if (optionalBit != -1 && !v.hasOptionalField(static_cast<unsigned>(optionalBit)))
        return Continue;
    AbstractData* field = v.getField(static_cast<unsigned>(index));
    return field && decodeNested(*field) ? Continue : Fail;
}

int PERDecoder::preVisitExtensions(SEQUENCE& v)
{
    unsigned n = 0;
    if (!decodeSmallUnsigned(n) || n >= MaximumArraySize)
        return Fail;
    unsigned count = n + 1;
    unsigned char small[32];
    std::vector<unsigned char> large;
    unsigned char* bits = small;
    if (count > 8 * sizeof small) {
        large.resize((count + 7) / 8);
        bits = large.data();
    }
    if (!decodeBits(bits, count))
        return Fail;
    SEQUENCE::BitMap& map = v.getExtensionMap();
    map.resize(0);
    map.resize(count);
    for (unsigned i = 0; i < count; ++i)
        if (bits[i / 8] & (0x80u >> (i % 8)))
            map.set(i);
    return ContinueAll;
}

int PERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalBit)
{
    if (!v.hasOptionalField(static_cast<unsigned>(optionalBit)))
        return ContinueAll;
    unsigned len = 0;
    if (decodeLength(0, NoUpperBound, len) < 0)
        return Fail;
    char const* after = ahead(len);
    if (!octetsLeft(len))
        return Fail;
    AbstractData* field = v.includeOptionalField(static_cast<unsigned>(optionalBit), static_cast<unsigned>(index));
    if (!field || !within(after, *field))
        return Fail;
    setPosition(after);
    return ContinueAll;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& v)
{
    SEQUENCE::BitMap const& map = v.getExtensionMap();
    for (unsigned i = v.getNumKnownExtensions(); i < map.size(); ++i) {
        if (!map[i])
            continue;
        unsigned len = 0;
        if (decodeLength(0, NoUpperBound, len) < 0)
            return false;
        if (!octetsLeft(len))
            return false;
        pos_ += len;
    }
    return true;
}

} // namespace ASN1
