// BER encoder (definite lengths, automatic tagging).
//
// A value's own tag is the universal tag of its type; a SEQUENCE field i
// and a CHOICE alternative i carry the context tag [i] instead (implicit,
// except that a CHOICE or open value under a context tag is wrapped in it).
// A constrained INTEGER with a non-negative lower bound holds an unsigned
// number and is written as one (3000000000 in INTEGER (0..4294967295) is
// 02 05 00 B2 D0 5E 00).
#ifndef TSD_ASN1_BER_BER_ENCODER_H
#define TSD_ASN1_BER_BER_ENCODER_H

#include "asn1/values/all.h"

#include <cstdint>
#include <vector>

namespace ASN1 {

// Octets (1 to 4) of v's minimal two's-complement form.
unsigned getIntegerDataLength(int v);
// Contents octets of an INTEGER value as its type reads it (up to 5 for an
// unsigned number with the top bit set).
unsigned getIntegerDataLength(INTEGER const& v);
// Contents length of the value's encoding.
unsigned getDataLength(AbstractData const& value);
// Tag 0: contents length alone; otherwise identifier, length and contents
// octets of the value under that tag.
unsigned getObjectLength(AbstractData const& value, unsigned tag);

// Counts the contents octets the encoder writes for a value.
class DataLengthCounter : public ConstVisitor {
public:
    unsigned getLength() const { return length_; }
    // Identifier and length octets for tag plus the counted contents.
    unsigned getObjectLen(unsigned tag) const;

    using ConstVisitor::do_visit;
    bool do_visit(Null const&) override { return true; }
    bool do_visit(BOOLEAN const&) override;
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
    bool preVisitExtensionRoots(SEQUENCE const&) override { return true; }
    bool visitExtensionRoot(SEQUENCE const& seq, int index) override;
    bool visitKnownExtension(SEQUENCE const& seq, int index) override;

private:
    std::uint32_t length_ = 0;
};

class BEREncoder : public ConstVisitor {
public:
    // Binds, empties and reserves the output.
    explicit BEREncoder(std::vector<char>& out);

    void encodeByte(unsigned octet) { out_.push_back(static_cast<char>(octet)); }
    void encodeBlock(char const* data, unsigned count) { out_.insert(out_.end(), data, data + count); }
    // Identifier (the pending tag, or the value's own tag when it is -1)
    // and length octets of value.
    void encodeHeader(AbstractData const& value);

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
    bool visitExtensionRoot(SEQUENCE const& seq, int index) override;
    bool visitKnownExtension(SEQUENCE const& seq, int index) override;

private:
    static constexpr std::uint32_t OwnTag = 0xFFFFFFFFu;  // "-1": the value's own tag

    void writeHeader(std::uint32_t tag, bool constructed, unsigned length);
    void encodeUnsigned(std::uint64_t value, unsigned octets);

    std::vector<char>& out_;
    std::uint32_t tag_ = OwnTag;  // 0: no header at all
};

} // namespace ASN1

#endif
