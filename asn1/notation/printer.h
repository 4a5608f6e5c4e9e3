// Value-notation printer: every ASN.1 value as text for log lines.
//
// Constructed values span several lines, indented by two blanks per level,
// with no line end after the last character. A part that cannot be printed
// (a CHOICE with no or an unknown selection, an empty open type) is shown
// as a marker in angle brackets; the stream stays usable.
#ifndef TSD_ASN1_NOTATION_PRINTER_H
#define TSD_ASN1_NOTATION_PRINTER_H

#include "asn1/values/all.h"

#include <ios>
#include <new>
#include <ostream>
#include <vector>

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
public:
    explicit AVNEncoder(std::ostream& os) : os_(os) {}

    // False when a part was printed as a marker (the text is not valid
    // value notation).
    bool complete() const { return complete_; }

    using ConstVisitor::do_visit;
    bool do_visit(Null const& v) override;
    bool do_visit(BOOLEAN const& v) override;
    bool do_visit(INTEGER const& v) override;
    bool do_visit(IntegerWithNamedNumber const& v) override;
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
    bool visitKnownExtension(SEQUENCE const& v, int index) override;
    bool afterVisitSequence(SEQUENCE const& v) override;

private:
    bool marker(char const* text);
    void blanks(int n);

    std::ostream& os_;
    int indent_ = 0;
    std::vector<bool> written_;  // per open SEQUENCE: a field was written
    bool complete_ = true;
};

// Runs a stream operation under the stream's exception policy: an
// exception thrown by it sets badbit (allocation failure) or failbit on the
// stream; it propagates only when the stream's exception mask asks for
// that bit.
template <class charT, class traits>
class IOWrapper {
public:
    virtual ~IOWrapper() = default;

    void do_it(std::basic_ios<charT, traits>& s)
    {
        std::ios_base::iostate state = std::ios_base::goodbit;
        try {
            state = do_real_io();
        } catch (std::bad_alloc&) {
            fail(s, std::ios_base::badbit);
            return;
        } catch (...) {
            fail(s, std::ios_base::failbit);
            return;
        }
        if (state != std::ios_base::goodbit)
            s.setstate(state);
    }

protected:
    virtual std::ios_base::iostate do_real_io() = 0;

private:
    // Called inside a catch block: rethrows the caught exception when the
    // stream's mask wants the bit. Setting the bit also raises when another
    // bit in the mask (badbit from the stream's own insertion) is already
    // set; that alone propagates nothing.
    static void fail(std::basic_ios<charT, traits>& s, std::ios_base::iostate bit)
    {
        try {
            s.setstate(bit);
        } catch (std::ios_base::failure&) {
        }
        if (s.exceptions() & bit)
            throw;
    }
};

template <class charT, class traits, class T>
class InserterWrapper : public IOWrapper<charT, traits> {
public:
    InserterWrapper(std::basic_ostream<charT, traits>& os, T const& value) : os_(os), value_(value) {}

protected:
    std::ios_base::iostate do_real_io() override
    {
        typename std::basic_ostream<charT, traits>::sentry ok(os_);
        if (!ok)
            return std::ios_base::goodbit;
        return value_.print_on(os_);
    }

private:
    std::basic_ostream<charT, traits>& os_;
    T const& value_;
};

template <class charT, class traits, class T>
std::basic_ostream<charT, traits>& g_inserter(std::basic_ostream<charT, traits>& os, T const& value)
{
    if (!os.good())
        return os;
    InserterWrapper<charT, traits, T> wrapper(os, value);
    wrapper.do_it(os);
    return os;
}

// Writes the value in value notation. (A value whose static type is a
// restricted character string is written by the string inserter instead:
// its characters alone.)
std::ostream& operator<<(std::ostream& os, AbstractData const& value);

} // namespace ASN1

#endif
