// Text rendering of LAPD frames and Q.931 messages for the link traces.
#include <gtest/gtest.h>

#include <cstring>

#include "links/q931_print.h"
#include "test_lapd_harness.h"

using LapdTest::Bytes;
using LapdTest::H;

namespace {

// The rendering of a frame into a buffer of `cap` characters (checked not
// to be written past).
std::string render(const Bytes& f, std::size_t cap = ISDN::kLogBufSize) {
  std::vector<char> buf(cap + 16, 'Z');
  ISDN::dlogframe(f.data(), unsigned(f.size()), 1, buf.data(), cap);
  EXPECT_EQ(buf[cap + 1], 'Z') << "wrote past the buffer";
  return std::string(buf.data());
}
// An I frame from the network (TEI 0) carrying the given Q.931 octets.
Bytes iframe(const char* q931) { return LapdTest::cat(H("02 01 00 00"), H(q931)); }

TEST(Q931Print, ShortFrames) {
  EXPECT_EQ(render(H("00 FF 03")), " 00 FF 03\nframe network->user broadcast\nframe too short\n");
  char buf[8] = "keep";
  unsigned char f[2] = {0x00, 0x01};
  EXPECT_EQ(ISDN::dlogframe(f, 2, 0, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "keep");
}

// Call ref 5 from the called side, SETUP: sending complete, bearer
// capability, channel identification, calling number with octet 3a, called
// number, display, an unknown element, nothing, shift, congestion.
TEST(Q931Print, SetupWithItsElements) {
  std::string t = render(iframe("08 01 85 05 A1 04 03 80 90 A3 18 01 89 6C 04 01 80 31 32 70 04 81 35 35 35 "
                                "28 03 61 62 63 50 02 11 22 A2 96 B1"));
  const char* expect =
      "IFrame tei = 0\ncallref 5 called size 37 message type SETUP\n  Sending complete\n  Bearer capability\n"
      "    octet 3  10000000\n    octet 4  10010000\n    octet 5  10100011\n  Channel identification\n"
      "    octet 3 10001001\n  Calling party number\n    octet 3 00000001\n    octet 3a 10000000\n"
      "    number digits 12\n  Called party number\n    octet 3 10000001\n    number digits 555\n  Display\n"
      "   \"abc\"\n  attribute 50 attribute size 2\n  Shift 6\n  Congestion level 1\n";
  EXPECT_NE(t.find(expect), std::string::npos) << t;
}

// After octet 5 (or octet 4) one octet more is printed, as octet 6 when its
// bits 7-6 are 10, as octet 7 when they are 11; nothing after it.
TEST(Q931Print, BearerCapabilityOctet6Or7) {
  struct Row {
    const char* element;
    const char* lines;
  } rows[] = {
      {"04 05 80 90 A3 C2 E3", "    octet 5  10100011\n    octet 6  11000010\n  Display"},
      {"04 05 80 90 A3 E3 C2", "    octet 5  10100011\n    octet 7  11100011\n  Display"},
      {"04 04 80 90 C2 E3", "    octet 4  10010000\n    octet 6  11000010\n  Display"},
      {"04 03 80 90 82", "    octet 4  10010000\n  Display"},
  };
  for (const Row& row : rows) {
    std::string t = render(iframe((std::string("08 01 01 05 ") + row.element + " 28 01 61").c_str()));
    EXPECT_NE(t.find(row.lines), std::string::npos) << row.element << "\n" << t;
  }
}

TEST(Q931Print, TruncatedElementsStopAtTheFrameEnd) {
  // Length octets announce more than the frame holds; ASan checks the reads.
  for (const char* q : {"08 01 01 05 04 09 80", "08 01 01 05 08 09 00", "08 01 01 05 1C 09 91 A1 7F",
                        "08 01 01 05 6C 09 01", "08 01 01 05 70", "08 01"}) {
    Bytes f = iframe(q);
    char buf[ISDN::kLogBufSize];
    ISDN::dlogframe(f.data(), unsigned(f.size()), 0, buf, sizeof buf);
    EXPECT_LT(std::strlen(buf), sizeof buf);
  }
}

TEST(Q931Print, LongRenderingIsCutAtTheBuffer) {
  std::string q = "08 01 01 05";
  for (int i = 0; i < 60; ++i) q += " 7E 04 01 02 03 04";
  EXPECT_EQ(render(iframe(q.c_str())).size(), ISDN::kLogBufSize - 1);
  EXPECT_EQ(render(iframe(q.c_str()), 10), " 02 01 00");
}

}  // namespace
