// The Erlang side of the coder cross-checks on tests/asn1/erlang/PerCheck.asn:
// values written as Erlang terms, the module compiled by erlc for one set
// of encoding rules, its random value corpus and its check of our octets.
#ifndef TSD_TESTS_ASN1_PERCHECK_PEER_H
#define TSD_TESTS_ASN1_PERCHECK_PEER_H

#include "asn1/erlang_peer.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace PerTypes {

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
            if (std::string(*n).find('=') != std::string::npos) {
                os << v.asInt();
                return true;
            }
        if (!v.getName())
            return false;
        os << "'" << v.getName() << "'";
        return true;
    }
    bool do_visit(OCTET_STRING const& v) override { return octets(v, "<<", ">>"); }
    bool do_visit(AbstractString const& v) override { return octets(v, "[", "]"); }
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
    template <class Octets>
    bool octets(Octets const& v, char const* open, char const* close)
    {
        os << open;
        for (std::size_t i = 0; i < v.size(); ++i)
            os << (i ? "," : "") << static_cast<unsigned>(static_cast<unsigned char>(v[i]));
        os << close;
        return true;
    }

    std::vector<bool> first_;
};

inline std::string termOf(AbstractData const& v)
{
    ErlangTerm t;
    return v.accept(t) ? t.os.str() : std::string("<unprintable>");
}

// The module's types by name.
inline std::map<std::string, void const*> const& types()
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

// Index of the named field (so that the cases follow the module by name).
inline unsigned fieldIndex(AbstractData& seq, char const* name)
{
    SEQUENCE& s = as<SEQUENCE>(&seq);
    for (unsigned i = 0; i < s.getNumFields(); ++i)
        if (std::strcmp(s.getFieldName(static_cast<int>(i)), name) == 0)
            return i;
    ADD_FAILURE() << "no field " << name;
    return 0;
}

inline AbstractData* named(AbstractData& seq, char const* name)
{
    return field(seq, fieldIndex(seq, name));
}

// A Message with the pdu alternative alt (0..4), the odd ones with the
// largest sequence number.
inline Value messageAlternative(int alt)
{
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
    return msg;
}

// The types the random corpus covers, in its order.
inline char const* const kCorpusTypes = "Record Message Command Ext Exts Inner Query Channel Single Bounded Bytes "
                                        "Colour Mode Grow Name Text Fixed Octets Big Wide Word Slot Small Plain";

// One generated line "<Type> <hex>" ("-" for no octets): info is null for
// a type the module does not have.
struct Encoded {
    std::string type;
    std::string hex;
    void const* info = nullptr;
    std::vector<char> bytes;
};

inline Encoded parseEncoded(std::string const& line)
{
    Encoded e;
    std::istringstream is(line);
    is >> e.type >> e.hex;
    auto const t = types().find(e.type);
    if (t != types().end())
        e.info = t->second;
    if (e.hex != "-")
        e.bytes = unhex(e.hex);
    return e;
}

// A value to check in Erlang: its type, our octets, its Erlang term.
struct Case {
    std::string type;
    std::string hex;
    std::string term;
    std::string origin;
    bool sameBytes = true;  // Erlang's own encoding must equal ours
};

// Decodes every generated line and encodes the value again under the same
// rule; each must come back to the same octets. Returns those that did,
// as cases for Erlang to check.
inline std::vector<Case> roundTrip(std::vector<std::string> const& generated, Rule rule)
{
    std::vector<Case> cases;
    int failures = 0;
    for (std::string const& line : generated) {
        Encoded const e = parseEncoded(line);
        if (!e.info) {
            ADD_FAILURE() << "unknown type: " << line;
            continue;
        }
        Value v = make(e.info);
        bool const decoded = decBytes(rule, e.bytes, *v);
        std::string const again = encHex(rule, *v);
        if (!decoded || again != (e.hex == "-" ? "" : e.hex)) {
            if (++failures <= 10)
                ADD_FAILURE() << e.type << " " << e.hex << ": decoded " << decoded << ", re-encoded " << again;
            continue;
        }
        cases.push_back({e.type, again, termOf(*v), line});
    }
    EXPECT_EQ(0, failures);
    return cases;
}

