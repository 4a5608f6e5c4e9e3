// Constant type descriptions of the ASN.1 value model.
//
// Every ASN.1 type has exactly one description: a constant record that says
// how to create a value of the type, its tag, its constraint and the tables
// of its kind. The records below keep the word layout of the board's 32-bit
// descriptions (word 0 create function, word 1 tag, then the kind's words in
// order) as typed structs, so they are correct on 64-bit hosts and can be
// constant-initialised (placed in read-only memory by the compiler).
//
// Every record starts with a TypeInfo (words 0-1); the records of the
// constrained kinds start with a ConstrainedInfo (words 0-4). Because the
// first member of a standard-layout struct is pointer-interconvertible with
// the struct, code holding a description as `void const*` may read it as a
// TypeInfo (or, for the constrained kinds, as a ConstrainedInfo).
#ifndef TSD_ASN1_VALUES_INFO_H
#define TSD_ASN1_VALUES_INFO_H

#include <cstdint>

namespace ASN1 {

class AbstractData;

// Word 0: makes a new value of the type; always called with the address of
// the description that holds it. The caller owns the result.
using CreateFunction = AbstractData* (*)(void const* info);

// Word 2 of the constrained kinds.
enum ConstraintType : std::int32_t {
    Unconstrained = 0,          // no bounds (0, 0, 0xFFFFFFFF)
    PartiallyConstrained = 1,   // lower bound only
    FixedConstraint = 2,        // lower .. upper
    ExtendableConstraint = 3    // lower .. upper is the root; extensible
};

// Tag word: class in bits 16-23, number in bits 0-15.
enum TagClass : std::uint32_t {
    UniversalTagClass = 0x00,
    ApplicationTagClass = 0x40,
    ContextSpecificTagClass = 0x80,
    PrivateTagClass = 0xC0
};
constexpr std::uint32_t makeTag(std::uint32_t tagClass, std::uint32_t number)
{
    return (tagClass << 16) | (number & 0xFFFFu);
}

// Words 0-1, common to every kind. Complete description of NULL, BOOLEAN,
// OBJECT IDENTIFIER, GeneralizedTime and the open type.
struct TypeInfo {
    CreateFunction create;      // word 0
    std::uint32_t tag;          // word 1 (0 for CHOICE and open type)
};

// Words 2-4 of the constrained kinds.
struct ConstraintInfo {
    ConstraintType type;        // word 2
    std::int32_t lower;         // word 3
    std::uint32_t upper;        // word 4 (not a bound when PartiallyConstrained)
};

// Words 0-4. Complete description of INTEGER, BIT STRING and OCTET STRING;
// first member of every other constrained kind's description.
struct ConstrainedInfo {
    TypeInfo header;
    ConstraintInfo constraint;
};

// One named number of an INTEGER with named numbers.
struct NamedNumberEntry {
    std::int32_t value;
    char const* name;
};

// INTEGER with named numbers: words 0-4, then the sorted name table.
struct NamedIntegerInfo {
    ConstrainedInfo base;
    NamedNumberEntry const* names;  // word 5, ascending by value
    std::uint32_t nameCount;        // word 6
};

// ENUMERATED. The names table holds one entry per enumerator in the order
// of the module: "name" or "name=number". An entry's number is its own
// number when given, else the previous entry's number plus one (0 for the
// first). The table ends with a null entry (not an enumerator) so that
// look-ups never read past its end.
struct EnumeratedInfo {
    TypeInfo header;            // words 0-1, tag 10
    bool extensible;            // word 2 (first byte)
    std::int32_t maximum;       // word 3: largest root number
    char const* const* names;   // word 4: null-terminated names table
};

// Restricted character string of one-byte characters.
struct StringInfo {
    ConstrainedInfo base;           // words 0-4 (size in characters)
    char const* charSet;            // word 5: permitted characters, ascending
    std::uint32_t charSetSize;      // word 6
    std::uint32_t canonicalBits;    // word 7
    std::uint32_t unalignedBits;    // word 8
    std::uint32_t alignedBits;      // word 9
};

// BMPString.
struct BMPStringInfo {
    ConstrainedInfo base;           // words 0-4 (size in characters)
    std::uint32_t firstChar;        // word 5
    std::uint32_t lastChar;         // word 6
    std::uint32_t unalignedBits;    // word 7
    std::uint32_t alignedBits;      // word 8
};

// Type-constrained open type.
struct TypeConstrainedOpenInfo {
    TypeInfo header;            // words 0-1, tag 0
    void const* carried;        // word 2: description of the carried type
};

// SEQUENCE.
struct SequenceInfo {
    TypeInfo header;                    // words 0-1, tag 0x10
    bool extensible;                    // word 2 (first byte)
    void const* const* fieldInfos;      // word 3: one description per field
    std::int32_t const* fieldIds;       // word 4: -1 mandatory, else optional bit
    std::uint32_t rootCount;            // word 5
    std::uint32_t extensionCount;       // word 6: known extension additions
    std::uint32_t optionalCount;        // word 7: OPTIONAL root fields
    unsigned char const* initialExtensionMap; // word 8: extensionCount bits, MSB first, or null
    std::uint32_t const* fieldTags;     // word 9: null, &SEQUENCE::defaultTag or one tag word per field
    char const* const* fieldNames;      // word 10
};

// CHOICE.
struct ChoiceInfo {
    TypeInfo header;                    // words 0-1, tag 0
    bool extensible;                    // word 2 (first byte)
    void const* const* selectionInfos;  // word 3
    std::uint32_t rootCount;            // word 4
    std::uint32_t knownCount;           // word 5: root plus extension additions
    std::uint32_t const* tags;          // word 6: null or ascending tag words of the root alternatives
    char const* const* selectionNames;  // word 7
};

// SEQUENCE OF and SET OF.
struct SequenceOfInfo {
    ConstrainedInfo base;       // words 0-4 (size in elements), tag 16 or 17
    void const* elementInfo;    // word 5
};

// Decoder limits (writable, never changed by the program).
extern std::uint32_t MaximumArraySize;   // 128 elements
extern std::uint32_t MaximumStringSize;  // 16384 characters, octets or bits

} // namespace ASN1

#endif
