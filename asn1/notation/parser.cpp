// Value-notation parser.
#include "asn1/notation/parser.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace ASN1 {

namespace {

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Letters read one by one, white space between them skipped; the first
// non-letter is put back.
std::string readLetters(std::istream& is)
{
    std::string word;
    char c;
    while (is >> c) {
        if (!isLetter(c)) {
            is.unget();
            break;
        }
        word += c;
    }
    return word;
}

// A word after optional white space: the characters up to the next white
// space. A "," or "}" ends it too and stays, so that a name the printer
// writes before one ("red," or "red}") reads back.
std::string readWord(std::istream& is)
{
    std::string word;
    is >> std::ws;
    while (is.good()) {
        int const c = is.peek();
        if (c == std::char_traits<char>::eof() || isSpace(static_cast<char>(c)) || c == ',' || c == '}')
            break;
        word += static_cast<char>(is.get());
    }
    return word;
}

bool readChar(std::istream& is, char& c)
{
    return static_cast<bool>(is >> c);
}

bool expectChar(std::istream& is, char wanted)
{
    char c;
    return readChar(is, c) && c == wanted;
}

// The digits without blanks and line feeds, "0" appended up to whole
// groups; each group is converted by strtol in base and its low eight bits
// appended to octets at once. A group strtol does not consume entirely
// fails the conversion, keeping the octets appended before it; so does one
// that starts with white space, which strtol would skip.
bool convertGroups(std::string const& text, unsigned group, int base, std::vector<char>& octets,
                   unsigned& digitCount)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != '\n')
            digits += c;
    unsigned const count = static_cast<unsigned>(digits.size());
    while (digits.size() % group != 0)
        digits += '0';
    octets.reserve(octets.size() + digits.size() / group);
    for (std::size_t i = 0; i < digits.size(); i += group) {
        std::string const piece = digits.substr(i, group);
        char* end = nullptr;
        long const n = std::strtol(piece.c_str(), &end, base);
        if (isSpace(piece[0]) || end != piece.c_str() + piece.size())
            return false;
        octets.push_back(static_cast<char>(n & 0xFF));
    }
    digitCount = count;
    return true;
}

} // namespace

// ---- helpers ---------------------------------------------------------------------------

bool input_success(std::istream const& is)
{
    return (is.rdstate() & (std::ios_base::badbit | std::ios_base::failbit)) == 0;
}

bool get_string(std::istream& is, std::string& text)
{
    if (!expectChar(is, '"'))
        return false;
    text.clear();
    return static_cast<bool>(std::getline(is, text, '"'));
}

bool get_value_from(std::istream& is, std::string& digits, char& kind)
{
    if (!expectChar(is, '\''))
        return false;
    digits.clear();
    if (!std::getline(is, digits, '\'') || is.eof())
        return false;  // no closing quote
    return readChar(is, kind) && (kind == 'B' || kind == 'H');
}

bool get_from_bstring(std::string const& digits, std::vector<char>& octets, unsigned& bits)
{
    unsigned count;
    if (!convertGroups(digits, 8, 2, octets, count))
        return false;
    bits = count;
    return true;
}

bool get_from_hstring(std::string const& digits, std::vector<char>& octets, unsigned& bits)
{
    unsigned count;
    if (!convertGroups(digits, 2, 16, octets, count))
        return false;
    bits = count * 4;
    return true;
}

bool get_from_string(std::string const& digits, char kind, std::vector<char>& octets, unsigned& bits)
{
    if (kind == 'B')
        return get_from_bstring(digits, octets, bits);
    if (kind == 'H')
        return get_from_hstring(digits, octets, bits);
    return false;
}

int get_id(char const* const* names, unsigned count, std::string const& name)
{
    for (unsigned i = 0; i < count; ++i)
        if (names[i] && name == names[i])
            return static_cast<int>(i);
    return -1;
}

// ---- primitive values -------------------------------------------------------------------

bool AVNDecoder::do_visit(Null&)
{
    return readLetters(is_) == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& v)
{
    std::string const word = readLetters(is_);
    if (word == "TRUE")
        v = true;
    else if (word == "FALSE")
        v = false;
    else
        return false;
    return true;
}

bool AVNDecoder::do_visit(INTEGER& v)
{
    if (v.constrained() && v.getLowerLimit() >= 0) {
        unsigned value = 0;
        is_ >> value;
        if (!input_success(is_))
            return false;
        v.setValue(static_cast<int>(value));
    } else {
        int value = 0;
        is_ >> value;
        if (!input_success(is_))
            return false;
        v.setValue(value);
    }
    return true;
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v)
{
    char c;
    if (!readChar(is_, c))
        return false;
    is_.unget();
    if (isDigit(c) || c == '-')
        return do_visit(static_cast<INTEGER&>(v));
    return v.setFromName(readWord(is_));
}

// A name only: a number ("2", "-1"), a word holding more than the name
// ("red)", "red;") or no word at all ("(") is no name of the table, so it
// fails and leaves the number above the maximum.
bool AVNDecoder::do_visit(ENUMERATED& v)
{
    return v.setFromName(readWord(is_));
}

