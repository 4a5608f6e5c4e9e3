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
#include <utility>
#include <vector>

namespace {

// Reading an absent field or an alternative that is not selected gives a
// default value of the type instead of following a null or mistyped pointer
// (a peer's message may lack what a careless reader expects), and includes
// nothing; setting includes, omitting keeps the object for reuse.
TEST(MessageAccessors, OptionalFieldsAndAdditions)
{
    TERM::RtpParams p;
    EXPECT_FALSE(p.get_radio().request_isPresent());
    EXPECT_TRUE(p.get_dname().empty());
    EXPECT_FALSE(p.radio_isPresent());
    EXPECT_FALSE(p.pfactor_isPresent());
    EXPECT_EQ(nullptr, p.getField(5));
    p.set_pfactor(20);
    EXPECT_TRUE(p.pfactor_isPresent());
    ASN1::AbstractData const* object = p.getField(5);
    p.omit_pfactor();
    EXPECT_FALSE(p.pfactor_isPresent());
    EXPECT_EQ(object, p.getField(5));
    ASN1::INTEGER& again = p.set_pfactor();
    EXPECT_TRUE(p.pfactor_isPresent());
    EXPECT_EQ(object, &again);
    EXPECT_EQ(20, again.getValue());
    // Bits follow the OPTIONAL fields only: vad is the sixth OPTIONAL field.
    p.set_vad(true);
    EXPECT_TRUE(p.hasOptionalField(5));
    EXPECT_FALSE(p.hasOptionalField(4));

    // Additions use the bits after the OPTIONAL ones.
    TERM::TermParams t;
    EXPECT_FALSE(t.mute_isPresent());
    t.set_mute(true);
    EXPECT_TRUE(t.mute_isPresent() && t.get_mute());
    EXPECT_TRUE(t.hasOptionalField(6 + 9));    // six OPTIONAL root fields, tenth addition
    t.omit_mute();
    EXPECT_FALSE(t.mute_isPresent());

    LGCP::Message m;
    EXPECT_EQ(0, m.get_seq().getValue());
    EXPECT_EQ(0u, m.get_slot().getValue());
    EXPECT_FALSE(m.get_pdu().get_command().ping_isSelected());
    EXPECT_EQ(-1, m.get_pdu().get_signal().currentSelection());
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
    EXPECT_TRUE(s.get_userData().empty());   // not selected: a default value
    EXPECT_EQ(0u, s.get_trunkStatus().get_name().size());
    s.select_receiver().select_active(7);  // a getter reads what is held if it is of its type
    EXPECT_EQ(7, s.get_transmitter().get_active().getValue());
    EXPECT_EQ(0, s.get_abort().getValue());
    LGCP::MixerChannel channel;
    channel.select_rtp(9);
    EXPECT_EQ(9, channel.get_tdm().getValue());
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

// ref_ gives the held value itself, to change in place; a CHOICE holding
// another alternative selects a new default value of this one first.
TEST(MessageAccessors, ReferencesToTheHeldValue)
{
    static_assert(std::is_same<decltype(std::declval<MON::Command&>().ref_snmp_set()), MON::SnmpSetCommands&>::value,
                  "ref_snmp_set");
    static_assert(std::is_same<decltype(std::declval<MON::SnmpSetCommands&>().ref_commands()),
                               ASN1::SEQUENCE_OF<MON::SnmpSetCommand, ASN1::EmptyConstraint>&>::value,
                  "ref_commands");
    MON::Command cmd;
    MON::SnmpSetCommands& held = cmd.select_snmp_set();
    EXPECT_EQ(&held, &cmd.ref_snmp_set());
    EXPECT_EQ(&held.get_commands(), &held.ref_commands());
    MON::SnmpSetCommand one;
    one.set_uniq(7);
    cmd.ref_snmp_set().ref_commands().push_back(one);
    ASSERT_EQ(1u, cmd.get_snmp_set().get_commands().size());
    EXPECT_EQ(7, cmd.get_snmp_set().get_commands()[0].get_uniq().getValue());

    cmd.select_ping();
    EXPECT_TRUE(cmd.ref_snmp_set().get_commands().empty());
    EXPECT_TRUE(cmd.snmp_set_isSelected());
    MON::Command none;
    none.ref_snmp_set();
    EXPECT_EQ(0, none.currentSelection());
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

} // namespace
