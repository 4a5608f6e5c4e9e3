// Value-notation printer.
#include "asn1/notation/printer.h"

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

namespace ASN1 {

void AVNEncoder::blanks(int n)
{
    for (int i = 0; i < n; ++i)
        os_.put(' ');
}

bool AVNEncoder::marker(char const* text)
{
    complete_ = false;
    os_ << text;
    return os_.good();
}

bool AVNEncoder::do_visit(Null const&)
{
    os_ << "NULL";
    return os_.good();
}

bool AVNEncoder::do_visit(BOOLEAN const& v)
{
    os_ << (static_cast<bool>(v) ? "TRUE" : "FALSE");
    return os_.good();
}

// Numbers are written as text so that a number base or other flags the
// caller left on the stream do not change them.
bool AVNEncoder::do_visit(INTEGER const& v)
{
    if (v.constrained() && v.getLowerLimit() >= 0)
        os_ << std::to_string(static_cast<unsigned>(v.getValue()));
    else
        os_ << std::to_string(v.getValue());
    return os_.good();
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& v)
{
    std::string name;
    if (!v.getName(name))
        return do_visit(static_cast<INTEGER const&>(v));
    os_ << name;
    return os_.good();
}

bool AVNEncoder::do_visit(ENUMERATED const& v)
{
    char const* name = v.getName();
    if (!name) {
        os_ << std::to_string(v.asInt());
        return os_.good();
    }
    // A names-table entry may carry its number after "=".
    char const* end = name;
    while (*end && *end != '=')
        ++end;
    os_.write(name, end - name);
    return os_.good();
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& v)
{
    os_ << "{ ";
    for (unsigned i = 0; i < v.levels() && os_.good(); ++i)
        os_ << std::to_string(v[i]) << ' ';
    os_ << "}";
    return os_.good();
}

bool AVNEncoder::do_visit(BIT_STRING const& v)
{
    os_ << "'";
    for (unsigned i = 0; i < v.size() && os_.good(); ++i)
        os_.put(v[i] ? '1' : '0');
    if (os_.good())
        os_ << "'B";
    return os_.good();
}

bool AVNEncoder::do_visit(OCTET_STRING const& v)
{
    static char const digits[] = "0123456789abcdef";
    os_ << "'";
    for (std::size_t i = 0; i < v.size() && os_.good(); ++i) {
        unsigned char octet = static_cast<unsigned char>(v[i]);
        if (i > 0)
            os_.put(' ');
        os_.put(digits[octet >> 4]);
        os_.put(digits[octet & 15]);
    }
    if (os_.good())
        os_ << "'H";
    // The octets leave the number base alone; the fill is the blank.
    os_.fill(' ');
    return os_.good();
}

bool AVNEncoder::do_visit(AbstractString const& v)
{
    os_.put('"');
    os_.write(v.data(), static_cast<std::streamsize>(v.size()));
    os_.put('"');
    return os_.good();
}

bool AVNEncoder::do_visit(BMPString const& v)
{
    std::size_t n = v.size();
    std::unique_ptr<char[]> buf(new char[2 * n + 1]);
    std::size_t converted = n == 0 ? 0 : std::wcstombs(buf.get(), v.c_str(), n);
    if (converted != static_cast<std::size_t>(-1)) {
        os_.put('"');
        os_.write(buf.get(), static_cast<std::streamsize>(converted));
        os_.put('"');
        return os_.good();
    }
    os_ << "{";
    for (std::size_t i = 0; i < n && os_.good(); ++i) {
        unsigned c = static_cast<unsigned>(v[i]);
        if (i > 0)
            os_ << ", ";
        os_ << "{ 0, 0, " << std::to_string(c >> 8) << ", " << std::to_string(c & 0xFF) << "}";
    }
    if (os_.good())
        os_ << "}";
    return os_.good();
}

bool AVNEncoder::do_visit(CHOICE const& v)
{
    int index = v.currentSelection();
    AbstractData const* selection = v.getSelection();
    if (index == CHOICE::UnknownSelection)
        return marker("<unknown alternative>");
    if (index < 0 || static_cast<unsigned>(index) >= v.getNumKnownChoices())
        return marker("<nothing selected>");
    os_ << v.getSelectionName() << " : ";
    if (!selection)
        return marker("<no value>");
    return selection->accept(*this);
}

bool AVNEncoder::do_visit(OpenData const& v)
{
    if (v.has_data())
        return v.get_data().accept(*this);
    if (v.has_buf()) {
        OCTET_STRING octets(v.get_buf(), &OCTET_STRING::theInfo);
        return octets.accept(*this);
    }
    return marker("<empty open type>");
}

bool AVNEncoder::do_visit(GeneralizedTime const& v)
{
    os_ << '"' << v.get() << '"';
    return os_.good();
}

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& v)
{
    os_ << "{\n";
    indent_ += 2;
    bool first = true;
    for (AbstractData const* element : v) {
        if (!os_.good())
            break;
        if (!first)
            os_ << ",\n";
        first = false;
        blanks(indent_);
        if (!element->accept(*this))
            return false;
    }
    indent_ -= 2;
    if (!v.empty() && os_.good())
        os_ << "\n";
    blanks(indent_);
    os_ << "}";
    return os_.good();
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&)
{
    written_.push_back(false);
    os_ << "{\n";
    return os_.good();
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& v, int index)
{
    if (written_.back())
        os_ << ",\n";
    blanks(indent_ + 2);
    os_ << v.getFieldName(index) << ' ';
    indent_ += 2;
    AbstractData const* field = v.getField(static_cast<unsigned>(index));
    bool ok = field ? field->accept(*this) : marker("<no value>");
    if (!ok)
        return false;
    indent_ -= 2;
    written_.back() = true;
    return true;
}

bool AVNEncoder::visitKnownExtension(SEQUENCE const& v, int index)
{
    return visitExtensionRoot(v, index);
}

bool AVNEncoder::afterVisitSequence(SEQUENCE const&)
{
    if (written_.back())
        os_ << "\n";
    written_.pop_back();
    blanks(indent_);
    os_ << "}";
    return os_.good();
}

// ---- AbstractData members and the inserter ----------------------------------

std::ios_base::iostate AbstractData::print_on(std::ostream& os) const
{
    AVNEncoder printer(os);
    return accept(printer) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const
{
    std::ostringstream os;
    AVNEncoder printer(os);
    accept(printer);
    return os.str();
}

std::ostream& operator<<(std::ostream& os, AbstractData const& value)
{
    if (!os.good())
        return os;
    return g_inserter(os, value);
}

} // namespace ASN1
