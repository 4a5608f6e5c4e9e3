// Value-notation parser: reads back what the value-notation printer writes.
//
//   std::istringstream in("{ unit 1, channel tdm : 3 }");
//   in >> message;                      // failbit when the text does not fit
//   ok = message.setFromValueNotation(text);
//
// The text is read into an existing value, which is changed in place: after
// a failure it keeps what was read and must be discarded. SEQUENCE fields
// appear in declaration order as "name value", separated by ","; a "}"
// after any field ends the SEQUENCE and leaves the later fields as they
// were. CHOICE values are "alternative : value" (blanks around ":").
// Enumerations and named numbers are read as words (up to white space, or
// a "," or "}" directly after them); an enumeration by its name only.
#ifndef TSD_ASN1_NOTATION_PARSER_H
#define TSD_ASN1_NOTATION_PARSER_H

#include "asn1/notation/printer.h"
#include "asn1/values/all.h"

#include <istream>
#include <string>
#include <vector>

namespace ASN1 {

class AVNDecoder : public Visitor {
public:
    AVNDecoder(std::istream& is, CoderEnv* env = nullptr) : Visitor(env), is_(is) {}

    bool do_visit(Null& v) override;
    bool do_visit(BOOLEAN& v) override;
    bool do_visit(INTEGER& v) override;
    bool do_visit(IntegerWithNamedNumber& v) override;
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
    std::istream& is_;
    // Per SEQUENCE being read: the field name read ahead, or "}".
    std::vector<std::string> words_;
};

// Neither badbit nor failbit (end of input alone is success).
bool input_success(std::istream const& is);
// A double-quoted string (no escapes; an unterminated one takes the rest).
bool get_string(std::istream& is, std::string& text);
// 'digits'B or 'digits'H: the digits and the kind letter.
bool get_value_from(std::istream& is, std::string& digits, char& kind);
// Binary or hexadecimal digits (blanks and line ends ignored, padded with
// "0" to whole octets), each group converted by strtol and appended to
// octets at once; bits receives the digit count times 1 or 4. A group that
// is not converted entirely fails, leaving the octets appended before it.
bool get_from_bstring(std::string const& digits, std::vector<char>& octets, unsigned& bits);
bool get_from_hstring(std::string const& digits, std::vector<char>& octets, unsigned& bits);
bool get_from_string(std::string const& digits, char kind, std::vector<char>& octets, unsigned& bits);
// Index of name among the first count names; -1 when absent.
int get_id(char const* const* names, unsigned count, std::string const& name);

template <class charT, class traits, class T>
class ExtractorWrapper : public IOWrapper<charT, traits> {
public:
    ExtractorWrapper(std::basic_istream<charT, traits>& is, T& value) : is_(is), value_(value) {}

protected:
    std::ios_base::iostate do_real_io() override
    {
        typename std::basic_istream<charT, traits>::sentry ok(is_);
        if (!ok)
            return std::ios_base::goodbit;
        return value_.get_from(is_);
    }

private:
    std::basic_istream<charT, traits>& is_;
    T& value_;
};

template <class charT, class traits, class T>
std::basic_istream<charT, traits>& g_extractor(std::basic_istream<charT, traits>& is, T& value)
{
    if (!is.good())
        return is;
    ExtractorWrapper<charT, traits, T> wrapper(is, value);
    wrapper.do_it(is);
    return is;
}

// Reads the value in value notation; failbit when it cannot be read.
std::istream& operator>>(std::istream& is, AbstractData& value);

} // namespace ASN1

#endif
