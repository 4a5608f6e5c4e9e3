// Printer then parser over the PER test corpus: the random values of the
// PER cross-check (same module, seed, count and type order), generated and
// encoded by Erlang/OTP and decoded by our PER decoder, are printed in
// value notation and read back; the value read must equal the printed one
// and print the same text.
#include "asn1/notation/parser.h"
#include "asn1/notation/printer.h"
#include "asn1/per/per_decoder.h"
#include "asn1/percheck_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PerTypes;

namespace {

TEST(ParserCorpus, EveryPerCorpusValueReadsBackFromItsPrintedText)
{
    PerCheckModule const module("per");
    ASSERT_TRUE(module.error().empty()) << module.error();
    int st = 0;
    std::string const generated = module.random(kPerCorpusCount, kPerCorpusSeed, &st);
    ASSERT_EQ(0, st) << generated.substr(0, 2000);

    unsigned count = 0;
    int failures = 0;
    for (std::string const& line : Erlang::lines(generated)) {
        Encoded const e = parseEncoded(line);
        ASSERT_NE(nullptr, e.info) << line;
        Value v = make(e.info);
        PERDecoder d(e.bytes.data(), e.bytes.data() + e.bytes.size(), nullptr, true);
        ASSERT_TRUE(v->accept(d)) << line;
        ++count;

        std::string const text = v->asValueNotation();
        Value back = make(e.info);
        bool const read = back->setFromValueNotation(text);
        if ((!read || !(*back == *v) || back->asValueNotation() != text) && ++failures <= 5)
            ADD_FAILURE() << line << (read ? ": reads back differently" : ": does not read back") << "\n"
                          << text << "\nread back as\n" << back->asValueNotation();
    }
    EXPECT_GE(count, 3000u);
    EXPECT_EQ(0, failures);
}

} // namespace
