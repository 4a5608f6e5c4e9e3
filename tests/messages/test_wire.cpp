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

// Worked octets of the control and agent links, the radio-link fields and
// the limits of the constrained ones: each value encodes to its octets
// ("fail": refused, writing nothing) and the octets decode to the same value.
TEST(MessageWire, ValuesToOctetsAndBack)
{
    using Ptr = std::shared_ptr<ASN1::AbstractData>;
    auto lgcp = [](int seq, int slot, std::function<void(LGCP::PDU&)> pdu) {
        auto m = std::make_shared<LGCP::Message>();
        if (seq >= 0)
            m->set_seq(seq);
        if (slot >= 0)
            m->set_slot(static_cast<unsigned>(slot));
        if (pdu)
            pdu(m->set_pdu());
        return Ptr(m);
    };
    auto destroy = [](LGCP::PDU& p) { p.select_command().select_destroy(); };
    auto agentPing = std::make_shared<MON::Message>();
    agentPing->set_pdu().select_command(MON::Command(MON::Command::ping::Id(), ASN1::Null()));
    auto rtp = [](std::string const& dname) {
        auto p = std::make_shared<TERM::RtpParams>();
        p->set_dhost().set_iaddr("10.1.1.1");
        p->set_dname(dname);
        return Ptr(p);
    };
    auto address = std::make_shared<HSP::HspInfoAddress>();
    address->set_host_id(0xFFFFFFFFu);
    address->set_service_id(0u);
    address->set_packet_id(0x80000000u);
    using Gain = VORKGW::ProtoVorkAnalogGainIDV1;
    struct Row {
        Ptr value;
        char const* octets;
    } const rows[] = {
        {lgcp(1, -1, [](LGCP::PDU& p) { p.select_command().select_ping(); }), "80010118"},
        {lgcp(1, -1, [](LGCP::PDU& p) { p.select_response().select_success(); }), "80010140"},
        {lgcp(1, -1, [](LGCP::PDU& p) { p.select_response().select_error(LGCP::ErrorCause::unexpectedMsgType); }),
         "80010164"},
        {lgcp(-1, 1023, destroy), "4003ff0a"},   // bits 01, slot 03 ff, command 0 0101 (destroy)
        {lgcp(-1, -1, destroy), "0280"},         // bits 00 (no seq, no slot), then 00 00101
        {lgcp(3, -1, nullptr), "fail"},          // no selection
        {agentPing, "18"},
        {std::make_shared<MON::Message>(), "fail"},
        // Extension bit, then for each field a 2-bit octet count and the octets.
        {address, "60ffffffff0000c080000000"},
        {rtp("x"), nullptr},
        {rtp(std::string(64, 'x')), nullptr},
        {rtp(""), "fail"},                       // dname is 1 to 64 long
        {rtp(std::string(65, 'x')), "fail"},
        // An enumeration travels by its number in 0..maximum, which leaves no
        // coding for not-use (-1): refused rather than sent as a wrong value.
        {std::make_shared<TERM::RadioStandby>(TERM::RadioStandby::not_use), "fail"},
        {std::make_shared<TERM::RadioStandby>(TERM::RadioStandby::standby), "80"},
        {std::make_shared<TERM::RadioStandby>(TERM::RadioStandby::active), "00"},  // one zero bit, padded
        {std::make_shared<HSP::StandbyState>(HSP::StandbyState::standby), "20"},  // ext. bit 0, 8 in 5 bits
        // Extension bit, then 4098 aligned in 16 bits.
        {std::make_shared<VORKGW::ProtoVorkMsgID>(VORKGW::ProtoVorkMsgID::gw_keep_alive), "001002"},
        {std::make_shared<VORKGW::ProtoVorkPacketP1ClientCommand>(
             VORKGW::ProtoVorkPacketP1ClientCommand::p1_cln_load_commit_force),
         "001007"},
        {std::make_shared<Gain>(Gain::fake), "00ff"},
        {std::make_shared<Gain>(Gain::min), nullptr},
    };
    for (Row const& row : rows) {
        std::vector<char> out;
        bool const ok = perEncode(*row.value, out);
        EXPECT_TRUE(ok || out.empty());
        if (!row.octets) {
            EXPECT_TRUE(ok) << *row.value;
            continue;
        }
        EXPECT_EQ(row.octets, ok ? hex(out) : "fail") << *row.value;
        std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(row.value->info()));
        EXPECT_TRUE(!ok || (perDecode(unhex(row.octets), *back) && *back == *row.value)) << row.octets;
    }
    // Two names of one number travel alike.
    EXPECT_EQ(encoded(Gain(Gain::rtx1)), encoded(Gain(Gain::min)));

    MON::SnmpTrapsink sink;
    sink.set_host("10.0.0.1");
    EXPECT_EQ(0, unhex(encoded(sink))[0] & 0x40);   // extension bit, then port bit
    sink.set_port(162);
    EXPECT_EQ(0x40, unhex(encoded(sink))[0] & 0x40);
}

// A whole create command carries the domain name.
TEST(MessageWire, DnameRoundTripsInACreate)
{
    TERM::RtpParams p;
    p.set_dhost().set_iaddr("10.1.1.1");
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
        {per, "80 00 18", true, msg},                                   // seq without octets: 0
        {per, "C0 01 22 00 12 08 5E", true, msg},                       // mcc type 3: read, then judged
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
    for (char const* text : {"sd-rx TRUE", "01 02 03 04", "\"a\"", "65535", "2147483647", "seq 0", "type 3"})
        EXPECT_NE(std::string::npos, seen.find(text)) << text << " not in " << seen;
}

} // namespace
