// Radio-link frames and the channel: checksum, framing, resynchronisation,
// sequence and address checks, queues and output hand-out.
//
// Sequence counters are process-wide, so each test that depends on exact
// sequence numbers uses message ids no other test of this program sends or
// receives in the same mode and version.
#include <gtest/gtest.h>

#include "tests/radiolink/radiolink_frames.h"

namespace {

const Bytes kGetIdV1 = {0x2D, 0xAB, 0xE5, 0xE4, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x01, 0x10, 0x00, 0x00, 0x00, 0x01, 0x77, 0xFB};
const Bytes kSetIdV2 = {0x2D, 0xAB, 0xE5, 0xE4, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00,
                        0x00, 0x20, 0x00, 0x10, 0x02, 0x00, 0x07, 0x00, 0x6A, 0x23};

Bytes SetId(uint32_t seq, uint8_t id, uint8_t dst = 0x01) {
  return MakeFrame(DLI_SET_ID, seq, 0x0000, 0x02, dst, {id, 0});
}

TEST(RadioFrame, ChecksumPairsBytesBigEndian) {
  Bytes a = kGetIdV1;
  EXPECT_EQ(calc_crc16(a.data(), 16), 0xFB77);
  Bytes b = kSetIdV2;
  EXPECT_EQ(calc_crc16(b.data(), 18), 0x236A);
  EXPECT_EQ(calc_crc16(nullptr, 16), 0);
  EXPECT_EQ(get_protocol_version(0x1000), 1);
  EXPECT_EQ(get_protocol_version(0xF000), 7);
}

TEST(RadioFrame, WorkedExamplesBothWays) {
  Channel gw;
  s_data_cmd r = Record(GW_GET_ID);
  r.dstAddr = PROTO_ADDR_LGW;
  EXPECT_EQ(gw.Send({r}), kGetIdV1);
  std::vector<s_data_cmd> w = gw.Written();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].cmdStatus, 0);
  EXPECT_EQ(w[0].msgSeqNum, 0u);
  EXPECT_EQ(w[0].msgLength, 0u);

  Channel dli(PROTO_MODE_DIGITAL);
  s_data_cmd id = Record(DLI_SET_ID, 1);
  id.srcAddr = 2;
  id.dstAddr = PROTO_ADDR_LGW;
  id.payload.id.id = 7;
  Bytes last;
  for (int i = 0; i < 6; ++i) last = dli.Send({id});
  EXPECT_EQ(last, kSetIdV2);

  gw.Feed(kSetIdV2);
  std::vector<s_data_cmd> got = gw.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msgID, DLI_SET_ID);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[0].msgSeqNum, 5u);
  EXPECT_EQ(got[0].msgLength, 1u);
  EXPECT_EQ(got[0].stateProtocol, 1);
  EXPECT_EQ(got[0].srcAddr, 2);
  EXPECT_EQ(got[0].dstAddr, PROTO_ADDR_LGW);
  EXPECT_EQ(got[0].payload.id.id, 7);
}

// A false start, a marker cut in two and a frame cut in two: each frame is
// found once whole; a cut frame reports the shortfall meanwhile.
TEST(RadioChannel, SplitMarkersAndFrames) {
  Channel ch;
  Bytes f = SetId(1, 9);
  Bytes first = {0x00, 0x11, 0x2D, 0xAB, 0x99, 0x2D};
  first.insert(first.end(), f.begin(), f.begin() + 3);
  ch.Feed(first);
  EXPECT_TRUE(ch.Received().empty());  // no marker complete yet
  ch.Feed(Bytes(f.begin() + 3, f.end()));
  std::vector<s_data_cmd> got = ch.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[0].payload.id.id, 9);

  f = SetId(2, 4);
  ch.Feed(Bytes(f.begin(), f.begin() + 10));
  got = ch.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, CONVERT_NOT_ENOUGHT_RAW_DATA);
  ch.Feed(Bytes(f.begin() + 10, f.end()));
  got = ch.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[0].payload.id.id, 4);
}

// Frames back to back in one write: each is reported in order, and a
// damaged or refused one never hides the frame behind it.
TEST(RadioChannel, FramesInOneWriteAndDamagedOnesBetween) {
  Bytes bad = SetId(5, 1);
  bad[bad.size() - 1] ^= 0xFF;
  Bytes in;
  for (const Bytes& f : {SetId(3, 1), SetId(4, 2), bad, SetId(6, 2), MakeFrame(0x2999, 0, 0, 0x02, 0x01, {}),
                         SetId(12, 1, 0x04) /* addressed to a DLI */, SetId(13, 3)})
    in.insert(in.end(), f.begin(), f.end());
  Channel ch;
  ch.Feed(in);
  std::vector<s_data_cmd> got = ch.Received();
  const int want[][2] = {{0, 1}, {0, 2}, {CONVERT_BAD_CRC, -1}, {0, 2}, {CONVERT_BAD_ID, -1},
                         {CONVERT_BAD_ADDR, -1}, {0, 3}};
  ASSERT_EQ(got.size(), 7u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].cmdStatus, want[i][0]);
    if (want[i][1] >= 0) {
      EXPECT_EQ(got[i].payload.id.id, want[i][1]);
    }
  }
}

