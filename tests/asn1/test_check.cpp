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

Value integer(void const* info, long long n)
{
    Value v = make(info);
    setInt(v.get(), n);
    return v;
}

// Unconstrained INTEGERs hold any 32-bit number; a range from 0 holds
// unsigned numbers up to 4294967295.
TEST(CheckInteger, ValuesWithinTheirTypesAreValid)
{
    for (long long n : {-1LL, 0LL, (long long)INT_MIN, (long long)INT_MAX}) {
        Value v = integer(&INTEGER::theInfo, n);
        EXPECT_TRUE(v->isValid()) << n;
        EXPECT_TRUE(v->isStrictlyValid()) << n;
        EXPECT_EQ("<passes>", trace(*v)) << n;
    }
    for (long long n : {0LL, 2147483648LL, 3000000000LL, 4294967295LL}) {
        Value v = integer(&Big, n);
        EXPECT_TRUE(v->isValid()) << n;
        EXPECT_TRUE(v->isStrictlyValid()) << n;
        EXPECT_EQ("<passes>", trace(*v)) << n;
    }
}

TEST(CheckInteger, BoundsAndTheirMessages)
{
    Value small = integer(&Small, 8);
    EXPECT_FALSE(small->isValid());
    EXPECT_FALSE(small->isStrictlyValid());
    EXPECT_EQ(" The INTEGER value 8 is greater than upper bound 7", trace(*small));
    // A negative number in a range from 0 is a huge unsigned one.
    setInt(small.get(), -1);
    EXPECT_FALSE(small->isStrictlyValid());
    EXPECT_EQ(" The INTEGER value 4294967295 is greater than upper bound 7", trace(*small));

    Value five = integer(&Five, 4);
    EXPECT_FALSE(five->isValid());
    EXPECT_EQ(" The INTEGER value 4 is smaller than lower bound 5", trace(*five));

    Value signedRange = integer(&Signed, -6);
    EXPECT_EQ(" The INTEGER value -6 is smaller than lower bound -5", trace(*signedRange));
    setInt(signedRange.get(), 6);
    EXPECT_EQ(" The INTEGER value 6 is greater than upper bound 5", trace(*signedRange));
    setInt(signedRange.get(), -5);
    EXPECT_TRUE(signedRange->isStrictlyValid());

    Value atLeast = integer(&AtLeastTen, 1000000);
    EXPECT_TRUE(atLeast->isStrictlyValid());
    setInt(atLeast.get(), 9);
    EXPECT_FALSE(atLeast->isValid());
    EXPECT_EQ(" The INTEGER value 9 is smaller than lower bound 10", trace(*atLeast));
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
}

TEST(CheckConstructed, OnlyTheFirstInvalidFieldIsTraced)
{
    Value pair = make(&Pair);
    SEQUENCE& seq = as<SEQUENCE>(pair.get());
    as<SEQUENCE_OF_Base>(seq.getField(1)).resize(1);
    setInt(*as<SEQUENCE_OF_Base>(seq.getField(1)).begin(), 4);
    setInt(seq.getField(3), 8);
    EXPECT_EQ(".b[0] The INTEGER value 4 is greater than upper bound 3", trace(*pair));
}

} // namespace
