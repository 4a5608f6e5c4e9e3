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
const SequenceInfo kEmpty = {{&SEQUENCE::create, 16}, true, nullptr, nullptr, 0, 0, 0,
                             nullptr, nullptr, nullptr};

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

TEST(VReadingWalk, FailureEndsTheWalk)
{
    SEQUENCE s(&kSeq);
    s.includeOptionalField(0, 1);
    s.includeOptionalField(2, 3);
    ReadRecorder r;
    r.failAtField = 1;
    EXPECT_FALSE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root1"}), r.calls);

    r.calls.clear();
    r.failAtField = 3;
    EXPECT_FALSE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root1", "preExt", "ext3"}), r.calls);
}

TEST(VReadingWalk, EmptySequence)
{
    SEQUENCE s(&kEmpty);
    ReadRecorder r;
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "after"}), r.calls);
}

TEST(VReadingWalk, DefaultsOfAVisitorThatOnlyOverridesAbstractData)
{
    class OnlyData : public ConstVisitor {
    public:
        using ConstVisitor::do_visit;
        int seen = 0;
        bool do_visit(AbstractData const&) override { ++seen; return true; }
    } v;
    EXPECT_TRUE(INTEGER(1, &INTEGER::theInfo).accept(v));
    EXPECT_TRUE(IA5String("x").accept(v));
    EXPECT_TRUE(Null().accept(v));
    EXPECT_TRUE(SEQUENCE(&kEmpty).accept(v));  // preVisitExtensionRoots -> AbstractData
    EXPECT_EQ(4, v.seen);
    EXPECT_FALSE(SEQUENCE(&kSeq).accept(v));  // the first present root field fails
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

TEST(VFillingWalk, CodesEndTheWalk)
{
    SEQUENCE s(&kSeq);
    FillRecorder f;
    f.preCode = Visitor::Fail;
    EXPECT_FALSE(s.accept(f));
    EXPECT_EQ((Calls{"pre"}), f.calls);

    f.calls.clear();
    f.preCode = Visitor::Stop;
    EXPECT_TRUE(s.accept(f));
    f.preCode = -4;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "pre"}), f.calls);

    f.calls.clear();
    f.preCode = Visitor::ContinueAll;
    f.stopAtField = 1;
    f.stopCode = Visitor::Stop;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0"}), f.calls);
    f.stopCode = Visitor::Fail;
    EXPECT_FALSE(s.accept(f));
}

TEST(VFillingWalk, EmptySequence)
{
    SEQUENCE s(&kEmpty);
    FillRecorder f;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "preExt", "unknown"}), f.calls);
    f.calls.clear();
    f.preCode = Visitor::Continue;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre"}), f.calls);
}

TEST(VFillingWalk, DefaultHooksFailOnTheFirstRootField)
{
    class NoHooks : public FillRecorder {
    public:
        int preVisitExtensionRoots(SEQUENCE& s) override { return Visitor::preVisitExtensionRoots(s); }
        int visitExtensionRoot(SEQUENCE& s, int i, int b) override
        {
            calls.push_back("root");
            return Visitor::visitExtensionRoot(s, i, b);
        }
    } v;
    SEQUENCE s(&kSeq);
    EXPECT_FALSE(s.accept(v));
    EXPECT_EQ((Calls{"root"}), v.calls);
}

// Names the ConstVisitor slot each value reaches.
class SlotNamer : public ConstVisitor {
public:
    std::string last;
    bool do_visit(AbstractData const&) override { last = "AbstractData"; return true; }
    bool do_visit(Null const&) override { last = "Null"; return true; }
    bool do_visit(BOOLEAN const&) override { last = "BOOLEAN"; return true; }
    bool do_visit(INTEGER const&) override { last = "INTEGER"; return true; }
    bool do_visit(ENUMERATED const&) override { last = "ENUMERATED"; return true; }
    bool do_visit(OBJECT_IDENTIFIER const&) override { last = "OBJECT_IDENTIFIER"; return true; }
    bool do_visit(BIT_STRING const&) override { last = "BIT_STRING"; return true; }
    bool do_visit(OCTET_STRING const&) override { last = "OCTET_STRING"; return true; }
    bool do_visit(AbstractString const&) override { last = "AbstractString"; return true; }
    bool do_visit(BMPString const&) override { last = "BMPString"; return true; }
    bool do_visit(CHOICE const&) override { last = "CHOICE"; return true; }
    bool do_visit(OpenData const&) override { last = "OpenData"; return true; }
    bool do_visit(GeneralizedTime const&) override { last = "GeneralizedTime"; return false; }
    bool do_visit(SEQUENCE_OF_Base const&) override { last = "SEQUENCE_OF"; return true; }
};

