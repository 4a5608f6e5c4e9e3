// Cross-check of the generated modules against Erlang/OTP's asn1 compiler
// (aligned PER) on the exported wire-equivalent schema, in both
// directions: random values made by Erlang decode in our runtime and
// encode again to the same octets, and random values made here are
// decoded by Erlang and encoded again to the same octets.
#include "messages/ACP.h"
#include "messages/CCP.h"
#include "messages/LGCP.h"
#include "messages/MEDIA.h"
#include "messages/MON.h"
#include "messages/TERM.h"

#include "asn1/erlang_peer.h"
#include "messages/msg_wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using MsgTest::hex;
using MsgTest::perDecode;
using MsgTest::perEncode;
using MsgTest::unhex;

unsigned const kValues = 2000;
using Erlang::exists;
using Erlang::lines;
using Erlang::run;

class ErlangPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!Erlang::installed())
            return;
        // The build compiles the export when erlc is installed; without that
        // (a build of single targets) compile it here.
        std::string const built = std::string(TSD_BINARY_DIR) + "/generated/messages/erlang";
        if (exists(built + "/LGCP.beam") && exists(built + "/MON.beam") && exists(built + "/CCP.beam")) {
            beams_ = built;
            return;
        }
        std::string const gen = dir_.path() + "/gen";
        compileLog_ = run("python3 '" + std::string(TSD_SOURCE_DIR) + "/messages/gen/tsd_asngen.py' --out '" + gen +
                          "' --erlang '" + gen + "/erlang' --erlc erlc '" + TSD_SOURCE_DIR +
                          "'/messages/asn/*.asn 2>&1");
        if (exists(gen + "/erlang/LGCP.beam") && exists(gen + "/erlang/MON.beam"))
            beams_ = gen + "/erlang";
    }

    void SetUp() override
    {
        ASSERT_TRUE(Erlang::installed()) << Erlang::kNotInstalled;
        ASSERT_FALSE(beams_.empty()) << "the Erlang export did not compile:\n" << compileLog_;
    }

    static std::string escript(std::string const& module)
    {
        return "escript '" + std::string(TSD_SOURCE_DIR) + "/tests/messages/erlang/msg_peer.escript' '" + beams_ +
               "' " + module + " ";
    }

    // Hex encodings of Erlang's random values of Module.Type (one escript
    // run). They are made from the root-only variant where the module has
    // one, so that enumerations stay inside the numbers our runtime codes.
    static std::vector<std::string> erlangRandom(std::string const& module, std::string const& type, unsigned count,
                                                 unsigned seed)
    {
        std::string const gen = exists(beams_ + "/" + module + "Root.beam") ? " " + module + "Root" : "";
        std::vector<std::string> hexes = lines(
            run(escript(module) + "random " + std::to_string(count) + " " + std::to_string(seed) + " " + type + gen));
        EXPECT_EQ(count, hexes.size());
        return hexes;
    }

    // Erlang's answer per encoding (one escript run): "ok <its own
    // re-encoding>" or "bad ...".
    static std::vector<std::string> erlangRecode(std::string const& module, std::string const& type,
                                                 std::vector<std::string> const& hexes)
    {
        std::string const file = dir_.path() + "/" + module + "-" + type + "-" + std::to_string(++files_) + ".hex";
        {
            std::ofstream os(file);
            for (std::string const& h : hexes)
                os << h << "\n";
        }
        std::vector<std::string> answers = lines(run(escript(module) + "recode " + type + " '" + file + "'"));
        EXPECT_EQ(hexes.size(), answers.size());
        answers.resize(hexes.size());
        return answers;
    }

    // Erlang's values decode here and encode again to the same octets,
    // also when all are decoded into one value in turn (which takes up the
    // parts of earlier values again); returns the number that did.
    template <class T>
    static unsigned fromErlang(std::string const& module, std::string const& type, unsigned count, unsigned seed)
    {
        unsigned good = 0, bad = 0;
        T reused;
        for (std::string const& h : erlangRandom(module, type, count, seed)) {
            T value;
            std::vector<char> out, again;
            if (perDecode(unhex(h), value) && perEncode(value, out) && hex(out) == h &&
                perDecode(unhex(h), reused) && reused == value && perEncode(reused, again) && again == out)
                ++good;
            else if (++bad <= 5)
                ADD_FAILURE() << module << "." << type << " from Erlang " << h << "\n  ours " << hex(out);
        }
        return good;
    }

    template <class T>
    static std::vector<T> randomOurs(unsigned count, unsigned seed)
    {
        MsgTest::RandomFiller filler(seed);
        std::vector<T> values(count);
        for (T& v : values)
            filler.fill(v);
        return values;
    }

    // Our values encode, decode here to themselves, and decode in Erlang,
    // which encodes them again (one escript run): exactly to our octets, or
    // (byValue) to octets that decode here to the same value. Our runtime
    // writes a SEQUENCE's extension bitmap only up to the last addition
    // present, where Erlang writes one bit per known addition; both read
    // either form, so types with extension additions are checked by value.
    template <class T>
    static void toErlang(std::string const& module, std::string const& type, std::vector<T> const& values,
                         bool byValue = false)
    {
        std::vector<std::string> ours;
        for (T const& v : values) {
            std::vector<char> out;
            T back;
            EXPECT_TRUE(perEncode(v, out) && perDecode(out, back) && back == v) << "value " << ours.size();
            ours.push_back(hex(out));
        }
        std::vector<std::string> const answers = erlangRecode(module, type, ours);
        unsigned bad = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            T back;
            bool const ok = byValue ? answers[i].compare(0, 3, "ok ") == 0 &&
                                          perDecode(unhex(answers[i].substr(3)), back) && back == values[i]
                                    : answers[i] == "ok " + ours[i];
            if (!ok && ++bad <= 5)
                ADD_FAILURE() << module << "." << type << " ours " << ours[i] << "\n  Erlang " << answers[i];
        }
    }

    // Erlang's values read here and, written again here, read in Erlang as
    // the octets it made; ours are checked by value.
    template <class T>
    static void randomByValue(std::string const& module, std::string const& type, unsigned count, unsigned seed)
    {
        std::vector<std::string> const theirs = erlangRandom(module, type, count, seed);
        std::vector<std::string> rewritten;
        for (std::string const& h : theirs) {
            T v;
            std::vector<char> out;
            EXPECT_TRUE(perDecode(unhex(h), v) && perEncode(v, out)) << h;
            rewritten.push_back(hex(out));
        }
        std::vector<std::string> const answers = erlangRecode(module, type, rewritten);
        unsigned bad = 0;
        for (size_t i = 0; i < theirs.size(); ++i)
            if (answers[i] != "ok " + theirs[i] && ++bad <= 5)
                ADD_FAILURE() << module << "." << type << " Erlang " << theirs[i] << "\n  ours " << rewritten[i]
                              << "\n  Erlang again " << answers[i];
        toErlang(module, type, randomOurs<T>(count, seed + 1), true);
    }

    static inline Erlang::TempDir dir_{"tsd-msg-erlang"};
    static inline std::string beams_;
    static inline std::string compileLog_;
    static inline unsigned files_ = 0;
};