// PerCheck.asn compiled with erlc for "per" or "ber" in a temporary folder.
class PerCheckModule {
public:
    explicit PerCheckModule(std::string const& rules) : dir_("tsd-" + rules + "-erlang")
    {
        if (!Erlang::installed()) {
            error_ = Erlang::kNotInstalled;
            return;
        }
        if (dir_.path().empty()) {
            error_ = "cannot create a temporary folder";
            return;
        }
        std::string const src = std::string(TSD_SOURCE_DIR) + "/tests/asn1/erlang";
        int st = 0;
        std::string const out =
            Erlang::run("erlc -b" + rules + " +maps -o " + dir_.path() + " " + src + "/PerCheck.asn 2>&1", &st);
        if (st != 0)
            error_ = "erlc failed to compile PerCheck.asn for " + rules + ": " + out;
        script_ = "escript " + src + "/per_peer.escript " + dir_.path() + " PerCheck ";
    }

    // Empty when the module is ready.
    std::string const& error() const { return error_; }

    // Erlang's random values of the corpus types, encoded: its output lines.
    std::string random(unsigned count, unsigned seed, int* status) const
    {
        return Erlang::run(script_ + "random " + std::to_string(count) + " " + std::to_string(seed) + " " +
                                   kCorpusTypes + " 2>&1",
                               status);
    }

    // Erlang decodes each case's octets, compares with its term and answers
    // "ok <its own encoding of the term>" or "bad ..."; one answer per case.
    std::vector<std::string> check(std::vector<Case> const& cases) const
    {
        std::string const file = dir_.path() + "/check.txt";
        {
            std::ofstream f(file);
            for (auto const& c : cases)
                f << c.type << ' ' << (c.hex.empty() ? "-" : c.hex) << ' ' << c.term << '\n';
        }
        int st = 0;
        std::vector<std::string> answers = Erlang::lines(Erlang::run(script_ + "check " + file + " 2>&1", &st));
        EXPECT_EQ(0, st);
        EXPECT_EQ(cases.size(), answers.size());
        return answers;
    }

    // Erlang reads every case as its value and writes the same octets
    // (other octets where the case departs from X.691).
    void expectAgrees(std::vector<Case> const& cases) const
    {
        std::vector<std::string> const answers = check(cases);
        int failures = 0;
        for (std::size_t i = 0; i < answers.size() && i < cases.size(); ++i) {
            Case const& c = cases[i];
            std::string const ours = "ok " + (c.hex.empty() ? std::string("-") : c.hex);
            bool const read = answers[i].rfind("ok ", 0) == 0;
            if ((!read || (answers[i] == ours) != c.sameBytes) && ++failures <= 10)
                ADD_FAILURE() << c.origin << (c.sameBytes ? "" : " (expected to differ)") << "\n  ours:   " << c.hex
                              << " " << c.term << "\n  erlang: " << answers[i];
        }
        EXPECT_EQ(0, failures);
    }

private:
    Erlang::TempDir dir_;
    std::string error_;
    std::string script_;
};

inline constexpr char kPer[] = "per";
inline constexpr char kBer[] = "ber";

// A test suite sharing one compiled module; a test fails when Erlang is missing.
template <char const* Rules>
class PerCheckPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = std::make_unique<PerCheckModule>(Rules); }
    static void TearDownTestSuite() { module_.reset(); }
    void SetUp() override { ASSERT_TRUE(module_->error().empty()) << module_->error(); }

    static Rule rule() { return Rules == kPer ? Rule::per : Rule::ber; }

    // Erlang's random values (one escript run) decode in our runtime and
    // re-encode to the same octets; Erlang reads back exactly our value.
    // Returns the generated lines.
    static std::vector<std::string> randomValuesAgree(unsigned count, unsigned seed, std::size_t atLeast)
    {
        int st = 0;
        std::vector<std::string> const generated = Erlang::lines(module_->random(count, seed, &st));
        EXPECT_EQ(0, st);
        EXPECT_GE(generated.size(), atLeast);
        module_->expectAgrees(roundTrip(generated, rule()));
        return generated;
    }

    // A hand-built value with our octets, for expectAgrees.
    static Case caseOf(std::string const& type, AbstractData const& v, std::string const& what,
                       bool sameBytes = true)
    {
        std::string const h = encHex(rule(), v);
        EXPECT_NE("fail", h) << what;
        return {type, h, termOf(v), what, sameBytes};
    }

    static inline std::unique_ptr<PerCheckModule> module_;
};

} // namespace PerTypes

#endif
