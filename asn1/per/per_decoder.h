// Aligned (and unaligned) PER decoder.
#ifndef TSD_ASN1_PER_PER_DECODER_H
#define TSD_ASN1_PER_PER_DECODER_H

#include "asn1/per/per_encoder.h"
#include "asn1/values/all.h"

#include <vector>

namespace ASN1 {

// Reads PER octets into a value tree, creating missing parts from the type
// descriptions. One decoder serves one value. On failure the value keeps
// what was read so far and must be discarded by the caller. Octets left
// over after a complete value are not examined.
//
// Limits: MaximumArraySize elements per SEQUENCE OF and extension additions
// per SEQUENCE; MaximumStringSize bits, octets or characters per string;
// integers of at most 4 octets; no fragmented lengths.
class PERDecoder : public Visitor {
public:
    // A saved reading point; a null position means none.
    struct memento_type {
        char const* position = nullptr;
        unsigned bitsLeft = 8;
    };

    PERDecoder(char const* first, char const* last, CoderEnv* env = nullptr, bool aligned = true);

    bool aligned() const { return aligned_; }
    bool atEnd() const { return pos_ >= end_; }
    // Unread bits of the input.
    unsigned long getBitsLeft() const;
    // Moves to p (clamped to the end), at an octet boundary.
    void setPosition(char const* p);
    void byteAlign();
    void rollback(memento_type m);
    memento_type getMemento() const { return memento_type{pos_, bitsLeft_}; }
    // The current octet position (the next octet to be read).
    char const* position() const { return pos_; }

    // The next bit (0 when the input is exhausted: test atEnd() first).
    unsigned decodeSingleBit();
    // The next n (<= 32) bits; false when fewer are left.
    bool decodeMultiBit(unsigned n, unsigned& v);
    // Aligns (unless n is 0) and copies up to n octets; the number copied.
    unsigned decodeBlock(char* buf, unsigned n);
    // n bits into (n + 7) / 8 bytes, most significant bit first; the low
    // bits of a last partial byte are 0. False, bits unchanged, when fewer
    // than n bits are left.
    bool decodeBitMap(std::vector<char>& bits, unsigned n);

    // 0 on success, -1 on failure.
    int decodeUnsigned(unsigned lo, unsigned hi, unsigned& v);
    int decodeLength(unsigned lo, unsigned hi, unsigned& len);
    bool decodeSmallUnsigned(unsigned& n);
    bool decodeConstrainedLength(ConstrainedObject const& obj, unsigned& len);
    // Reads a CHOICE's index and selects the alternative; for an extension
    // alternative m receives the point after its open-type octets.
    bool decodeChoicePreamle(CHOICE& v, memento_type& m);

    bool do_visit(Null& v) override;
    bool do_visit(BOOLEAN& v) override;
    bool do_visit(INTEGER& v) override;
    bool do_visit(ENUMERATED& v) override;
    bool do_visit(OBJECT_IDENTIFIER& v) override;
    bool do_visit(OCTET_STRING& v) override;
    bool do_visit(BIT_STRING& v) override;
    bool do_visit(AbstractString& v) override;
    bool do_visit(BMPString& v) override;
    bool do_visit(CHOICE& v) override;
    bool do_visit(SEQUENCE_OF_Base& v) override;
    bool do_visit(OpenData& v) override;
    bool do_revisit(OpenData& v) override;
    bool do_visit(TypeConstrainedOpenData& v) override;
    bool do_visit(GeneralizedTime& v) override;
    int preVisitExtensionRoots(SEQUENCE& v) override;
    int visitExtensionRoot(SEQUENCE& v, int index, int optionalBit) override;
    int preVisitExtensions(SEQUENCE& v) override;
    int visitKnownExtension(SEQUENCE& v, int index, int optionalBit) override;
    bool visitUnknownExtensions(SEQUENCE& v) override;

private:
    // decodeBitMap into (n + 7) / 8 bytes at bits (the presence maps of a
    // SEQUENCE, read into the stack).
    bool decodeBits(unsigned char* bits, unsigned n);
    // The point n octets on from the current octet, clamped to the end.
    char const* ahead(unsigned n) const;
    bool within(char const* after, AbstractData& value);
    // A field, element, alternative or carried value of the value being
    // read: accepted with the decoder marked as reading inside a value.
    bool decodeNested(AbstractData& value);
    // The extension bit and the presence bits of a SEQUENCE's root:
    // Continue, ContinueAll (additions follow) or Fail.
    int readPresence(SEQUENCE& v);
    // The root fields and the extension part of a SEQUENCE whose presence
    // bits gave first, in one pass: Stop or Fail.
    int readFields(SEQUENCE& v, int first);
    bool octetsLeft(unsigned n) const { return pos_ <= end_ && static_cast<unsigned long>(end_ - pos_) >= n; }

    char const* pos_;
    char const* end_;
    unsigned short bitsLeft_;
    bool aligned_;
    bool nested_ = false;  // reading inside a value handed to the decoder
};

} // namespace ASN1

#endif