TEST_F(ErlangPeer, ControllerMessagesBothWays)
{
    EXPECT_EQ(kValues, fromErlang<LGCP::Message>("LGCP", "Message", kValues, 1201));
    toErlang("LGCP", "Message", randomOurs<LGCP::Message>(kValues, 1202));
}

TEST_F(ErlangPeer, AgentMessagesBothWays)
{
    EXPECT_EQ(kValues, fromErlang<MON::Message>("MON", "Message", kValues, 1203));
    toErlang("MON", "Message", randomOurs<MON::Message>(kValues, 1204));
}

// The trees reached only from the container message: extension additions
// of SEQUENCE and CHOICE, and the OBJECT IDENTIFIER.
TEST_F(ErlangPeer, ContainerTreesBothWays)
{
    std::vector<char> out;
    // Only an extension addition present: the OPTIONAL bits are all zero.
    TERM::TermParams onlyMute;
    onlyMute.set_mute(true);
    ASSERT_TRUE(perEncode(onlyMute, out));
    EXPECT_EQ(0x80, static_cast<unsigned char>(out[0]) & 0xFE);
    toErlang<TERM::TermParams>("TERM", "TermParams", {onlyMute, TERM::TermParams()});

    ACP::AcpCommand link;
    ACP::SS7LinkParams& lp = link.select_link_activate();
    lp.set_id("ls-1");
    lp.set_slc(3);
    ASSERT_TRUE(perEncode(link, out));
    // Extension bit, addition 6 as a normally small number, then an open type.
    EXPECT_EQ(0x86, static_cast<unsigned char>(out[0]));
    toErlang<ACP::AcpCommand>("ACP", "AcpCommand", {link});

    TERM::SignallingParams sig;
    sig.set_group(2047u);
    MsgTest::RandomFiller filler(7);
    filler.fill(sig.set_extended());
    toErlang<TERM::SignallingParams>("TERM", "SignallingParams", {sig}, true);

    CCP::Message ccp;
    for (unsigned arc : {1u, 3u, 6u, 1u, 4u, 1u, 30000u})
        ccp.set_protocolIdentifier().append(arc);
    ccp.set_seq(77);
    MEDIA::MediaPDU& media = ccp.set_body().select_media();
    media.set_ref(2047u);
    media.set_pdu().select_command().select_destroy();
    toErlang<CCP::Message>("CCP", "Message", {ccp});

    randomByValue<CCP::Message>("CCP", "Message", 300, 1205);
    randomByValue<TERM::TermParams>("TERM", "TermParams", 300, 1207);
    randomByValue<ACP::AcpPDU>("ACP", "AcpPDU", 300, 1209);
}

} // namespace
