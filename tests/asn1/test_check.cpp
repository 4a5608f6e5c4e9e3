// Validity checkers, the invalid-value tracer and the primitive checker.
#include "asn1/check/checkers.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

using namespace PerTypes;

namespace {

const ConstrainedInfo AtLeastTen = {{&INTEGER::create, 2}, {PartiallyConstrained, 10, 0}};
const ConstrainedInfo FiveToTen = intRange(FixedConstraint, 5, 10);
const SequenceOfInfo Quads = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, &Quad};

// SEQUENCE { a INTEGER, b SEQUENCE OF INTEGER (0..3), c INTEGER (0..7), d INTEGER (0..7) }
void const* const PairInfos[] = {&INTEGER::theInfo, &Quads, &Small, &Small};
int const PairIds[] = {-1, -1, -1, -1};
char const* const PairNames[] = {"a", "b", "c", "d"};
const SequenceInfo Pair = {{&SEQUENCE::create, 16}, false, PairInfos, PairIds, 4, 0, 0, nullptr, nullptr, PairNames};

std::string trace(AbstractData const& v)
{
    InvalidTracer tracer;
    return v.accept(tracer) ? std::string("<passes>") : tracer.text();
}

// Each value with the tracer's text ("<passes>": valid). Unconstrained
// INTEGERs hold any 32-bit number; only a range reaching above 2147483647
// holds unsigned numbers up to 4294967295, so -1 there is a huge one.
TEST(CheckInteger, BoundsAndTheirMessages)
{
    struct Row {
        void const* info;
        long long n;
        char const* text;
    } const rows[] = {
        {&INTEGER::theInfo, -1, "<passes>"},
        {&INTEGER::theInfo, 0, "<passes>"},
        {&INTEGER::theInfo, INT_MIN, "<passes>"},
        {&INTEGER::theInfo, INT_MAX, "<passes>"},
        {&Big, 0, "<passes>"},
        {&Big, 2147483648LL, "<passes>"},
        {&Big, 3000000000LL, "<passes>"},
        {&Big, 4294967295LL, "<passes>"},
        {&Small, 8, " The INTEGER value 8 is greater than upper bound 7"},
        {&Small, -1, " The INTEGER value -1 is smaller than lower bound 0"},
        {&FiveToTen, -1, " The INTEGER value -1 is smaller than lower bound 5"},
        {&AtLeastTen, -1, " The INTEGER value -1 is smaller than lower bound 10"},
        {&Five, 4, " The INTEGER value 4 is smaller than lower bound 5"},
        {&Signed, -6, " The INTEGER value -6 is smaller than lower bound -5"},
        {&Signed, 6, " The INTEGER value 6 is greater than upper bound 5"},
        {&Signed, -5, "<passes>"},
        {&AtLeastTen, 1000000, "<passes>"},
        {&AtLeastTen, 9, " The INTEGER value 9 is smaller than lower bound 10"},
    };
    for (Row const& row : rows) {
        Value v = intV(row.info, row.n);
        bool const valid = std::string(row.text) == "<passes>";
        EXPECT_EQ(row.text, trace(*v)) << row.n;
        EXPECT_EQ(valid, v->isValid()) << row.n;
        EXPECT_EQ(valid, v->isStrictlyValid()) << row.n;
    }
}

// A BMPString's first character out of range, by the number it holds.
TEST(CheckString, BmpCharacterInDecimal)
{
    EXPECT_EQ(" The character '-1' is not valid for the string", trace(BMPString(L"\xffffffff", &BMPString::theInfo)));
    EXPECT_EQ(" The character '65536' is not valid for the string", trace(BMPString(L"\x10000", &BMPString::theInfo)));
}

TEST(CheckConstructed, TracerLineNamesThePath)
{
    Value pair = make(&Pair);
    SEQUENCE_OF_Base& list = as<SEQUENCE_OF_Base>(as<SEQUENCE>(pair.get()).getField(1));
    list.resize(4);
    setInt(*(list.begin() + 2), 7);
    setInt(*(list.begin() + 3), 9);
    std::ostringstream os;
    EXPECT_FALSE(trace_invalid(os, "bad: ", *pair));
    EXPECT_EQ("bad: .b[2] The INTEGER value 7 is greater than upper bound 3\n", os.str());
    EXPECT_FALSE(pair->isValid());

    setInt(*(list.begin() + 2), 3);
    setInt(*(list.begin() + 3), 0);
    std::ostringstream quiet;
    EXPECT_TRUE(trace_invalid(quiet, "bad: ", *pair));
    EXPECT_EQ("", quiet.str());
    EXPECT_TRUE(pair->isStrictlyValid());

    // Only the first invalid field is traced.
    setInt(*(list.begin() + 1), 4);
    setInt(as<SEQUENCE>(pair.get()).getField(3), 8);
    EXPECT_EQ(".b[1] The INTEGER value 4 is greater than upper bound 3", trace(*pair));
}

} // namespace
