// Cross-check of the BER coders against an independent implementation:
// Erlang/OTP's asn1 compiler (erlang-base, erlang-asn1), on the same test
// module as the PER cross-check, compiled for BER at test time.
//  - Random values that Erlang generates (fixed seed) and encodes must
//    decode in our runtime and re-encode to the same octets, and Erlang
//    must decode those octets to exactly the value we decoded.
//  - Hand-built edge values that we encode must decode in Erlang to the
//    same value, and Erlang's own encoding of it must match ours octet for
//    octet.
#include "asn1/ber/ber_decoder.h"
#include "asn1/ber/ber_encoder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace PerTypes;

namespace {

// A value as an Erlang term, the way "erlc +maps" code represents it.
class ErlangTerm : public ConstVisitor {
public:
    std::ostringstream os;

    using ConstVisitor::do_visit;
    bool do_visit(Null const&) override { os << "'NULL'"; return true; }
    bool do_visit(BOOLEAN const& v) override { os << (static_cast<bool>(v) ? "true" : "false"); return true; }
    bool do_visit(INTEGER const& v) override
    {
        if (v.constrained() && v.getLowerLimit() >= 0)
            os << static_cast<unsigned>(v.getValue());
        else
            os << v.getValue();
        return true;
    }
    bool do_visit(ENUMERATED const& v) override
    {
        // Enumerations with explicit numbers are INTEGER ranges in Erlang.
        for (auto n = static_cast<EnumeratedInfo const*>(v.info())->names; *n; ++n)
            if (std::strchr(*n, '=')) {
                os << v.asInt();
                return true;
            }
        if (!v.getName())
            return false;
        os << "'" << v.getName() << "'";
        return true;
    }
    bool do_visit(OCTET_STRING const& v) override
    {
        os << "<<";
        for (std::size_t i = 0; i < v.size(); ++i)
            os << (i ? "," : "") << static_cast<unsigned>(static_cast<unsigned char>(v[i]));
        os << ">>";
        return true;
    }
    bool do_visit(AbstractString const& v) override
    {
        os << "[";
        for (std::size_t i = 0; i < v.size(); ++i)
            os << (i ? "," : "") << static_cast<unsigned>(static_cast<unsigned char>(v[i]));
        os << "]";
        return true;
    }
    bool do_visit(CHOICE const& v) override
    {
        if (v.currentSelection() < 0 || !v.getSelection())
            return false;
        os << "{'" << v.getSelectionName() << "',";
        if (!v.getSelection()->accept(*this))
            return false;
        os << "}";
        return true;
    }
    bool do_visit(SEQUENCE_OF_Base const& v) override
    {
        os << "[";
        bool first = true;
        for (AbstractData const* e : v) {
            os << (first ? "" : ",");
            first = false;
            if (!e->accept(*this))
                return false;
        }
        os << "]";
        return true;
    }
    bool preVisitExtensionRoots(SEQUENCE const&) override
    {
        os << "#{";
        first_.push_back(true);
        return true;
    }
    bool visitExtensionRoot(SEQUENCE const& v, int index) override
    {
        os << (first_.back() ? "" : ",") << "'" << v.getFieldName(index) << "' => ";
        first_.back() = false;
        return v.getField(static_cast<unsigned>(index))->accept(*this);
    }
    bool visitKnownExtension(SEQUENCE const& v, int index) override { return visitExtensionRoot(v, index); }
    bool afterVisitSequence(SEQUENCE const&) override
    {
        os << "}";
        first_.pop_back();
        return true;
    }

private:
    std::vector<bool> first_;
};

std::string termOf(AbstractData const& v)
{
    ErlangTerm t;
    return v.accept(t) ? t.os.str() : std::string("<unprintable>");
}

std::map<std::string, void const*> const& types()
{
    static std::map<std::string, void const*> const m = {
        {"Small", &Small}, {"Byte", &Byte}, {"Slot", &Slot}, {"Word", &Word}, {"Wide", &Wide},
        {"Big", &Big}, {"Plain", &INTEGER::theInfo}, {"Name", &Name}, {"Text", &IA5String::theInfo},
        {"Grow", &Grow}, {"Octets", &OCTET_STRING::theInfo}, {"Fixed", &Fixed},
        {"Bytes", &Bytes}, {"Bounded", &Bounded}, {"Colour", &Colour}, {"Mode", &Mode},
        {"Channel", &Channel}, {"Single", &Single}, {"Inner", &Inner}, {"Query", &Query},
        {"Command", &Command}, {"Ext", &Ext}, {"Exts", &Exts}, {"Record", &Record}, {"Message", &Message}};
    return m;
}

std::string run(std::string const& cmd, int* status)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        *status = -1;
        return out;
    }
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    *status = pclose(p);
    return out;
}

