// The schema toolchain run on small modules of its own: the Erlang export's
// renaming and enumeration ranges, the constructs it refuses, and how
// a module whose text cannot be used is left out without stopping the rest.
#include "asn1/erlang_peer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

std::string const kSource = TSD_SOURCE_DIR;

struct Result {
    int status;
    std::string output;   // stdout and stderr
};

Result run(std::string const& command)
{
    int st = -1;
    std::string out = Erlang::run(command + " 2>&1", &st);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

std::string slurp(std::string const& path)
{
    std::ifstream is(path);
    std::ostringstream os;
    os << is.rdbuf();
    return os.str();
}

void write(std::string const& path, std::string const& text)
{
    std::ofstream os(path);
    os << text;
}

bool contains(std::string const& text, std::string const& part)
{
    return text.find(part) != std::string::npos;
}

class Generator : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }

    Result generate(std::string const& files, std::string const& extra = "")
    {
        return run("python3 '" + kSource + "/messages/gen/tsd_asngen.py' --out '" + dir_ + "/out' --erlang '" +
                   dir_ + "/erl' " + extra + " " + files);
    }

    std::string samples() const
    {
        return "'" + kSource + "/tests/messages/asn/GenSample.asn' '" + kSource + "/tests/messages/asn/GenOther.asn'";
    }

    Erlang::TempDir tmp_{"tsd-msg-gen"};
    std::string dir_ = tmp_.path();
};

TEST_F(Generator, ErlangExportIsWireEquivalent)
{
    Result r = generate(samples(), "--strict");
    ASSERT_EQ(0, r.status) << r.output;
    std::string e = slurp(dir_ + "/erl/GenSample.asn");
    EXPECT_TRUE(contains(e, "user-data OCTET STRING"));           // "_" is refused by the compiler
    EXPECT_FALSE(contains(e, "user_data"));
    EXPECT_TRUE(contains(e, "Gappy ::= INTEGER (0..16, ...)"));   // coded by number in 0..16
    EXPECT_TRUE(contains(e, "Dup ::= INTEGER (0..1)"));
    EXPECT_TRUE(contains(e, "b-c ENUMERATED { x(0), y(1) }"));
    EXPECT_TRUE(contains(e, "slot INTEGER (0..1023) OPTIONAL"));  // value reference resolved
    std::string o = slurp(dir_ + "/erl/GenOther.asn");
    EXPECT_TRUE(contains(o, "Colour ::= ENUMERATED { red(0), green(1), blue(2), ... }"));
    // The root-only variant used for value generation has no extensible range.
    std::string root = slurp(dir_ + "/erl/GenSampleRoot.asn");
    EXPECT_TRUE(contains(root, "Gappy ::= INTEGER (0..16)\n"));

    ASSERT_EQ(0, run("command -v erlc").status) << "erlc is not installed (scripts/deps.sh test)";
    Result c = generate(samples(), "--strict --erlc erlc");
    EXPECT_EQ(0, c.status) << c.output;
    EXPECT_TRUE(Erlang::exists(dir_ + "/erl/GenSample.beam"));
    EXPECT_TRUE(Erlang::exists(dir_ + "/erl/GenSampleRoot.beam"));
}

TEST_F(Generator, UnusableModuleIsLeftOutWithTheModulesThatNeedIt)
{
    std::string asn = dir_ + "/asn";
    ASSERT_EQ(0, ::mkdir(asn.c_str(), 0700));
    write(asn + "/Good.asn", "Good DEFINITIONS AUTOMATIC TAGS ::= BEGIN\nA ::= SEQUENCE { x INTEGER }\nEND\n");
    write(asn + "/Broken.asn", "Broken DEFINITIONS AUTOMATIC TAGS ::= BEGIN\nB ::= SEQUENCE { x INTEGER,\nEND\n");
    write(asn + "/User.asn", "User DEFINITIONS AUTOMATIC TAGS ::= BEGIN\nIMPORTS B FROM Broken;\n"
                             "C ::= SEQUENCE { b B }\nEND\n");
    std::string files = "'" + asn + "/Good.asn' '" + asn + "/Broken.asn' '" + asn + "/User.asn'";

    Result r = generate(files);
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_TRUE(contains(r.output, "module Broken left out")) << r.output;
    EXPECT_TRUE(contains(r.output, "Broken.asn:3:")) << r.output;       // where the text goes wrong
    EXPECT_TRUE(contains(r.output, "module User left out")) << r.output;
    std::string catalog = slurp(dir_ + "/out/catalog.cpp");
    EXPECT_TRUE(contains(catalog, "\"Broken\","));
    EXPECT_TRUE(contains(catalog, "\"User\","));
    EXPECT_TRUE(contains(catalog, "{ \"Good\", Good_types, 1 },"));
    EXPECT_TRUE(Erlang::exists(dir_ + "/out/Good.h"));
    EXPECT_FALSE(Erlang::exists(dir_ + "/out/User.h"));

    Result listed = generate(files, "--list");
    EXPECT_TRUE(contains(listed.output, "/out/Good_tables.cpp"));
    EXPECT_FALSE(contains(listed.output, "/out/User_tables.cpp"));

    Result strict = generate(files, "--strict");
    EXPECT_NE(0, strict.status);
}

TEST_F(Generator, RefusesWhatTheRuntimeCannotCode)
{
    std::string asn = dir_ + "/M.asn";
    struct Case {
        char const* body;
        char const* message;
    } const cases[] = {
        {"A ::= SEQUENCE { x INTEGER DEFAULT 1 }", "DEFAULT is not supported"},
        {"A ::= SEQUENCE { x INTEGER, ..., [[ y INTEGER ]] }", "version brackets are not supported"},
        {"A ::= SEQUENCE { x INTEGER, x BOOLEAN }", "duplicate component name"},
        {"A ::= SEQUENCE { a-b INTEGER, a_b BOOLEAN }", "give the identifier a_b"},
        {"A ::= SEQUENCE { x SEQUENCE (SIZE (1..4)) OF INTEGER }", "SIZE constraints on SEQUENCE OF"},
        {"A ::= SEQUENCE { x INTEGER (0..7, ...) }", "extensible constraints"},
        {"A ::= SEQUENCE { x Missing }", "unknown type Missing"},
        {"A ::= CHOICE { }", "CHOICE without root alternatives"},
        {"A ::= ENUMERATED { a(1), a(2) }", "duplicate name in ENUMERATED"},
        {"A ::= REAL", "type REAL is not supported"},
    };
    for (Case const& c : cases) {
        write(asn, std::string("M DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n") + c.body + "\nEND\n");
        Result r = generate("'" + asn + "'", "--strict");
        EXPECT_NE(0, r.status) << c.body;
        EXPECT_TRUE(contains(r.output, c.message)) << c.body << "\n" << r.output;
        EXPECT_TRUE(contains(r.output, "M.asn:")) << c.body << "\n" << r.output;
    }
}

} // namespace
