// Cross-check of the aligned PER coders against an independent
// implementation: Erlang/OTP's asn1 compiler (erlang-base, erlang-asn1).
//
// The module tests/asn1/erlang/PerCheck.asn is compiled with erlc for PER
// at test time. Both directions are checked:
//  - a few thousand random values that Erlang generates (fixed seed) and
//    encodes must decode in our runtime and re-encode to the same octets,
//    and Erlang must decode those octets to exactly the value we decoded;
//  - hand-built edge values that we encode must decode in Erlang to the
//    same value, and Erlang's own encoding of that value must match ours
//    octet for octet (except where the runtime deliberately departs from
//    X.691; those cases are marked and pinned by byte in the encoder tests).
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace PerTypes;

namespace {

// Value as an Erlang term as "erlc +maps" code represents it.
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
        // Enumerations with explicit numbers are INTEGER ranges on the Erlang side.
        auto names = static_cast<EnumeratedInfo const*>(v.info())->names;
        for (auto n = names; *n; ++n)
            if (std::string(*n).find('=') != std::string::npos) {
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

struct Case {
    std::string type;
    std::string hex;
    std::string term;
    bool sameBytes;  // Erlang's own encoding must equal ours
    std::string origin;
};

class ErlangPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        int st = 0;
        run("command -v erlc >/dev/null 2>&1 && command -v escript >/dev/null 2>&1", &st);
        if (st != 0) {
            error_ = "erlc/escript not found: install the Debian packages erlang-base and erlang-asn1 "
                     "(scripts/deps.sh test)";
            return;
        }
        char tmpl[] = "/tmp/tsd-per-erlang-XXXXXX";
        if (!mkdtemp(tmpl)) {
            error_ = "cannot create a temporary folder";
            return;
        }
        dir_ = tmpl;
        std::string src = std::string(TSD_SOURCE_DIR) + "/tests/asn1/erlang";
        std::string out = run("erlc -bper +maps -o " + dir_ + " " + src + "/PerCheck.asn 2>&1", &st);
        if (st != 0)
            error_ = "erlc failed to compile PerCheck.asn: " + out;
        script_ = "escript " + src + "/per_peer.escript " + dir_ + " PerCheck ";
    }
    static void TearDownTestSuite()
    {
        if (!dir_.empty()) {
            int st = 0;
            run("rm -rf " + dir_, &st);
        }
    }
    void SetUp() override
    {
        ASSERT_TRUE(error_.empty()) << error_;
    }

