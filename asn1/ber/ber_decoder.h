// BER decoder (definite lengths, automatic tagging).
//
// Reads one value from [first, last) into an existing value tree; octets
// after the value are not examined. What it does not read (indefinite
// lengths, constructed strings, a value running past the one holding it)
// is refused, never read as another value. On failure the value keeps what was
// read so far and must be discarded. Every length is checked against the
// input before anything is copied, so a few octets never cause a large
// allocation.
#ifndef TSD_ASN1_BER_BER_DECODER_H
#define TSD_ASN1_BER_BER_DECODER_H

#include "asn1/values/all.h"

#include <vector>

namespace ASN1 {

class BERDecoder : public Visitor {
public:
    BERDecoder(char const* first, char const* last, CoderEnv* env = nullptr);

    // The next octet (test atEnd() first).
    unsigned decodeByte() { return static_cast<unsigned char>(*pos_++); }
    bool atEnd() const { return pos_ >= end_; }
    char const* position() const { return pos_; }
    void rollback(char const* p) { pos_ = p; }
    // Copies up to n octets; the number copied (0 at the end).
    unsigned decodeBlock(char* buf, unsigned n);
    // Identifier and length octets. The tag is the class bits shifted left
    // by 16 plus the number. False when the input runs out or the length is
    // in the indefinite form.
    bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
    // A header carrying value's own tag, or any tag while the skip count is
    // above zero (a context tag that stands for it). On a mismatch the
    // position is restored and the answer is false.
    bool decodeHeader(AbstractData& value, unsigned& length);
    bool decodeHeader(AbstractData& value, unsigned& length, bool& primitive);
    // Reads the headers in front of a CHOICE's alternative, selects the
    // alternative by its tag (index -2 when it is not known) and leaves the
    // position at the alternative's header; end receives the point after
    // the CHOICE's encoding.
    bool decodeChoicePreamle(CHOICE& v, char const*& end);

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
    int visitKnownExtension(SEQUENCE& v, int index, int optionalBit) override;
    bool visitUnknownExtensions(SEQUENCE& v) override;

private:
    unsigned remaining() const { return pos_ < end_ ? static_cast<unsigned>(end_ - pos_) : 0u; }
    // A header for value, in the form given, whose contents lie inside the
    // input (or the value holding it).
    bool contentsHeader(AbstractData& value, unsigned& length, bool constructed = false);
    // Limits the input to the contents of the value being read, for its lifetime.
    struct Narrow {
        Narrow(BERDecoder& d, char const* end) : d_(d), saved_(d.end_) { d.end_ = end; }
        ~Narrow() { d_.end_ = saved_; }
        Narrow(Narrow const&) = delete;
        Narrow& operator=(Narrow const&) = delete;
        BERDecoder& d_;
        char const* saved_;
    };
    // Contents of a signed number; with unsignedValue also the 5-octet form
    // of an unsigned one; with nonNegative no negative number.
    bool readNumber(unsigned length, bool unsignedValue, bool nonNegative, int& out);
    // Reads the header of an open value: contents [first, last) and whether
    // they are wrapped in an outer tag (otherwise they are the whole
    // encoding of the carried value).
    bool openHeader(OpenData& v, char const*& first, char const*& last, bool& wrapped);

    char const* pos_;
    char const* end_;
    std::vector<char const*> sequenceEnds_;  // the limits outside open SEQUENCEs
    unsigned skip_ = 0;
};

} // namespace ASN1

#endif