std::vector<std::string> lines(std::string const& text)
{
    std::vector<std::string> out;
    std::istringstream is(text);
    std::string line;
    while (std::getline(is, line))
        if (!line.empty())
            out.push_back(line);
    return out;
}

std::string berHex(AbstractData const& v, bool& ok)
{
    std::vector<char> out;
    BEREncoder e(out);
    ok = v.accept(e);
    return hex(out);
}

struct Case {
    std::string type;
    std::string hex;
    std::string term;
    std::string origin;
};

class ErlangBerPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        int st = 0;
        run("command -v erlc escript >/dev/null 2>&1", &st);
        if (st != 0) {
            error_ = "erlc/escript not found: install the Debian packages erlang-base and erlang-asn1 "
                     "(scripts/deps.sh test)";
            return;
        }
        char tmpl[] = "/tmp/tsd-ber-erlang-XXXXXX";
        if (!mkdtemp(tmpl)) {
            error_ = "cannot create a temporary folder";
            return;
        }
        dir_ = tmpl;
        std::string const src = std::string(TSD_SOURCE_DIR) + "/tests/asn1/erlang";
        std::string const out = run("erlc -bber +maps -o " + dir_ + " " + src + "/PerCheck.asn 2>&1", &st);
        if (st != 0)
            error_ = "erlc failed to compile PerCheck.asn for BER: " + out;
        script_ = "escript " + src + "/per_peer.escript " + dir_ + " PerCheck ";
    }
    static void TearDownTestSuite()
    {
        if (!dir_.empty()) {
            int st = 0;
            run("rm -rf " + dir_, &st);
        }
    }
    void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

    // Erlang decodes each case's octets, compares with its term and answers
    // "ok <its own encoding of the term>" or "bad ...".
    std::vector<std::string> check(std::vector<Case> const& cases)
    {
        std::string const file = dir_ + "/check.txt";
        {
            std::ofstream f(file);
            for (auto const& c : cases)
                f << c.type << ' ' << (c.hex.empty() ? "-" : c.hex) << ' ' << c.term << '\n';
        }
        int st = 0;
        std::vector<std::string> answers = lines(run(script_ + "check " + file + " 2>&1", &st));
        EXPECT_EQ(0, st);
        EXPECT_EQ(cases.size(), answers.size());
        return answers;
    }

    void expectErlangAgrees(std::vector<Case> const& cases)
    {
        std::vector<std::string> const answers = check(cases);
        int failures = 0;
        for (std::size_t i = 0; i < answers.size() && i < cases.size(); ++i)
            if (answers[i] != "ok " + cases[i].hex && ++failures <= 10)
                ADD_FAILURE() << cases[i].origin << "\n  ours:   " << cases[i].hex << " " << cases[i].term
                              << "\n  erlang: " << answers[i];
        EXPECT_EQ(0, failures);
    }

    static std::string error_;
    static std::string dir_;
    static std::string script_;
};

std::string ErlangBerPeer::error_;
std::string ErlangBerPeer::dir_;
std::string ErlangBerPeer::script_;

