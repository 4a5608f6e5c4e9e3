// Aligned (and unaligned) PER encoder.
#ifndef TSD_ASN1_PER_PER_ENCODER_H
#define TSD_ASN1_PER_PER_ENCODER_H

#include "asn1/values/all.h"

#include <vector>

namespace ASN1 {

// Upper bound passed for a length without upper bound.
constexpr unsigned NoUpperBound = 2147483647u;

// The least b with 2^b >= n; 32 when n is 0 or above 2^31. The width of a
// field holding n different values.
unsigned CountBits(unsigned n);

// True when a string of characters of `bitsPerChar` bits is short enough
// (its upper bound times the bits fits in 16) to be laid out without
// octet alignment.
bool IsShortString(ConstrainedObject const& v, unsigned bitsPerChar);

// Encodes a value tree into PER octets. One encoder serves one value: build
// it on the output vector, let the value accept it; on false the output is
// partial and must be discarded.
class PEREncoder : public ConstVisitor {
public:
    // Binds and empties out.
    explicit PEREncoder(std::vector<char>& out, bool aligned = true);

    bool aligned() const { return aligned_; }

    // Bit primitives, most significant bit first.
    void encodeSingleBit(bool b);
    void encodeMultiBit(unsigned value, unsigned n);
    void byteAlign();
    void encodeByte(unsigned v);
    void encodeBlock(char const* data, unsigned n);
    // n bits taken most significant first from the bytes (at least
    // (n + 7) / 8 of them): whole bytes, then the top n mod 8 bits of the
    // next. No alignment.
    void encodeBitMap(std::vector<char> const& bits, unsigned n);

    // Constrained whole number v in lo..hi (unsigned).
    bool encodeUnsigned(unsigned v, unsigned lo, unsigned hi);
    // Length len in lo..hi; hi above 65535 (or NoUpperBound) gives the
    // one- or two-octet form, and 16384 or more fails.
    bool encodeLength(unsigned len, unsigned lo, unsigned hi);
    // Normally small non-negative whole number.
    void encodeSmallUnsigned(unsigned n);
    // For a SIZE or value constraint: writes the extension bit of an
    // extensible constraint and answers whether v is written in the bounded
    // form.
    bool encodeConstraint(ConstrainedObject const& obj, unsigned v);
    // A length under the SIZE constraint of obj.
    bool encodeConstrainedLength(ConstrainedObject const& obj, unsigned len);
    // The complete encoding of data (null: no value) as an open type.
    bool encodeAnyType(AbstractData const* data);

    using ConstVisitor::do_visit;
    bool do_visit(Null const& v) override;
    bool do_visit(BOOLEAN const& v) override;
    bool do_visit(INTEGER const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
    bool preVisitExtensionRoots(SEQUENCE const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool preVisitExtensions(SEQUENCE const& v) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;

private:
    // encodeBitMap from n bits at bits (the presence maps of a SEQUENCE,
    // held in the value itself).
    void encodeBits(unsigned char const* bits, unsigned n);

    std::vector<char>& out_;
    unsigned short bitsLeft_;
    bool aligned_;
};

} // namespace ASN1

#endif
