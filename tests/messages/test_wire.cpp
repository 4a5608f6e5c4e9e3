// The generated types on the wire: the worked byte examples of the control
// and agent protocols and of the radio-link packets, the limits of the
// constrained fields, and the values the runtime refuses to code.
#include "messages/HSP.h"
#include "messages/LGCP.h"
#include "messages/MON.h"
#include "messages/TERM.h"
#include "messages/VORKGW.h"

#include "asn1/notation/printer.h"

#include "messages/msg_wire.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using MsgTest::hex;
using MsgTest::perDecode;
using MsgTest::perEncode;
using MsgTest::unhex;

std::string encoded(ASN1::AbstractData const& v)
{
    std::vector<char> out;
    EXPECT_TRUE(perEncode(v, out));
    return hex(out);
}

bool encodes(ASN1::AbstractData const& v)
{
    std::vector<char> out;
    bool const ok = perEncode(v, out);
    EXPECT_TRUE(ok || out.empty());
    return ok;
}

std::string printed(ASN1::AbstractData const& v)
{
    std::ostringstream os;
    os << v;
    return os.str();
}

// First in the file on purpose: a list decoded before any other use of
// its description must find the description complete.
TEST(MessageWire, ListDecodedFirstThingCreatesItsElements)
{
    MON::Message m;
    ASSERT_TRUE(perDecode(unhex("00 01 00 01 01 40 01 61 01 62 01 00 01 63"), m));
    ASSERT_TRUE(m.get_pdu().command_isSelected());
    ASSERT_TRUE(m.get_pdu().get_command().snmp_set_isSelected());
    auto const& list = m.get_pdu().get_command().get_snmp_set().get_commands();
    ASSERT_EQ(1u, list.size());
    EXPECT_TRUE(dynamic_cast<MON::SnmpSetCommand const*>(&list[0]));
    EXPECT_EQ(1, list[0].get_uniq().getValue());
    EXPECT_EQ(std::string("a"), std::string(list[0].get_id().get_name().get_section()));
    EXPECT_EQ(std::string("c"), std::string(list[0].get_value()));
}

// Worked octets of the control and agent links: each value encodes to its
// octets, and the octets decode to the same value.
TEST(MessageWire, ControlAndAgentExamples)
{
    auto lgcp = [](int seq, int slot, std::function<void(LGCP::PDU&)> pdu) {
        auto m = std::make_shared<LGCP::Message>();
        if (seq >= 0)
            m->set_seq(seq);
        if (slot >= 0)
            m->set_slot(static_cast<unsigned>(slot));
        pdu(m->set_pdu());
        return std::shared_ptr<ASN1::AbstractData>(m);
    };
    auto destroy = [](LGCP::PDU& p) { p.select_command().select_destroy(); };
    auto agentPing = std::make_shared<MON::Message>();
    agentPing->set_pdu().select_command(MON::Command(MON::Command::ping::Id(), ASN1::Null()));
    struct Row {
        std::shared_ptr<ASN1::AbstractData> value;
        char const* octets;
    } const rows[] = {
        {lgcp(1, -1, [](LGCP::PDU& p) { p.select_command().select_ping(); }), "80010118"},
        {lgcp(1, -1, [](LGCP::PDU& p) { p.select_response().select_success(); }), "80010140"},
        {lgcp(1, -1, [](LGCP::PDU& p) { p.select_response().select_error(LGCP::ErrorCause::unexpectedMsgType); }),
         "80010164"},
        {lgcp(-1, 1023, destroy), "4003ff0a"},   // bits 01, slot 03 ff, command 0 0101 (destroy)
        {lgcp(-1, -1, destroy), "0280"},         // bits 00 (no seq, no slot), then 00 00101
        {agentPing, "18"},
    };
    for (Row const& row : rows) {
        EXPECT_EQ(row.octets, encoded(*row.value));
        std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(row.value->info()));
        ASSERT_TRUE(perDecode(unhex(row.octets), *back)) << row.octets;
        EXPECT_TRUE(*back == *row.value) << row.octets;
    }
}

