// The generated description tables as a whole: every module is built with
// the number of types its definition has, every description makes values
// of its own type, and the shared SEQUENCE OF descriptions are complete
// before the program runs.
#include "messages/catalog.h"

#include "messages/BASE.h"
#include "messages/HSP.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Messages::TypeEntry;

std::vector<std::string> names(char const* const* table)
{
    std::vector<std::string> out;
    for (; *table; ++table) {
        out.push_back(*table);
    }
    return out;
}

TEST(MessageCatalog, EveryModuleIsBuiltWithItsTypeCount)
{
    // Left-out modules are listed first so that a module whose text stopped
    // parsing is named in the failure.
    EXPECT_EQ(std::vector<std::string>(), names(Messages::catalogSkipped));

    std::map<std::string, unsigned> const expected = {
        {"ACP", 42}, {"BASE", 2}, {"CCP", 2}, {"HSP", 21}, {"LGCP", 91},
        {"MEDIA", 11}, {"MON", 19}, {"TERM", 112}, {"VORKGW", 132}};
    std::map<std::string, unsigned> built;
    unsigned total = 0;
    for (Messages::ModuleEntry const* m = Messages::catalogModules; m->name; ++m) {
        built[m->name] = m->count;
        total += m->count;
    }
    EXPECT_EQ(expected, built);
    EXPECT_EQ(432u, total);
}

TEST(MessageCatalog, EveryDescriptionMakesValuesOfItsOwnClass)
{
    for (Messages::ModuleEntry const* m = Messages::catalogModules; m->name; ++m) {
        for (unsigned i = 0; i < m->count; ++i) {
            TypeEntry const& t = m->types[i];
            SCOPED_TRACE(std::string(t.module) + "::" + t.name);
            std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(t.info));
            ASSERT_TRUE(v);
            EXPECT_EQ(t.info, v->info());
            switch (t.kind) {
            case Messages::SequenceKind:
                EXPECT_TRUE(dynamic_cast<ASN1::SEQUENCE*>(v.get()));
                EXPECT_EQ(16u, v->getTag());
                break;
            case Messages::ChoiceKind:
                ASSERT_TRUE(dynamic_cast<ASN1::CHOICE*>(v.get()));
                EXPECT_EQ(-1, static_cast<ASN1::CHOICE&>(*v).currentSelection());
                EXPECT_EQ(0u, v->getTag());
                break;
            case Messages::EnumeratedKind:
                EXPECT_TRUE(dynamic_cast<ASN1::ENUMERATED*>(v.get()));
                EXPECT_EQ(10u, v->getTag());
                break;
            }
            std::unique_ptr<ASN1::AbstractData> copy(v->clone());
            EXPECT_EQ(t.info, copy->info());
            EXPECT_TRUE(*copy == *v);
        }
    }
}

TEST(MessageCatalog, FindsTypesByModuleAndName)
{
    TypeEntry const* t = Messages::findType("LGCP", "Message");
    ASSERT_TRUE(t);
    EXPECT_EQ(static_cast<void const*>(&LGCP::Message::theInfo), t->info);
    EXPECT_TRUE(Messages::findType("TERM", "ISDN_NumberType_screeningInd"));
    EXPECT_FALSE(Messages::findType("LGCP", "NoSuchType"));
    EXPECT_FALSE(Messages::findType("NOSUCH", "Message"));
}

// Decoding builds list elements from these descriptions: each must be
// complete (create function, tag, element description) before main runs.
TEST(MessageCatalog, SequenceOfDescriptionsAreCompleteBeforeMain)
{
    unsigned count = 0;
    unsigned sets = 0;
    for (void const* const* p = Messages::catalogSequenceOfs; *p; ++p, ++count) {
        auto const* info = static_cast<ASN1::SequenceOfInfo const*>(*p);
        ASSERT_TRUE(info->base.header.create);
        ASSERT_TRUE(info->elementInfo);
        EXPECT_EQ(ASN1::Unconstrained, info->base.constraint.type);
        if (info->base.header.tag == 17) {
            ++sets;
        } else {
            EXPECT_EQ(16u, info->base.header.tag);
        }
        std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(*p));
        auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(v.get());
        ASSERT_TRUE(list);
        EXPECT_TRUE(list->empty());
        EXPECT_EQ(*p, list->info());
        std::unique_ptr<ASN1::AbstractData> element(list->createElement());
        ASSERT_TRUE(element);
        EXPECT_EQ(info->elementInfo, element->info());
    }
    EXPECT_EQ(31u, count);
    EXPECT_EQ(1u, sets);    // the set of tone masks
}