TEST(VDispatch, EveryClassReachesItsSlot)
{
    const char* const enumNames[] = {"a", nullptr};
    const EnumeratedInfo enumInfo = {{&ENUMERATED::create, 10}, false, 0, enumNames};
    const NamedNumberEntry named[] = {{1, "one"}};
    const NamedIntegerInfo namedInfo = {{{&IntegerWithNamedNumber::create, 2}, {Unconstrained, 0, 0xFFFFFFFFu}},
                                        named, 1};
    const TypeConstrainedOpenInfo openInfo = {{&TypeConstrainedOpenData::create, 0}, &Null::theInfo};
    const void* const altInfos[] = {&Null::theInfo};
    const char* const altNames[] = {"n"};
    const ChoiceInfo choiceInfo = {{&CHOICE::create, 0}, false, altInfos, 1, 1, nullptr, altNames};

    struct Case { std::unique_ptr<AbstractData> value; const char* constSlot; const char* fillSlot; };
    Case cases[] = {
        {std::unique_ptr<AbstractData>(new Null()), "Null", "Null"},
        {std::unique_ptr<AbstractData>(new BOOLEAN(&BOOLEAN::theInfo)), "BOOLEAN", "BOOLEAN"},
        {std::unique_ptr<AbstractData>(new INTEGER(&INTEGER::theInfo)), "INTEGER", "INTEGER"},
        {std::unique_ptr<AbstractData>(AbstractData::create(&namedInfo)), "INTEGER", "INTEGER"},
        {std::unique_ptr<AbstractData>(new ENUMERATED(&enumInfo)), "ENUMERATED", "ENUMERATED"},
        {std::unique_ptr<AbstractData>(new OBJECT_IDENTIFIER(&OBJECT_IDENTIFIER::theInfo)), "OBJECT_IDENTIFIER", "OBJECT_IDENTIFIER"},
        {std::unique_ptr<AbstractData>(new BIT_STRING(&BIT_STRING::theInfo)), "BIT_STRING", "BIT_STRING"},
        {std::unique_ptr<AbstractData>(new OCTET_STRING()), "OCTET_STRING", "OCTET_STRING"},
        {std::unique_ptr<AbstractData>(new IA5String("a")), "AbstractString", "AbstractString"},
        {std::unique_ptr<AbstractData>(new BMPString()), "BMPString", "BMPString"},
        {std::unique_ptr<AbstractData>(new CHOICE(&choiceInfo)), "CHOICE", "CHOICE"},
        {std::unique_ptr<AbstractData>(new OpenData(nullptr, &OpenData::theInfo)), "OpenData", "OpenData"},
        {std::unique_ptr<AbstractData>(AbstractData::create(&openInfo)), "OpenData", "TypeConstrainedOpenData"},
        {std::unique_ptr<AbstractData>(new GeneralizedTime()), "GeneralizedTime", "GeneralizedTime"},
        {std::unique_ptr<AbstractData>(new SEQUENCE_OF<INTEGER>()), "SEQUENCE_OF", "SEQUENCE_OF"},
    };
    for (auto& c : cases) {
        SlotNamer reader;
        bool result = static_cast<AbstractData const&>(*c.value).accept(reader);
        EXPECT_EQ(c.constSlot, reader.last);
        EXPECT_EQ(reader.last != "GeneralizedTime", result);  // the slot's answer comes back
        FillRecorder filler;
        EXPECT_TRUE(c.value->accept(filler));
        ASSERT_EQ(1u, filler.calls.size());
        EXPECT_EQ(c.fillSlot, filler.calls[0]);
    }
    FillRecorder f;
    OpenData open(nullptr, &OpenData::theInfo);
    EXPECT_TRUE(f.revisit(open));
    EXPECT_EQ((Calls{"revisit"}), f.calls);
    EXPECT_EQ(nullptr, f.get_env());
}

} // namespace
