// Behaviour of the generated accessors: OPTIONAL fields, selections, tag
// constructors, enumerations and the element copies of lists.
#include "messages/HSP.h"
#include "messages/LGCP.h"
#include "messages/MON.h"
#include "messages/TERM.h"
#include "messages/VORKGW.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

TEST(MessageAccessors, FreshSequenceHasMandatoryFieldsOnly)
{
    LGCP::Message m;
    EXPECT_FALSE(m.seq_isPresent());
    EXPECT_FALSE(m.slot_isPresent());
    EXPECT_EQ(nullptr, m.getField(0));
    EXPECT_EQ(nullptr, m.getField(1));
    ASSERT_NE(nullptr, m.getField(2));
    EXPECT_EQ(-1, m.get_pdu().currentSelection());
}

TEST(MessageAccessors, OptionalFieldSetOmitAndReuse)
{
    TERM::RtpParams p;
    EXPECT_FALSE(p.pfactor_isPresent());
    EXPECT_EQ(nullptr, p.getField(5));

    p.set_pfactor(20);
    EXPECT_TRUE(p.pfactor_isPresent());
    EXPECT_EQ(20, p.get_pfactor().getValue());
    ASN1::AbstractData const* object = p.getField(5);

    p.omit_pfactor();
    EXPECT_FALSE(p.pfactor_isPresent());
    EXPECT_EQ(object, p.getField(5));   // the value object stays for reuse

    ASN1::INTEGER& again = p.set_pfactor();
    EXPECT_TRUE(p.pfactor_isPresent());
    EXPECT_EQ(object, &again);
    EXPECT_EQ(20, again.getValue());

    // Bits follow the OPTIONAL fields only: vad is the sixth OPTIONAL field.
    p.set_vad(true);
    EXPECT_TRUE(p.hasOptionalField(5));
    EXPECT_FALSE(p.hasOptionalField(4));
}

// Reading an absent field or an alternative that is not selected gives a
// default value of the type instead of following a null or mistyped pointer
// (a peer's message may lack what a careless reader expects).
TEST(MessageAccessors, ReadingWhatIsNotThereGivesDefaults)
{
    LGCP::Message m;
    EXPECT_EQ(0, m.get_seq().getValue());
    EXPECT_EQ(0u, m.get_slot().getValue());
    EXPECT_FALSE(m.get_pdu().get_command().ping_isSelected());
    EXPECT_EQ(-1, m.get_pdu().get_signal().currentSelection());

    LGCP::Signal s;
    s.select_abort(3);
    EXPECT_TRUE(s.get_userData().empty());
    EXPECT_EQ(0u, s.get_trunkStatus().get_name().size());
    EXPECT_EQ(3, s.get_abort().getValue());

    TERM::RtpParams p;
    EXPECT_FALSE(p.get_radio().request_isPresent());
    EXPECT_TRUE(p.get_dname().empty());
    EXPECT_FALSE(p.radio_isPresent());     // reading includes nothing
}

TEST(MessageAccessors, ConstrainedFieldsTakeUnsigned)
{
    LGCP::Message m;
    m.set_slot(1023u);
    EXPECT_EQ(1023u, m.get_slot().getValue());
    HSP::HspInfoAddress a;
    a.set_host_id(0xFFFFFFFFu);
    EXPECT_EQ(0xFFFFFFFFu, a.get_host_id().getValue());
    static_assert(std::is_same<decltype(a.get_host_id().getValue()), unsigned>::value,
                  "0..4294967295 fields read as unsigned");
}

TEST(MessageAccessors, NewChoiceHasNoSelection)
{
    LGCP::PDU pdu;
    EXPECT_EQ(-1, pdu.currentSelection());
    EXPECT_FALSE(pdu.command_isSelected());
    EXPECT_FALSE(pdu.response_isSelected());
    EXPECT_FALSE(pdu.signal_isSelected());
    EXPECT_EQ(nullptr, pdu.getSelection());
}

TEST(MessageAccessors, SecondSelectionReplacesTheFirst)
{
    LGCP::Signal s;
    s.select_userData(std::vector<char>{'a', 'b'});
    EXPECT_TRUE(s.userData_isSelected());
    s.select_abort(-7);     // frees the octet string (checked by the sanitizer)
    EXPECT_TRUE(s.abort_isSelected());
    EXPECT_FALSE(s.userData_isSelected());
    EXPECT_EQ(-7, s.get_abort().getValue());
    EXPECT_EQ(7, s.currentSelection());
}

TEST(MessageAccessors, TagConstructorEqualsSelection)
{
    LGCP::Signal byTag(LGCP::Signal::abort::Id(), 42);
    LGCP::Signal bySelect;
    bySelect.select_abort(42);
    EXPECT_TRUE(byTag == bySelect);
    EXPECT_EQ(7, LGCP::Signal::abort::Id::value);

    EXPECT_TRUE(LGCP::Signal(LGCP::Signal::number::Id(), std::string("123")).number_isSelected());
    EXPECT_EQ(std::string("123"),
              std::string(LGCP::Signal(LGCP::Signal::number::Id(), std::string("123")).get_number()));

    LGCP::Signal deact(LGCP::Signal::deactivated::Id(), LGCP::DeactivateCause::otherError);
    EXPECT_EQ(LGCP::DeactivateCause::otherError, LGCP::DeactivateCause::NamedNumber(deact.get_deactivated()));

    LGCP::Signal data(LGCP::Signal::userData::Id(), std::vector<char>{1, 2, 3});
    EXPECT_EQ(3u, data.get_userData().size());

    LGCP::Signal act{LGCP::Signal::activated::Id(), ASN1::Null()};
    EXPECT_TRUE(act.activated_isSelected());

    MON::Command ping{MON::Command::ping::Id(), ASN1::Null()};
    MON::Command selected;
    selected.select_ping();
    EXPECT_EQ(3, ping.currentSelection());
    EXPECT_TRUE(ping == selected);

    TERM::RtpRadioRequest req;
    req.set_request();
    LGCP::Signal ext(LGCP::Signal::rtpExt::Id(), req);
    EXPECT_TRUE(ext.get_rtpExt().request_isPresent());
}