// "{ 1 2 840 }"; an arc may also be written name(number). A bare name
// cannot be resolved to a number and fails the parse.
bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    if (!expectChar(is_, '{'))
        return false;
    std::string text;
    if (!std::getline(is_, text, '}'))
        return false;
    OBJECT_IDENTIFIER parsed(v.info());
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        char const* number = nullptr;
        if (isDigit(word[0])) {
            number = word.c_str();
        } else {
            std::size_t const open = word.find('(');
            if (open != std::string::npos && open + 1 < word.size() && isDigit(word[open + 1]))
                number = word.c_str() + open + 1;
        }
        if (!number)
            return false;
        errno = 0;
        unsigned long const arc = std::strtoul(number, nullptr, 10);
        if (errno == ERANGE || arc > 0xFFFFFFFFul)
            return false;
        parsed.append(static_cast<unsigned>(arc));
    }
    v = parsed;
    return true;
}

// The octets converted replace what the string held; a group that fails
// leaves those converted before it.
bool AVNDecoder::do_visit(OCTET_STRING& v)
{
    std::string digits;
    char kind;
    if (!get_value_from(is_, digits, kind))
        return false;
    v.std::vector<char>::clear();
    unsigned bits;
    return get_from_string(digits, kind, v, bits);
}

// As OCTET STRING; the bit count is the digits' (8 per octet kept when a
// group fails).
bool AVNDecoder::do_visit(BIT_STRING& v)
{
    std::string digits;
    char kind;
    if (!get_value_from(is_, digits, kind))
        return false;
    v.resize(0);
    std::vector<char>& data = v.getData();
    unsigned bits = 0;
    bool const ok = get_from_string(digits, kind, data, bits);
    v.resize(ok ? bits : static_cast<unsigned>(8 * data.size()));
    return ok;
}

bool AVNDecoder::do_visit(AbstractString& v)
{
    std::string text;
    if (!get_string(is_, text))
        return false;
    v.std::string::assign(text);
    return true;
}

bool AVNDecoder::do_visit(BMPString& v)
{
    std::string text;
    if (!get_string(is_, text))
        return false;
    std::unique_ptr<wchar_t[]> buf(new wchar_t[text.size() + 1]);
    std::size_t const n = std::mbstowcs(buf.get(), text.c_str(), text.size());
    if (n == static_cast<std::size_t>(-1))
        return false;
    v.std::wstring::assign(buf.get(), n);
    return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& v)
{
    std::string text;
    if (!get_string(is_, text))
        return false;
    v.set(text.c_str());
    return true;
}

// ---- constructed values -----------------------------------------------------------------

bool AVNDecoder::do_visit(CHOICE& v)
{
    std::string name;
    if (!(is_ >> name) || !expectChar(is_, ':'))
        return false;
    int const index = get_id(v.choiceInfo()->selectionNames, v.getNumKnownChoices(), name);
    if (index < 0 || !v.select(index) || !v.getSelection())
        return false;
    return v.getSelection()->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    char c;
    if (!expectChar(is_, '{') || !readChar(is_, c))
        return false;
    v.clear();
    if (c == '}')
        return true;
    is_.unget();
    for (;;) {
        std::unique_ptr<AbstractData> element(v.createElement());
        if (!element || !element->accept(*this) || !readChar(is_, c))
            return false;
        v.push_back(element.release());
        if (c == '}')
            return true;
        if (c != ',')
            return false;
    }
}

bool AVNDecoder::do_visit(OpenData&)
{
    return false;  // the carried type is unknown
}

bool AVNDecoder::do_revisit(OpenData&)
{
    return false;
}

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v)
{
    return v.has_data() && v.get_data().accept(*this);
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE&)
{
    char c;
    if (!expectChar(is_, '{') || !readChar(is_, c))
        return Fail;
    if (c == '}')
        return Stop;
    is_.unget();
    std::string word;
    if (!(is_ >> word))
        return Fail;
    words_.push_back(word);
    return ContinueAll;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalBit)
{
    unsigned const field = static_cast<unsigned>(index);
    char const* const name = v.getFieldName(index);
    if (words_.empty() || !name || words_.back() != name)
        return optionalBit == -1 ? Fail : ContinueAll;
    AbstractData* value = optionalBit == -1
                              ? v.getField(field)
                              : v.includeOptionalField(static_cast<unsigned>(optionalBit), field);
    char c;
    if (!value || !value->accept(*this) || !readChar(is_, c))
        return Fail;
    if (c == '}')
        return Stop;
    if (c != ',' || !(is_ >> words_.back()))
        return Fail;
    return ContinueAll;
}

int AVNDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalBit)
{
    return visitExtensionRoot(v, index, optionalBit);
}

// Reached when every field went on: only a trailing "," before "}" is left.
bool AVNDecoder::visitUnknownExtensions(SEQUENCE&)
{
    if (words_.empty() || words_.back() != "}")
        return false;
    words_.pop_back();
    return true;
}

// ---- entry points ---------------------------------------------------------------------------

std::ios_base::iostate AbstractData::get_from(std::istream& is)
{
    AVNDecoder parser(is, nullptr);
    return accept(parser) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(std::string const& text)
{
    std::istringstream is(text);
    AVNDecoder parser(is, nullptr);
    return accept(parser);
}

std::istream& operator>>(std::istream& is, AbstractData& value)
{
    if (!is.good())
        return is;
    return g_extractor(is, value);
}

} // namespace ASN1