TEST(RadioChannel, LengthLimitAndZeroLengthFrame) {
  Channel ch;
  // 768 words is the largest accepted payload.
  Bytes big = MakeFrame(DLI_SET_ID, 7, 0, 0x02, 0x01, Bytes(1536, 0x33));
  ASSERT_EQ(big.size(), 1554u);
  ch.Feed(big);
  std::vector<s_data_cmd> got = ch.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[0].msgLength, 768u);

  // 769 words is refused as a bad length; the next frame is still found.
  Bytes huge = MakeFrame(DLI_SET_ID, 8, 0, 0x02, 0x01, Bytes(1538, 0x33));
  Bytes good = SetId(9, 5);
  huge.insert(huge.end(), good.begin(), good.end());
  ch.Feed(huge);
  got = ch.Received();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got.front().cmdStatus, CONVERT_BAD_LENGHT);
  EXPECT_EQ(got.back().cmdStatus, 0);
  EXPECT_EQ(got.back().payload.id.id, 5);

  // A zero-length frame is 18 bytes; an id that needs a payload reports
  // it short, and the frame behind it is not harmed.
  Bytes empty = MakeFrame(DLI_SET_ID, 10, 0, 0x02, 0x01, {});
  ASSERT_EQ(empty.size(), 18u);
  Bytes next = SetId(11, 6);
  empty.insert(empty.end(), next.begin(), next.end());
  ch.Feed(empty);
  got = ch.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(got[1].cmdStatus, 0);
  EXPECT_EQ(got[1].payload.id.id, 6);
}

TEST(RadioChannel, DestinationMasksAndCodes) {
  struct Row {
    uint16_t flags;
    uint8_t dst;
    int status, addr;  // addr -1: not checked
  };
  const Row rows[] = {
      {0x0000, 0x01, 0, PROTO_ADDR_LGW},                // version 1: mask 1, local gateway
      {0x0000, 0x02, 0, PROTO_ADDR_RGW},                // mask 2, remote gateway
      {0x0000, 0x04, CONVERT_BAD_ADDR, -1},             // mask 4, DLI: not for a gateway
      {0x1000, 0x01, 0, PROTO_ADDR_RGW},                // version 2 code 1: remote gateway
      {0x1000, 0x05, CONVERT_BAD_ADDR, 0},              // version 2 code 5: no mask
      {0x2000, 0x01, CONVERT_BAD_ID, -1},               // version 3: no tables
  };
  Channel ch;
  uint32_t seq = 14;
  for (const Row& r : rows) {
    SCOPED_TRACE(seq);
    ch.Feed(MakeFrame(DLI_SET_ID, seq++, r.flags, 0x02, r.dst, {1, 0}));
    std::vector<s_data_cmd> got = ch.Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].cmdStatus, r.status);
    if (r.addr >= 0) {
      EXPECT_EQ(got[0].dstAddr, r.addr);
    }
  }
}

TEST(RadioChannel, SequenceCheck) {
  Channel ch(PROTO_MODE_GATEWAY, 0);  // check on
  auto frame = [](uint32_t seq) { return MakeFrame(ALI_TEST_KEEP_ALIVE, seq, 0x1000, 0x03, 0x00, {1, 2}); };
  ch.Feed(frame(0));
  ch.Feed(frame(7));
  ch.Feed(frame(7));
  ch.Feed(frame(8));
  std::vector<s_data_cmd> got = ch.Received();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[1].cmdStatus, CONVERT_BAD_SEQNUM);
  EXPECT_EQ(got[2].cmdStatus, CONVERT_BAD_SEQNUM);  // 8 was expected
  EXPECT_EQ(got[3].cmdStatus, 0);
  EXPECT_EQ(got[3].msgSeqNum, 8u);

  Channel off(PROTO_MODE_GATEWAY, 2);
  off.Feed(frame(100));
  off.Feed(frame(3));
  got = off.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[1].cmdStatus, 0);
}

TEST(RadioChannel, FullReceiveQueueKeepsTheNewest) {
  Channel ch;
  Bytes all;
  for (int i = 0; i < 70; ++i) {
    Bytes f = MakeFrame(DLI_SET_NUMBER, static_cast<uint32_t>(i), 0, 0x02, 0x01, {static_cast<unsigned char>(i), 0});
    all.insert(all.end(), f.begin(), f.end());
  }
  ch.Feed(all);
  std::vector<s_data_cmd> got = ch.Received();
  ASSERT_EQ(got.size(), 64u);
  EXPECT_EQ(got.front().payload.number.number, 6);
  EXPECT_EQ(got.back().payload.number.number, 69);
}