TEST(MessageCatalog, MessageTablesFollowTheFieldNumbering)
{
    ASN1::SequenceInfo const& m = LGCP::Message::theInfo;
    EXPECT_FALSE(m.extensible);
    EXPECT_EQ(3u, m.rootCount);
    EXPECT_EQ(0u, m.extensionCount);
    EXPECT_EQ(2u, m.optionalCount);
    EXPECT_EQ(0, m.fieldIds[0]);
    EXPECT_EQ(1, m.fieldIds[1]);
    EXPECT_EQ(-1, m.fieldIds[2]);
    EXPECT_STREQ("slot", m.fieldNames[1]);
    EXPECT_EQ(static_cast<void const*>(&LGCP::PDU::theInfo), m.fieldInfos[2]);
    auto const* slot = static_cast<ASN1::ConstrainedInfo const*>(m.fieldInfos[1]);
    EXPECT_EQ(ASN1::FixedConstraint, slot->constraint.type);
    EXPECT_EQ(0, slot->constraint.lower);
    EXPECT_EQ(1023u, slot->constraint.upper);

    ASN1::ChoiceInfo const& tonec = LGCP::TonecCode::theInfo;
    EXPECT_TRUE(tonec.extensible);
    EXPECT_EQ(4u, tonec.rootCount);
    EXPECT_EQ(5u, tonec.knownCount);
    EXPECT_STREQ("dtmfDone", tonec.selectionNames[4]);

    ASN1::EnumeratedInfo const& cause = LGCP::ErrorCause::theInfo;
    EXPECT_TRUE(cause.extensible);
    EXPECT_EQ(12, cause.maximum);
    EXPECT_STREQ("invalidParams", cause.names[0]);
    EXPECT_STREQ("destroyInProgress", cause.names[12]);
    EXPECT_EQ(nullptr, cause.names[13]);
}

TEST(MessageCatalog, ExtensionAdditionsFollowTheRootFields)
{
    ASN1::SequenceInfo const& p = TERM::TermParams::theInfo;
    EXPECT_TRUE(p.extensible);
    EXPECT_EQ(6u, p.rootCount);
    EXPECT_EQ(10u, p.extensionCount);
    EXPECT_EQ(6u, p.optionalCount);
    EXPECT_STREQ("traceLevel", p.fieldNames[6]);
    EXPECT_STREQ("mute", p.fieldNames[15]);
}

// Printable names keep the hyphens (and the few underscores) as written;
// only the identifiers change.
TEST(MessageCatalog, PrintableNamesKeepTheirSpelling)
{
    EXPECT_STREQ("rtp-e2m", TERM::RtpParams::fieldNames[10]);
    EXPECT_STREQ("spi-tdm", LGCP::CreateParams::selectionNames[16]);
    EXPECT_STREQ("trunk_bri", LGCP::CreateParams::selectionNames[8]);
    EXPECT_STREQ("receiver_state", HSP::RadioChannelCommandRadioStateExt::fieldNames[1]);
    // The identifiers made from them:
    TERM::RtpParams p;
    EXPECT_FALSE(p.rtp_e2m_isPresent());
    LGCP::CreateParams c;
    c.select_spi_tdm();
    EXPECT_TRUE(c.spi_tdm_isSelected());
    EXPECT_FALSE(c.trunk_bri_isSelected());
}

// Enumerations with explicit numbers: the names table carries a number
// wherever counting on from the entry before would give another one.
TEST(MessageCatalog, EnumerationNameTablesCarryTheirNumbers)
{
    EXPECT_EQ((std::vector<std::string>{"initial", "learn", "listen", "speak=4", "standby=8", "active=16"}),
              names(HSP::StandbyState::theInfo.names));
    EXPECT_EQ(16, HSP::StandbyState::theInfo.maximum);
    EXPECT_EQ((std::vector<std::string>{"not-use=-1", "active", "standby"}),
              names(TERM::RadioStandby::theInfo.names));
    EXPECT_EQ(1, TERM::RadioStandby::theInfo.maximum);
    EXPECT_FALSE(TERM::RadioStandby::theInfo.extensible);
    EXPECT_EQ((std::vector<std::string>{"neither", "input", "output", "both"}),
              names(BASE::Stream::theInfo.names));
}

TEST(MessageCatalog, DnameHasItsOwnSizedIa5Description)
{
    ASN1::StringInfo const& s = TERM::RtpParams::dname::value_type::theInfo;
    EXPECT_EQ(static_cast<void const*>(&s), TERM::RtpParams::fieldInfos[3]);
    EXPECT_EQ(22u, s.base.header.tag);
    EXPECT_EQ(ASN1::FixedConstraint, s.base.constraint.type);
    EXPECT_EQ(1, s.base.constraint.lower);
    EXPECT_EQ(64u, s.base.constraint.upper);
    EXPECT_EQ(ASN1::IA5StringSet, s.charSet);
    EXPECT_EQ(128u, s.charSetSize);
    EXPECT_EQ(7u, s.canonicalBits);
    EXPECT_EQ(7u, s.unalignedBits);
    EXPECT_EQ(8u, s.alignedBits);

    TERM::RtpParams p;
    p.set_dname("gw-1");
    EXPECT_EQ(static_cast<void const*>(&s), p.get_dname().info());
    EXPECT_EQ(-1, p.get_dname().find_first_invalid());
}

} // namespace
