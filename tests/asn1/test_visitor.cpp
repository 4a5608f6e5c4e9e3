// The two SEQUENCE walks: reading skips absent OPTIONAL fields, filling
// visits every field with its optional bit.
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace ASN1;
using Calls = std::vector<std::string>;

// S ::= SEQUENCE { m INTEGER, o1 BOOLEAN OPTIONAL, o2 INTEGER OPTIONAL, ...,
//                  x1 INTEGER OPTIONAL, x2 NULL OPTIONAL }
const void* const kFields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo,
                               &INTEGER::theInfo, &Null::theInfo};
const int kIds[] = {-1, 0, 1, 0, 0};
const char* const kNames[] = {"m", "o1", "o2", "x1", "x2"};
const SequenceInfo kSeq = {{&SEQUENCE::create, 16}, true, kFields, kIds, 3, 2, 2,
                           nullptr, nullptr, kNames};

class ReadRecorder : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    Calls calls;

    bool do_visit(AbstractData const&) override { return add("data"); }
    bool preVisitExtensionRoots(SEQUENCE const&) override { return add("pre"); }
    bool visitExtensionRoot(SEQUENCE const&, int i) override { return add("root" + std::to_string(i)); }
    bool preVisitExtensions(SEQUENCE const&) override { return add("preExt"); }
    bool visitKnownExtension(SEQUENCE const&, int i) override { return add("ext" + std::to_string(i)); }
    bool afterVisitSequence(SEQUENCE const&) override { return add("after"); }

private:
    bool add(std::string const& what) { calls.push_back(what); return true; }
};

class FillRecorder : public Visitor {
public:
    Calls calls;
    int preCode = ContinueAll;

    bool do_visit(Null&) override { return add("Null"); }
    bool do_visit(BOOLEAN&) override { return add("BOOLEAN"); }
    bool do_visit(INTEGER&) override { return add("INTEGER"); }
    bool do_visit(ENUMERATED&) override { return add("ENUMERATED"); }
    bool do_visit(OBJECT_IDENTIFIER&) override { return add("OBJECT_IDENTIFIER"); }
    bool do_visit(OCTET_STRING&) override { return add("OCTET_STRING"); }
    bool do_visit(BIT_STRING&) override { return add("BIT_STRING"); }
    bool do_visit(AbstractString&) override { return add("AbstractString"); }
    bool do_visit(BMPString&) override { return add("BMPString"); }
    bool do_visit(CHOICE&) override { return add("CHOICE"); }
    bool do_visit(SEQUENCE_OF_Base&) override { return add("SEQUENCE_OF"); }
    bool do_visit(OpenData&) override { return add("OpenData"); }
    bool do_revisit(OpenData&) override { return add("revisit"); }
    bool do_visit(TypeConstrainedOpenData&) override { return add("TypeConstrainedOpenData"); }
    bool do_visit(GeneralizedTime&) override { return add("GeneralizedTime"); }

    int preVisitExtensionRoots(SEQUENCE&) override { add("pre"); return preCode; }
    int visitExtensionRoot(SEQUENCE&, int i, int bit) override
    {
        add("root" + std::to_string(i) + "/" + std::to_string(bit));
        return Continue;
    }
    int preVisitExtensions(SEQUENCE&) override { add("preExt"); return ContinueAll; }
    int visitKnownExtension(SEQUENCE&, int i, int bit) override
    {
        add("ext" + std::to_string(i) + "/" + std::to_string(bit));
        return ContinueAll;
    }
    bool visitUnknownExtensions(SEQUENCE&) override { return add("unknown"); }

private:
    bool add(std::string const& what) { calls.push_back(what); return true; }
};

TEST(VReadingWalk, SkipsAbsentOptionalFieldsAndVisitsPresentExtensions)
{
    SEQUENCE s(&kSeq);
    s.includeOptionalField(1, 2);  // o2 present, o1 absent
    ReadRecorder r;
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root2", "after"}), r.calls);

    s.includeOptionalField(3, 4);  // x2 present (extension bit 1)
    r.calls.clear();
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root2", "preExt", "ext4", "after"}), r.calls);
}

TEST(VFillingWalk, VisitsEveryFieldWithItsOptionalBit)
{
    SEQUENCE s(&kSeq);
    FillRecorder f;
    f.preCode = Visitor::Continue;  // roots only
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1"}), f.calls);

    f.calls.clear();
    f.preCode = Visitor::ContinueAll;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1", "preExt", "ext3/2", "ext4/3", "unknown"}), f.calls);
}

} // namespace