    // Runs Erlang's check over the cases; returns one answer per case.
    std::vector<std::string> check(std::vector<Case> const& cases)
    {
        std::string file = dir_ + "/check.txt";
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

    static std::string error_;
    static std::string dir_;
    static std::string script_;
};

std::string ErlangPeer::error_;
std::string ErlangPeer::dir_;
std::string ErlangPeer::script_;

std::string encodeHex(AbstractData const& v, bool& ok)
{
    std::vector<char> out;
    PEREncoder e(out, true);
    ok = v.accept(e);
    return hex(out);
}

TEST_F(ErlangPeer, RandomErlangValuesRoundTripThroughOurRuntime)
{
    int st = 0;
    std::string typeList = "Record Message Command Ext Exts Inner Query Channel Single Bounded Bytes "
                           "Colour Mode Grow Name Text Fixed Octets Big Wide Word Slot Small Plain";
    std::vector<std::string> generated = lines(run(script_ + "random 130 20261206 " + typeList + " 2>&1", &st));
    ASSERT_EQ(0, st);
    ASSERT_GE(generated.size(), 3000u);

    std::vector<Case> cases;
    int failures = 0;
    for (std::string const& line : generated) {
        std::istringstream is(line);
        std::string type, hexText;
        is >> type >> hexText;
        auto t = types().find(type);
        ASSERT_NE(types().end(), t) << line;
        std::vector<char> bytes = hexText == "-" ? std::vector<char>() : unhex(hexText);
        Value v = make(t->second);
        PERDecoder d(bytes.data(), bytes.data() + bytes.size(), nullptr, true);
        bool decoded = v->accept(d);
        bool ok = false;
        std::string again = encodeHex(*v, ok);
        if (!decoded || !ok || again != hexText) {
            if (++failures <= 10)
                ADD_FAILURE() << type << " " << hexText << ": decoded " << decoded << ", re-encoded "
                              << (ok ? again : "fail");
            continue;
        }
        cases.push_back({type, hexText, termOf(*v), true, line});
    }
    EXPECT_EQ(0, failures);

    // Erlang decodes the same octets to exactly the value we decoded.
    std::vector<std::string> answers = check(cases);
    for (std::size_t i = 0; i < answers.size() && i < cases.size(); ++i)
        if (answers[i] != "ok " + (cases[i].hex.empty() ? std::string("-") : cases[i].hex) && ++failures <= 10)
            ADD_FAILURE() << cases[i].origin << "\n  our value: " << cases[i].term << "\n  erlang: " << answers[i];
    EXPECT_EQ(0, failures);
}

// Hand-built values at the edges of every form.
std::vector<std::pair<Case, Value>> handBuilt()
{
    std::vector<std::pair<Case, Value>> out;
    auto add = [&](std::string type, Value v, bool sameBytes, std::string what) {
        Case c{type, "", "", sameBytes, what};
        out.emplace_back(c, std::move(v));
    };
    auto integer = [&](std::string type, void const* info, long long n) {
        Value v = make(info);
        setInt(v.get(), n);
        add(type, std::move(v), true, type + " " + std::to_string(n));
    };
    for (long long n : {0LL, 1LL, 255LL, 256LL, 65535LL, 65536LL, 16777215LL, 16777216LL, 4294967295LL})
        integer("Big", &Big, n);
    for (long long n : {0LL, 255LL, 256LL, 65535LL, 65536LL, 16777215LL})
        integer("Wide", &Wide, n);
    for (long long n : {0LL, 1LL, 511LL, 1023LL})
        integer("Slot", &Slot, n);
    for (long long n : {0LL, 65535LL})
        integer("Word", &Word, n);
    for (long long n : {0LL, 127LL, 128LL, -1LL, -128LL, -129LL, 32767LL, 32768LL, -32769LL, 8388608LL,
                        -8388609LL, 2147483647LL, -2147483648LL})
        integer("Plain", &INTEGER::theInfo, n);

    auto text = [&](std::string type, void const* info, std::string s) {
        Value v = make(info);
        setText(v.get(), s);
        add(type, std::move(v), true, type + " '" + s + "'");
    };
    text("Name", &Name, "ab");
    text("Name", &Name, std::string(64, 'z'));
    text("Text", &IA5String::theInfo, "");
    text("Text", &IA5String::theInfo, std::string(127, 'q'));
    text("Text", &IA5String::theInfo, std::string(128, 'r'));
    text("Text", &IA5String::theInfo, std::string(300, '\x7f'));
    text("Grow", &Grow, "abcd");
    text("Grow", &Grow, "abcdefgh");

    auto octets = [&](std::string type, void const* info, std::string s) {
        Value v = make(info);
        setOctets(v.get(), s);
        add(type, std::move(v), true, type + " of " + std::to_string(s.size()));
    };
    octets("Octets", &OCTET_STRING::theInfo, "");
    octets("Octets", &OCTET_STRING::theInfo, "\x01");
    octets("Octets", &OCTET_STRING::theInfo, "\x01\xff");
    octets("Octets", &OCTET_STRING::theInfo, std::string(16383, '\x55'));
    octets("Fixed", &Fixed, std::string("\x00\x01\x02\x03", 4));

    {
        Value v = make(&Bounded);
        as<SEQUENCE_OF_Base>(v.get()).resize(8);
        add("Bounded", std::move(v), true, "Bounded of 8");
        Value b = make(&Bytes);
        as<SEQUENCE_OF_Base>(b.get()).resize(128);
        add("Bytes", std::move(b), true, "Bytes of 128");
        Value e = make(&Bytes);
        add("Bytes", std::move(e), true, "Bytes empty");
    }
    for (int i = 0; i < 3; ++i) {
        Value c = make(&Colour);
        as<ENUMERATED>(c.get()).setFromInt(i);
        add("Colour", std::move(c), true, "Colour");
        Value m = make(&Mode);
        as<ENUMERATED>(m.get()).setFromInt(i);
        add("Mode", std::move(m), true, "Mode");
    }
    for (int alt = 0; alt < 5; ++alt) {
        Value msg = make(&Message);
        AbstractData* pdu = field(*msg, 2);
        AbstractData* sel = select(*pdu, alt);
        if (alt == 1) {
            setInt(field(*sel, 0), 1023);
            setOctets(field(*sel, 3), std::string(200, '\x10'));
        } else if (alt == 2) {
            setInt(sel, 77);
        } else if (alt == 3) {
            setText(field(*sel, 0), std::string(130, 'w'));
            setInt(field(*sel, 1), 7);
        }
        if (alt % 2) {
            setInt(field(*msg, 0), 4294967295LL);
            setInt(field(*msg, 1), 0);
        }
        add("Message", std::move(msg), true, "Message alternative " + std::to_string(alt));
    }
    {
        // Every addition present: the bitmap has one bit per known addition.
        Value e = make(&Ext);
        setInt(field(*e, 0), 7);
        as<BOOLEAN>(field(*e, 1)) = false;
        setText(field(*e, 2), "ext");
        setInt(field(*e, 3), -70000);
        AbstractData* in = field(*e, 4);
        setInt(field(*in, 0), 512);
        as<BOOLEAN>(field(*in, 2)) = true;
        Value list = make(&Exts);
        as<SEQUENCE_OF_Base>(list.get()).push_back(e->clone());
        add("Ext", std::move(e), true, "Ext with every addition");
        Value partial = make(&Ext);
        setInt(field(*partial, 0), 1);
        setInt(field(*partial, 3), 5);
        field(*partial, 2);
        as<SEQUENCE>(partial.get()).removeOptionalField(1);
        // Map of two bits: Erlang writes three.
        add("Ext", std::move(partial), false, "Ext with the second addition only");
        // A shorter bitmap (only the first addition): Erlang reads it, but
        // writes a bitmap of all three known additions itself.
        Value shortMap = make(&Ext);
        setText(field(*shortMap, 2), "only c");
        add("Ext", std::move(shortMap), false, "Ext with a one-bit extension bitmap");
        add("Exts", std::move(list), true, "Exts of one");
    }
    return out;
}

TEST_F(ErlangPeer, OurEncodingsDecodeInErlangToTheSameValue)
{
    std::vector<std::pair<Case, Value>> built = handBuilt();
    std::vector<Case> cases;
    for (auto& b : built) {
        bool ok = false;
        b.first.hex = encodeHex(*b.second, ok);
        ASSERT_TRUE(ok) << b.first.origin;
        b.first.term = termOf(*b.second);
        cases.push_back(b.first);
    }
    std::vector<std::string> answers = check(cases);
    for (std::size_t i = 0; i < answers.size() && i < cases.size(); ++i) {
        Case const& c = cases[i];
        std::string ours = c.hex.empty() ? "-" : c.hex;
        ASSERT_EQ(0u, answers[i].rfind("ok ", 0)) << c.origin << "\n  ours: " << ours << "\n  term: " << c.term
                                                  << "\n  erlang: " << answers[i];
        if (c.sameBytes)
            EXPECT_EQ("ok " + ours, answers[i]) << c.origin;
        else
            EXPECT_NE("ok " + ours, answers[i]) << c.origin << ": expected to differ from X.691";
    }
}

} // namespace