TEST(MessageAccessors, CopiesAreDeep)
{
    LGCP::Message a;
    a.set_seq(5);
    a.set_pdu().select_command().select_ping();
    LGCP::Message b(a);
    b.set_seq(6);
    b.set_pdu().select_response().select_success();
    EXPECT_EQ(5, a.get_seq().getValue());
    EXPECT_TRUE(a.get_pdu().command_isSelected());
    EXPECT_TRUE(b.get_pdu().response_isSelected());
    EXPECT_FALSE(a == b);
    b = a;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(static_cast<void const*>(&LGCP::Message::theInfo), b.info());
}

TEST(MessageAccessors, EnumerationStoresAnyNumber)
{
    LGCP::ErrorCause e;
    EXPECT_EQ(LGCP::ErrorCause::invalidParams, LGCP::ErrorCause::NamedNumber(e));
    e = LGCP::ErrorCause::unexpectedMsgType;
    EXPECT_EQ(4, e.asInt());
    e = LGCP::ErrorCause::NamedNumber(40);     // out of the list: accepted as is
    EXPECT_EQ(40, e.asInt());
    EXPECT_EQ(nullptr, e.getName());
    LGCP::ErrorCause f(LGCP::ErrorCause::destroyInProgress);
    EXPECT_STREQ("destroyInProgress", f.getName());
}

TEST(MessageAccessors, EnumerationNamesAreFoundByNumber)
{
    HSP::StandbyState s(HSP::StandbyState::standby);
    EXPECT_STREQ("standby", s.getName());
    s = HSP::StandbyState::NamedNumber(3);       // inside 0..16 but unnamed
    EXPECT_EQ(nullptr, s.getName());
    TERM::RadioStandby r(TERM::RadioStandby::not_use);
    EXPECT_EQ(-1, r.asInt());
    EXPECT_STREQ("not-use", r.getName());
    VORKGW::ProtoVorkAnalogGainIDV1 g(VORKGW::ProtoVorkAnalogGainIDV1::fake);
    EXPECT_EQ(255, g.asInt());
    EXPECT_STREQ("fake", g.getName());
}

TEST(MessageAccessors, EnumerationHelpers)
{
    HSP::ControllerStatus c(HSP::ControllerStatus::notrun);
    c.set_unknown();
    EXPECT_EQ(0, c.asInt());

    LGCP::POWERStatus p;
    p.set_unknown();
    EXPECT_FALSE(p.is_main());
    p = LGCP::POWERStatus::both;
    EXPECT_TRUE(p.is_both());
    EXPECT_FALSE(p.is_standby());

    LGCP::IsdnLinkStatus l;
    l.set_congested();
    EXPECT_EQ(LGCP::IsdnLinkStatus::congested, LGCP::IsdnLinkStatus::NamedNumber(l));
    l.set_normal();
    EXPECT_EQ(0, l.asInt());

    VORKGW::ProtoVorkAddress a(VORKGW::ProtoVorkAddress::dli);
    EXPECT_TRUE(a.is_dli());
    EXPECT_FALSE(a.is_ali());
}

TEST(MessageAccessors, ListsHoldIndependentCopiesOfTheGeneratedType)
{
    MON::SnmpSetCommands cmds;
    MON::SnmpSetCommand c;
    c.set_uniq(1);
    c.set_id().select_name().set_section("trunks");
    c.set_value("up");
    cmds.set_commands().push_back(c);
    c.set_uniq(2);
    ASSERT_EQ(1u, cmds.get_commands().size());
    MON::SnmpSetCommand const& stored = cmds.get_commands()[0];
    EXPECT_EQ(1, stored.get_uniq().getValue());
    EXPECT_TRUE(dynamic_cast<MON::SnmpSetCommand const*>(&stored));
    EXPECT_EQ(std::string("trunks"), std::string(stored.get_id().get_name().get_section()));

    std::unique_ptr<MON::SnmpSetCommand> copy(c.clone());
    EXPECT_TRUE(*copy == c);

    // Elements made by the list itself are of the generated type too.
    VORKGW::ProtoVorkPackets packets;
    packets.set_packets().resize(2);
    EXPECT_TRUE(dynamic_cast<VORKGW::ProtoVorkPacket const*>(&packets.get_packets()[1]));
}

TEST(MessageAccessors, ExtensionAdditionsUseTheBitsAfterTheOptionalOnes)
{
    TERM::TermParams p;
    EXPECT_FALSE(p.mute_isPresent());
    p.set_mute(true);
    EXPECT_TRUE(p.mute_isPresent());
    EXPECT_TRUE(p.get_mute());
    EXPECT_TRUE(p.hasOptionalField(6 + 9));    // six OPTIONAL root fields, tenth addition
    p.omit_mute();
    EXPECT_FALSE(p.mute_isPresent());
}

} // namespace
