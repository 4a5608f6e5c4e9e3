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
    for (; *table; ++table)
        out.push_back(*table);
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

} // namespace