TEST(MessageWire, TrapsinkWithoutPortLeavesItsBitClear)
{
    MON::SnmpTrapsink sink;
    sink.set_host("10.0.0.1");
    std::vector<char> out;
    ASSERT_TRUE(perEncode(sink, out));
    EXPECT_EQ(0, static_cast<unsigned char>(out[0]) & 0x40);   // extension bit, then port bit
    sink.set_port(162);
    ASSERT_TRUE(perEncode(sink, out));
    EXPECT_EQ(0x40, static_cast<unsigned char>(out[0]) & 0x40);
}

TEST(MessageWire, ChoiceWithoutSelectionDoesNotEncode)
{
    LGCP::Message m;
    m.set_seq(3);
    EXPECT_FALSE(encodes(m));
    MON::Message a;
    EXPECT_FALSE(encodes(a));
}

TEST(MessageWire, DnameLengthsOneToSixtyFour)
{
    TERM::RtpParams p;
    p.set_dhost().set_iaddr("10.1.1.1");
    p.set_dname(std::string(1, 'x'));
    EXPECT_TRUE(encodes(p));
    p.set_dname(std::string(64, 'x'));
    EXPECT_TRUE(encodes(p));
    p.set_dname(std::string());
    EXPECT_FALSE(encodes(p));
    p.set_dname(std::string(65, 'x'));
    EXPECT_FALSE(encodes(p));

    // Round trip through a whole create command.
    p.set_dname("gw-north");
    LGCP::Message m;
    m.set_seq(9);
    m.set_slot(12u);
    m.set_pdu().select_command().select_create().select_rtp().set_codecRTP(p);
    std::vector<char> out;
    ASSERT_TRUE(perEncode(m, out));
    LGCP::Message back;
    ASSERT_TRUE(perDecode(out, back));
    EXPECT_TRUE(back == m);
    TERM::RtpParams const& q = back.get_pdu().get_command().get_create().get_rtp().get_codecRTP();
    ASSERT_TRUE(q.dname_isPresent());
    EXPECT_EQ(std::string("gw-north"), std::string(q.get_dname()));
    EXPECT_EQ(static_cast<void const*>(&TERM::RtpParams::dname::value_type::theInfo), q.get_dname().info());
}

TEST(MessageWire, FullUnsignedRangeSurvives)
{
    HSP::HspInfoAddress a;
    a.set_host_id(0xFFFFFFFFu);
    a.set_service_id(0u);
    a.set_packet_id(0x80000000u);
    std::vector<char> out;
    ASSERT_TRUE(perEncode(a, out));
    // Extension bit, then for each field a 2-bit octet count and the octets.
    EXPECT_EQ("60ffffffff0000c080000000", hex(out));
    HSP::HspInfoAddress back;
    ASSERT_TRUE(perDecode(out, back));
    EXPECT_EQ(0xFFFFFFFFu, back.get_host_id().getValue());
    EXPECT_EQ(0u, back.get_service_id().getValue());
    EXPECT_EQ(0x80000000u, back.get_packet_id().getValue());
}

// The runtime codes an enumeration by its number in 0..maximum, which
// leaves no coding for not-use (-1): the encoding fails rather than send a
// wrong value.
TEST(MessageWire, RadioStandbyNotUseDoesNotEncode)
{
    TERM::RadioStandby s(TERM::RadioStandby::not_use);
    EXPECT_FALSE(encodes(s));
    s = TERM::RadioStandby::standby;
    EXPECT_EQ("80", encoded(s));
    s = TERM::RadioStandby::active;
    EXPECT_EQ("00", encoded(s));    // one zero bit, padded to an octet
}

TEST(MessageWire, GappyEnumerationsTravelByNumber)
{
    HSP::StandbyState s(HSP::StandbyState::standby);
    EXPECT_EQ("20", encoded(s));    // extension bit 0, 8 in 5 bits (0..16)
    VORKGW::ProtoVorkMsgID id(VORKGW::ProtoVorkMsgID::gw_keep_alive);
    EXPECT_EQ("001002", encoded(id));   // extension bit, then 4098 aligned in 16 bits
    VORKGW::ProtoVorkPacketP1ClientCommand cmd(VORKGW::ProtoVorkPacketP1ClientCommand::p1_cln_load_commit_force);
    EXPECT_EQ("001007", encoded(cmd));
    VORKGW::ProtoVorkAnalogGainIDV1 gain(VORKGW::ProtoVorkAnalogGainIDV1::fake);
    EXPECT_EQ("00ff", encoded(gain));
    gain = VORKGW::ProtoVorkAnalogGainIDV1::min;
    EXPECT_EQ(encoded(VORKGW::ProtoVorkAnalogGainIDV1(VORKGW::ProtoVorkAnalogGainIDV1::rtx1)), encoded(gain));
}

