// Character string values and character sets.
#ifndef TSD_ASN1_VALUES_STRINGS_H
#define TSD_ASN1_VALUES_STRINGS_H

#include "asn1/values/abstract_data.h"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>

namespace ASN1 {

// Permitted characters of each kind, ascending, each followed by a zero byte
// that is not part of the set (the IA5String and GeneralString sets begin
// with the character 0 itself: the set size bounds them).
extern const char NumericStringSet[];    // 11: space, 0-9
extern const char PrintableStringSet[];  // 74
extern const char VisibleStringSet[];    // 95: 32-126
extern const char IA5StringSet[];        // 128: 0-127
extern const char GeneralStringSet[];    // 256: 0-255

// A restricted string of one-byte characters. Which kind it is (tag,
// character set, bits per character) comes from its description.
class AbstractString : public ConstrainedObject,
                       public std::string,
                       public detail::Allocator<AbstractString> {
public:
    static AbstractData* create(void const* info);

    explicit AbstractString(void const* info) : ConstrainedObject(info) {}
    AbstractString(void const* info, std::string const& text)
        : ConstrainedObject(info), std::string(text) {}
    AbstractString(void const* info, char const* text)
        : ConstrainedObject(info), std::string(text ? text : "") {}
    AbstractString(AbstractString const&) = default;
    AbstractString& operator=(AbstractString const&) = default;

    AbstractString& assign(std::string const& text)
    {
        std::string::assign(text);
        return *this;
    }
    AbstractString& assign(std::string&& text)
    {
        std::string::assign(std::move(text));
        return *this;
    }
    using std::string::assign;

    char const* getCharacterSet() const { return stringInfo()->charSet; }
    unsigned getCharacterSetSize() const { return stringInfo()->charSetSize; }
    unsigned getCanonicalSetBits() const { return stringInfo()->canonicalBits; }
    unsigned getNumBits(bool aligned) const
    {
        return aligned ? stringInfo()->alignedBits : stringInfo()->unalignedBits;
    }

    // Position of the first character outside the set, -1 when none is
    // (or when the set is empty).
    int find_first_invalid() const;

    // Value comparison (the standard string's compare stays reachable
    // through a std::string reference).
    using AbstractData::compare;
    using AbstractData::operator==;
    using AbstractData::operator!=;

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    StringInfo const* stringInfo() const { return static_cast<StringInfo const*>(info()); }
};

// Writes the characters unchanged (not in value notation).
std::ostream& operator<<(std::ostream& os, AbstractString const& s);

// The IA5String values of the protocol modules. Its create function makes
// IA5String objects, so SIZE-constrained IA5String descriptions should use
// IA5String::create too.
class IA5String : public AbstractString {
public:
    static const StringInfo theInfo;  // tag 22, IA5StringSet, 128, 7, 7, 8
    static AbstractData* create(void const* info);

    IA5String() : AbstractString(&theInfo) {}
    explicit IA5String(void const* info) : AbstractString(info) {}
    IA5String(std::string const& text, void const* info = &theInfo) : AbstractString(info, text) {}
    IA5String(char const* text, void const* info = &theInfo) : AbstractString(info, text) {}
    IA5String(IA5String const&) = default;
    IA5String& operator=(IA5String const&) = default;
    ~IA5String() override;

    IA5String& operator=(std::string const& text)
    {
        assign(text);
        return *this;
    }
    IA5String& operator=(char const* text)
    {
        assign(std::string(text ? text : ""));
        return *this;
    }
};

// Descriptions of the other restricted string kinds (values of these kinds
// are AbstractString objects bound to them).
struct NumericString {
    static const StringInfo theInfo;    // tag 18, 11 characters, 4, 4, 4
};
struct PrintableString {
    static const StringInfo theInfo;    // tag 19, 74 characters, 7, 7, 8
};
struct VisibleString {
    static const StringInfo theInfo;    // tag 26, 95 characters, 7, 7, 8
};
struct GeneralString {
    static const StringInfo theInfo;    // tag 27, 256 characters, 8, 8, 8
};

// BMPString: one wchar_t per character, codes 0 to 65535.
class BMPString : public ConstrainedObject, public std::wstring {
public:
    static const BMPStringInfo theInfo;  // tag 30, 0, 0xFFFF, 16, 16
    static AbstractData* create(void const* info);

    BMPString() : ConstrainedObject(&theInfo) {}
    explicit BMPString(void const* info) : ConstrainedObject(info) {}
    BMPString(std::wstring const& text, void const* info)
        : ConstrainedObject(info), std::wstring(text) {}
    BMPString(wchar_t const* text, void const* info)
        : ConstrainedObject(info), std::wstring(text ? text : L"") {}
    BMPString(BMPString const&) = default;
    BMPString& operator=(BMPString const&) = default;

    BMPString& assign(wchar_t const* text, std::size_t count)
    {
        std::wstring::assign(text, count);
        return *this;
    }
    using std::wstring::assign;

    unsigned getFirstChar() const { return bmpInfo()->firstChar; }
    unsigned getLastChar() const { return bmpInfo()->lastChar; }
    unsigned getNumBits(bool aligned) const
    {
        return aligned ? bmpInfo()->alignedBits : bmpInfo()->unalignedBits;
    }
    // First <= c <= last of the description.
    bool legalCharacter(wchar_t c) const;
    // Index of the first illegal character; the length when all are legal.
    std::size_t first_illegal_at() const;

    // Value comparison (the standard string's compare stays reachable
    // through a std::string reference).
    using AbstractData::compare;
    using AbstractData::operator==;
    using AbstractData::operator!=;

    // Defined with the validity checkers.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    BMPStringInfo const* bmpInfo() const { return static_cast<BMPStringInfo const*>(info()); }
};

} // namespace ASN1

#endif