TEST_F(ErlangBerPeer, RandomErlangValuesRoundTripThroughOurRuntime)
{
    int st = 0;
    std::string const typeList = "Record Message Command Ext Exts Inner Query Channel Single Bounded Bytes "
                                 "Colour Mode Grow Name Text Fixed Octets Big Wide Word Slot Small Plain";
    std::vector<std::string> const generated =
        lines(run(script_ + "random 100 20261207 " + typeList + " 2>&1", &st));
    ASSERT_EQ(0, st);
    ASSERT_GE(generated.size(), 2400u);

    std::vector<Case> cases;
    int failures = 0;
    for (std::string const& line : generated) {
        std::istringstream is(line);
        std::string type, hexText;
        is >> type >> hexText;
        auto const t = types().find(type);
        ASSERT_NE(types().end(), t) << line;
        std::vector<char> const bytes = unhex(hexText);
        Value v = make(t->second);
        BERDecoder d(bytes.data(), bytes.data() + bytes.size());
        bool const decoded = v->accept(d);
        bool ok = false;
        std::string const again = berHex(*v, ok);
        if (!decoded || !ok || again != hexText) {
            if (++failures <= 10)
                ADD_FAILURE() << type << " " << hexText << ": decoded " << decoded << ", re-encoded "
                              << (ok ? again : "fail");
            continue;
        }
        cases.push_back({type, hexText, termOf(*v), line});
    }
    EXPECT_EQ(0, failures);
    expectErlangAgrees(cases);
}

// Index of the named field (so that the cases follow the module by name).
unsigned fieldIndex(AbstractData& seq, char const* name)
{
    SEQUENCE& s = as<SEQUENCE>(&seq);
    for (unsigned i = 0; i < s.getNumFields(); ++i)
        if (std::strcmp(s.getFieldName(static_cast<int>(i)), name) == 0)
            return i;
    ADD_FAILURE() << "no field " << name;
    return 0;
}

AbstractData* named(AbstractData& seq, char const* name)
{
    return field(seq, fieldIndex(seq, name));
}

TEST_F(ErlangBerPeer, HandBuiltValuesMatchErlangOctetForOctet)
{
    std::vector<Case> cases;
    auto add = [&](std::string type, AbstractData const& v, std::string what) {
        bool ok = false;
        std::string const h = berHex(v, ok);
        ASSERT_TRUE(ok) << what;
        cases.push_back({type, h, termOf(v), what});
    };
    auto integer = [&](std::string type, void const* info, long long n) {
        Value v = make(info);
        setInt(v.get(), n);
        add(type, *v, type + " " + std::to_string(n));
    };
    for (long long n : {0LL, 127LL, 128LL, 32767LL, 32768LL, 8388607LL, 8388608LL, 2147483647LL,
                        2147483648LL, 3000000000LL, 4294967295LL})
        integer("Big", &Big, n);
    for (long long n : {0LL, 127LL, 128LL, -1LL, -128LL, -129LL, 32767LL, 32768LL, -32769LL, 8388608LL,
                        -8388609LL, 2147483647LL, -2147483648LL})
        integer("Plain", &INTEGER::theInfo, n);

    auto text = [&](std::string type, void const* info, std::string s) {
        Value v = make(info);
        setText(v.get(), s);
        add(type, *v, type + " of " + std::to_string(s.size()));
    };
    text("Text", &IA5String::theInfo, std::string(127, 'q'));
    text("Text", &IA5String::theInfo, std::string(128, 'r'));
    text("Text", &IA5String::theInfo, std::string(300, 's'));
    Value octets = make(&OCTET_STRING::theInfo);
    setOctets(octets.get(), std::string(70000, '\x55'));
    add("Octets", *octets, "Octets of 70000");
    for (int alt = 0; alt < 5; ++alt) {
        Value msg = make(&Message);
        AbstractData* sel = select(*named(*msg, "pdu"), alt);
        if (alt == 1) {
            setInt(named(*sel, "id"), 1023);
            setOctets(named(*sel, "data"), std::string(200, '\x10'));
        } else if (alt == 2) {
            setInt(sel, 77);
        } else if (alt == 3) {
            setText(named(*sel, "what"), std::string(130, 'w'));
            setInt(named(*sel, "level"), 7);
        }
        if (alt % 2) {
            setInt(named(*msg, "seq"), 4294967295LL);
            setInt(named(*msg, "slot"), 0);
        }
        add("Message", *msg, "Message alternative " + std::to_string(alt));
    }
    expectErlangAgrees(cases);
}

} // namespace