TEST(RadioChannel, SendQueueStatusAndSequence) {
  Channel ch;
  s_data_cmd sh = Record(GW_RAD_SH_ON);
  sh.dstAddr = PROTO_ADDR_DLI;
  ch.Send({sh, sh});
  std::vector<s_data_cmd> w = ch.Written();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[1].msgSeqNum, w[0].msgSeqNum + 1);

  // An id the gateway does not send: refused, no bytes.
  EXPECT_TRUE(ch.Send({Record(DLI_SET_ID)}).empty());
  w = ch.Written();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].cmdStatus, CONVERT_BAD_ID);
  EXPECT_EQ(w[0].msgSeqNum, 0u);

  // Writing records empties the written queue of the previous sending.
  ch.Send({sh});
  ch.Send({sh});
  EXPECT_EQ(ch.Written().size(), 1u);
}

TEST(RadioChannel, OutputHandedOutInSlicesWithoutLoss) {
  Channel ch;
  s_data_cmd a = Record(GW_RAD_BSS_ON);
  a.dstAddr = PROTO_ADDR_DLI;
  s_data_cmd b = Record(GW_RAD_BSS_OFF);
  b.dstAddr = PROTO_ADDR_DLI;
  s_data_cmd recs[3] = {a, b, a};
  proto_chan_write_output(&ch.c, recs, 3);
  Bytes all;
  unsigned char slice[7];
  int n;
  while ((n = proto_chan_read_input(&ch.c, slice, sizeof slice)) > 0) all.insert(all.end(), slice, slice + n);
  ASSERT_EQ(all.size(), 3u * 18u);
  // The slices reassemble into three valid frames in order.
  Channel rx(PROTO_MODE_DIGITAL);
  rx.Feed(all);
  std::vector<s_data_cmd> got = rx.Received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].msgID, GW_RAD_BSS_ON);
  EXPECT_EQ(got[1].msgID, GW_RAD_BSS_OFF);
  EXPECT_EQ(got[2].msgID, GW_RAD_BSS_ON);
  for (const s_data_cmd& r : got) EXPECT_EQ(r.cmdStatus, 0);
}

TEST(RadioChannel, FullRawOutputRefusesWithoutUsingASequence) {
  Channel ch;
  s_data_cmd r = Record(GW_RAD_PTT_ON);
  r.dstAddr = PROTO_ADDR_DLI;
  r.payload.radio_command.param_size = 255;  // 274-byte frames
  std::vector<s_data_cmd> many(64, r);
  proto_chan_write_output(&ch.c, many.data(), 64);
  unsigned char one;
  ASSERT_EQ(proto_chan_read_input(&ch.c, &one, 1), 1);
  std::vector<s_data_cmd> w = ch.Written();
  int fit = 16384 / 274;
  ASSERT_EQ(static_cast<int>(w.size()), fit + 1);
  EXPECT_EQ(w[fit - 1].cmdStatus, 0);
  EXPECT_EQ(w[fit].cmdStatus, CONVERT_QUEUE_FULL);
  EXPECT_EQ(w[fit].msgSeqNum, 0u);
  uint32_t last = w[fit - 1].msgSeqNum;
  // Records are framed before bytes are handed out: the next call still
  // meets a full buffer, the one after it has room again, and the first
  // record framed then carries the number the refused ones did not use.
  Bytes sink(20000);
  proto_chan_read_input(&ch.c, sink.data(), static_cast<int>(sink.size()));
  w = ch.Written();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].cmdStatus, CONVERT_QUEUE_FULL);
  proto_chan_read_input(&ch.c, sink.data(), static_cast<int>(sink.size()));
  w = ch.Written();
  ASSERT_EQ(w.size(), 64u - static_cast<unsigned>(fit) - 2u);
  EXPECT_EQ(w[0].cmdStatus, 0);
  EXPECT_EQ(w[0].msgSeqNum, last + 1);
}

TEST(RadioChannel, MissingArgumentsChangeNothing) {
  Channel ch;
  s_data_cmd r;
  EXPECT_EQ(proto_chan_read_output(nullptr, &r, 3), 3);
  EXPECT_EQ(proto_chan_read_output(&ch.c, nullptr, 3), 3);
  EXPECT_EQ(proto_chan_write_output(&ch.c, &r, 0), 0);
  EXPECT_EQ(proto_chan_read_input(&ch.c, nullptr, 5), 5);
  EXPECT_EQ(proto_chan_write_input(&ch.c, nullptr, 5), 0);
  EXPECT_EQ(proto_chan_output2input(&ch.c), -1);  // nothing queued
  EXPECT_EQ(convert_event_trans(&ch.c, nullptr, &r), CONVERT_BAD_ID);
  EXPECT_EQ(find_event_trans(&ch.c, GW_GET_ID, 2), nullptr);
}

}  // namespace
