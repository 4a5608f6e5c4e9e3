// Printer then parser over the PER test corpus: the random values of the
// PER cross-check (same module, seed, count and type order), generated and
// encoded by Erlang/OTP and decoded by our PER decoder, are printed in
// value notation and read back; the value read must equal the printed one
// and print the same text.
#include "asn1/notation/parser.h"
#include "asn1/notation/printer.h"
#include "asn1/per/per_decoder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace PerTypes;

namespace {

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

TEST(ParserCorpus, EveryPerCorpusValueReadsBackFromItsPrintedText)
{
    int st = 0;
    run("command -v erlc escript >/dev/null 2>&1", &st);
    ASSERT_EQ(0, st) << "erlc/escript not found: install the Debian packages erlang-base and erlang-asn1 "
                        "(scripts/deps.sh test)";
    char tmpl[] = "/tmp/tsd-avn-corpus-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string const dir = tmpl;
    std::string const src = std::string(TSD_SOURCE_DIR) + "/tests/asn1/erlang";
    std::string const compiled = run("erlc -bper +maps -o " + dir + " " + src + "/PerCheck.asn 2>&1", &st);
    ASSERT_EQ(0, st) << compiled;
    std::string const typeList = "Record Message Command Ext Exts Inner Query Channel Single Bounded Bytes "
                                 "Colour Mode Grow Name Text Fixed Octets Big Wide Word Slot Small Plain";
    std::string const generated = run("escript " + src + "/per_peer.escript " + dir +
                                          " PerCheck random 130 20261206 " + typeList + " 2>&1",
                                      &st);
    ASSERT_EQ(0, st) << generated.substr(0, 2000);
    run("rm -rf " + dir, &st);

    std::istringstream lines(generated);
    std::string line;
    unsigned count = 0;
    int failures = 0;
    while (std::getline(lines, line)) {
        std::istringstream is(line);
        std::string type, hexText;
        is >> type >> hexText;
        auto const t = types().find(type);
        ASSERT_NE(types().end(), t) << line;
        std::vector<char> const bytes = hexText == "-" ? std::vector<char>() : unhex(hexText);
        Value v = make(t->second);
        PERDecoder d(bytes.data(), bytes.data() + bytes.size(), nullptr, true);
        ASSERT_TRUE(v->accept(d)) << line;
        ++count;

        std::string const text = v->asValueNotation();
        Value back = make(t->second);
        bool const read = back->setFromValueNotation(text);
        if ((!read || !(*back == *v) || back->asValueNotation() != text) && ++failures <= 5)
            ADD_FAILURE() << line << (read ? ": reads back differently" : ": does not read back") << "\n"
                          << text << "\nread back as\n" << back->asValueNotation();
    }
    EXPECT_GE(count, 3000u);
    EXPECT_EQ(0, failures);
}

} // namespace
