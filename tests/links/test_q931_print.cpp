// Text rendering of LAPD frames and Q.931 messages for the link traces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "links/q931_print.h"

namespace {

typedef std::vector<unsigned char> Bytes;

std::string render(const Bytes& f, int dir = 1, std::size_t cap = ISDN::kLogBufSize) {
  std::vector<char> buf(cap + 16, 'Z');
  ISDN::dlogframe(f.data(), unsigned(f.size()), dir, buf.data(), cap);
  EXPECT_EQ(buf[cap + 1], 'Z') << "wrote past the buffer";
  return std::string(buf.data());
}

// An I frame from the network (TEI 0) carrying the given Q.931 octets.
Bytes iframe(const Bytes& q931) {
  Bytes f = {0x02, 0x01, 0x00, 0x00};
  f.insert(f.end(), q931.begin(), q931.end());
  return f;
}

TEST(Q931Print, BroadcastTooShort) {
  EXPECT_EQ(render({0x00, 0xFF, 0x03}), " 00 FF 03\nframe network->user broadcast\nframe too short\n");
}

TEST(Q931Print, ShortFramesLeaveTheBufferAlone) {
  char buf[8] = "keep";
  unsigned char f[2] = {0x00, 0x01};
  EXPECT_EQ(ISDN::dlogframe(f, 2, 0, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "keep");
}

TEST(Q931Print, SetupWithItsElements) {
  Bytes setup = {0x08, 0x01, 0x85, 0x05,                    // call ref 5 from the called side, SETUP
                 0xA1,                                      // sending complete
                 0x04, 0x03, 0x80, 0x90, 0xA3,              // bearer capability
                 0x18, 0x01, 0x89,                          // channel identification
                 0x6C, 0x04, 0x01, 0x80, '1', '2',          // calling number with octet 3a
                 0x70, 0x04, 0x81, '5', '5', '5',           // called number
                 0x28, 0x03, 'a', 'b', 'c',                 // display
                 0x50, 0x02, 0x11, 0x22,                    // unknown element
                 0xA2, 0x96, 0xB1};                         // nothing, shift, congestion
  std::string t = render(iframe(setup));
  const char* expect =
      "IFrame tei = 0\n"
      "callref 5 called size 37 message type SETUP\n"
      "  Sending complete\n"
      "  Bearer capability\n"
      "    octet 3  10000000\n"
      "    octet 4  10010000\n"
      "    octet 5  10100011\n"
      "  Channel identification\n"
      "    octet 3 10001001\n"
      "  Calling party number\n"
      "    octet 3 00000001\n"
      "    octet 3a 10000000\n"
      "    number digits 12\n"
      "  Called party number\n"
      "    octet 3 10000001\n"
      "    number digits 555\n"
      "  Display\n"
      "   \"abc\"\n"
      "  attribute 50 attribute size 2\n"
      "  Shift 6\n"
      "  Congestion level 1\n";
  EXPECT_NE(t.find(expect), std::string::npos) << t;
}

TEST(Q931Print, TruncatedElementsStopAtTheFrameEnd) {
  // Length octets announce more than the frame holds; ASan checks the reads.
  for (const Bytes& q : {Bytes{0x08, 0x01, 0x01, 0x05, 0x04, 0x09, 0x80},
                         Bytes{0x08, 0x01, 0x01, 0x05, 0x08, 0x09, 0x00},
                         Bytes{0x08, 0x01, 0x01, 0x05, 0x1C, 0x09, 0x91, 0xA1, 0x7F},
                         Bytes{0x08, 0x01, 0x01, 0x05, 0x6C, 0x09, 0x01},
                         Bytes{0x08, 0x01, 0x01, 0x05, 0x70},
                         Bytes{0x08, 0x01}}) {
    Bytes f = iframe(q);
    std::vector<unsigned char> heap(f.begin(), f.end());
    char buf[ISDN::kLogBufSize];
    ISDN::dlogframe(heap.data(), unsigned(heap.size()), 0, buf, sizeof buf);
    EXPECT_LT(std::strlen(buf), sizeof buf);
  }
}

TEST(Q931Print, LongRenderingIsCutAtTheBuffer) {
  Bytes q = {0x08, 0x01, 0x01, 0x05};
  for (int i = 0; i < 60; ++i) q.insert(q.end(), {0x7E, 0x04, 0x01, 0x02, 0x03, 0x04});
  std::string t = render(iframe(q));
  EXPECT_EQ(t.size(), ISDN::kLogBufSize - 1);
  std::string small = render(iframe(q), 1, 10);
  EXPECT_EQ(small, " 02 01 00");
}

}  // namespace