TEST(MessageWire, PrinterUsesNamesAndNumbers)
{
    HSP::StandbyState s(HSP::StandbyState::speak);
    EXPECT_NE(std::string::npos, printed(s).find("speak"));
    s = HSP::StandbyState::NamedNumber(3);
    EXPECT_EQ(std::string::npos, printed(s).find("speak"));
    EXPECT_NE(std::string::npos, printed(s).find("3"));

    LGCP::ErrorCause e;
    e = LGCP::ErrorCause::NamedNumber(40);
    EXPECT_NE(std::string::npos, printed(e).find("40"));

    TERM::RtpParams p;
    p.set_rtp_e2m().set_slot(1);
    std::string text = printed(p);
    EXPECT_NE(std::string::npos, text.find("rtp-e2m"));
    EXPECT_EQ(std::string::npos, text.find("rtp_e2m"));
}

// Octets a decoder must refuse rather than read as another value, next to
// the well-formed octets of the same values.
TEST(MessageWire, MalformedOctetsAreRefusedNeverMisread)
{
    struct Row {
        ASN1::CoderEnv::EncodingRules rule;
        char const* octets;
        bool decodes;
        std::function<ASN1::AbstractData*()> make;
    };
    auto sd = [] { return new LGCP::SDEvent; };
    auto hdlc = [] { return new LGCP::HdlcPackage; };
    auto host = [] { return new TERM::HostAddress; };
    auto msg = [] { return new LGCP::Message; };
    auto const ber = ASN1::CoderEnv::ber;
    auto const per = ASN1::CoderEnv::per;
    Row const rows[] = {
        {ber, "30 80 80 01 FF 00 00", false, sd},                       // indefinite length
        {ber, "30 03 80 01 FF", true, sd},
        {ber, "30 03 80 02 FF", false, sd},                             // field runs past the SEQUENCE
        {ber, "30 04 80 02 00 FF", false, sd},                          // BOOLEAN of two octets
        {ber, "30 03 85 01 FF", false, sd},                             // not a field of it
        {ber, "30 0A A0 08 04 02 01 02 04 02 03 04", false, hdlc},      // constructed OCTET STRING
        {ber, "30 06 80 04 01 02 03 04", true, hdlc},
        {ber, "20 06 80 04 01 02 03 04", false, hdlc},                  // primitive SEQUENCE
        {ber, "30 0A A0 03 16 01 61 81 03 00 FF FF", false, host},      // constructed IA5String
        {ber, "30 08 80 01 61 81 03 00 FF FF", true, host},
        {ber, "30 06 80 01 61 81 01 FF", false, host},                  // negative port
        {ber, "30 08 80 01 61 81 03 01 00 00", true, host},             // 65536: read, then judged
        {per, "80 01 01 78 04 C0 00 00 01 C0 C0 00 00 00", false, msg}, // error cause 2^31 + 1
        {per, "80 01 01 78 04 C0 00 00 01 C0 80 00 00 00", false, msg}, // error cause 2^31
        {per, "80 01 01 78 04 C0 00 00 01 C0 7F FF FF FF", true, msg},  // error cause 2^31 - 1
    };
    std::string seen;
    for (Row const& row : rows) {
        std::unique_ptr<ASN1::AbstractData> v(row.make());
        std::vector<char> const in = unhex(row.octets);
        ASN1::CoderEnv env;
        env.set_encodingRule(row.rule);
        bool const decoded = ASN1::decode(in.data(), in.data() + in.size(), &env, *v, true);
        EXPECT_EQ(row.decodes, decoded) << row.octets << " as " << printed(*v);
        if (decoded)
            seen += printed(*v);
    }
    // The well-formed ones carry their values.
    for (char const* text : {"sd-rx TRUE", "01 02 03 04", "\"a\"", "65535", "2147483647"})
        EXPECT_NE(std::string::npos, seen.find(text)) << text << " not in " << seen;
}

} // namespace
