// Visitor dispatch and the two SEQUENCE walks.
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ASN1;

// S ::= SEQUENCE { m INTEGER, o1 BOOLEAN OPTIONAL, o2 INTEGER OPTIONAL, ...,
//                  x1 INTEGER OPTIONAL, x2 NULL OPTIONAL }
const void* const kFields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo,
                               &INTEGER::theInfo, &Null::theInfo};
const int kIds[] = {-1, 0, 1, 0, 0};
const char* const kNames[] = {"m", "o1", "o2", "x1", "x2"};
const SequenceInfo kSeq = {{&SEQUENCE::create, 16}, true, kFields, kIds, 3, 2, 2,
                           nullptr, nullptr, kNames};

// Records the SEQUENCE hooks of the reading walk.
class ReadRecorder : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    std::vector<std::string> calls;
    int failAtField = -1;

    bool do_visit(AbstractData const&) override { calls.push_back("data"); return true; }
    bool preVisitExtensionRoots(SEQUENCE const&) override { calls.push_back("pre"); return true; }
    bool visitExtensionRoot(SEQUENCE const&, int i) override
    {
        calls.push_back("root" + std::to_string(i));
        return i != failAtField;
    }
    bool preVisitExtensions(SEQUENCE const&) override { calls.push_back("preExt"); return true; }
    bool visitKnownExtension(SEQUENCE const&, int i) override
    {
        calls.push_back("ext" + std::to_string(i));
        return i != failAtField;
    }
    bool afterVisitSequence(SEQUENCE const&) override { calls.push_back("after"); return true; }
};

// Records the SEQUENCE hooks of the filling walk, answering preset codes.
class FillRecorder : public Visitor {
public:
    std::vector<std::string> calls;
    int preCode = ContinueAll, rootCode = Continue, preExtCode = ContinueAll, extCode = ContinueAll;
    int stopAtField = -1, stopCode = Stop;
    bool unknownResult = true;

    bool do_visit(Null&) override { return rec("Null"); }
    bool do_visit(BOOLEAN&) override { return rec("BOOLEAN"); }
    bool do_visit(INTEGER&) override { return rec("INTEGER"); }
    bool do_visit(ENUMERATED&) override { return rec("ENUMERATED"); }
    bool do_visit(OBJECT_IDENTIFIER&) override { return rec("OBJECT_IDENTIFIER"); }
    bool do_visit(OCTET_STRING&) override { return rec("OCTET_STRING"); }
    bool do_visit(BIT_STRING&) override { return rec("BIT_STRING"); }
    bool do_visit(AbstractString&) override { return rec("AbstractString"); }
    bool do_visit(BMPString&) override { return rec("BMPString"); }
    bool do_visit(CHOICE&) override { return rec("CHOICE"); }
    bool do_visit(SEQUENCE_OF_Base&) override { return rec("SEQUENCE_OF"); }
    bool do_visit(OpenData&) override { return rec("OpenData"); }
    bool do_revisit(OpenData&) override { return rec("revisit"); }
    bool do_visit(TypeConstrainedOpenData&) override { return rec("TypeConstrainedOpenData"); }
    bool do_visit(GeneralizedTime&) override { return rec("GeneralizedTime"); }

    int preVisitExtensionRoots(SEQUENCE&) override { calls.push_back("pre"); return preCode; }
    int visitExtensionRoot(SEQUENCE&, int i, int bit) override
    {
        calls.push_back("root" + std::to_string(i) + "/" + std::to_string(bit));
        return i == stopAtField ? stopCode : rootCode;
    }
    int preVisitExtensions(SEQUENCE&) override { calls.push_back("preExt"); return preExtCode; }
    int visitKnownExtension(SEQUENCE&, int i, int bit) override
    {
        calls.push_back("ext" + std::to_string(i) + "/" + std::to_string(bit));
        return i == stopAtField ? stopCode : extCode;
    }
    bool visitUnknownExtensions(SEQUENCE&) override { calls.push_back("unknown"); return unknownResult; }

private:
    bool rec(char const* what) { calls.push_back(what); return true; }
};

using Calls = std::vector<std::string>;

TEST(VReadingWalk, SkipsAbsentOptionalFields)
{
    SEQUENCE s(&kSeq);
    s.includeOptionalField(1, 2);  // o2 present, o1 absent
    ReadRecorder r;
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root2", "after"}), r.calls);
}

TEST(VReadingWalk, VisitsPresentKnownExtensions)
{
    SEQUENCE s(&kSeq);
    s.includeOptionalField(3, 4);  // x2 present (extension bit 1)
    ReadRecorder r;
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "preExt", "ext4", "after"}), r.calls);

    // Bits exist but none is set: no extension calls at all.
    s.removeOptionalField(3);
    r.calls.clear();
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "after"}), r.calls);

    // Bits beyond the known additions are not visited.
    s.getExtensionMap().resize(5);
    s.getExtensionMap().set(4);
    r.calls.clear();
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "preExt", "after"}), r.calls);
}

TEST(VFillingWalk, VisitsEveryRootFieldWithItsOptionalBit)
{
    SEQUENCE s(&kSeq);
    FillRecorder f;
    f.preCode = Visitor::Continue;  // roots only
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1"}), f.calls);
}

TEST(VFillingWalk, ExtensionPart)
{
    SEQUENCE s(&kSeq);
    FillRecorder f;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1", "preExt", "ext3/2", "ext4/3", "unknown"}),
              f.calls);

    f.calls.clear();
    f.unknownResult = false;
    EXPECT_FALSE(s.accept(f));

    f.calls.clear();
    f.unknownResult = true;
    f.preExtCode = Visitor::Continue;  // anything but 3 ends, 0 only with failure
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1", "preExt"}), f.calls);
    f.preExtCode = Visitor::Fail;
    EXPECT_FALSE(s.accept(f));

    f.calls.clear();
    f.preExtCode = Visitor::ContinueAll;
    f.stopAtField = 3;
    f.stopCode = Visitor::Continue;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ("ext3/2", f.calls.back());
    f.stopCode = Visitor::Fail;
    EXPECT_FALSE(s.accept(f));
}

} // namespace
