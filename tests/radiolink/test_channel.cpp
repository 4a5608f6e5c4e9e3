// Radio-link frames and the channel: checksum, framing, resynchronisation,
// sequence and address checks, queues and output hand-out.
//
// Sequence counters are process-wide, so each test that depends on exact
// sequence numbers uses message ids no other test of this program sends or
// receives in the same mode and version.
#include "tests/radiolink/radiolink_frames.h"

namespace {

const char kGetIdV1[] = "2D AB E5 E4 00 00 00 00 00 00 01 10 00 00 00 01 77 FB";
const char kSetIdV2[] = "2D AB E5 E4 01 00 05 00 00 00 00 20 00 10 02 00 07 00 6A 23";

Bytes SetId(uint32_t seq, uint8_t id, uint16_t flags = 0, uint8_t dst = 0x01) {
  return MakeFrame(DLI_SET_ID, seq, flags, 0x02, dst, {id, 0});
}
Bytes Cat(std::initializer_list<Bytes> frames) {
  Bytes all;
  for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
  return all;
}

TEST(RadioFrame, WorkedExamplesBothWays) {
  EXPECT_EQ(calc_crc16(nullptr, 16), 0);
  EXPECT_EQ(get_protocol_version(0xF000), 7);
  Channel gw;
  EXPECT_EQ(Hex(gw.Send({Record(GW_GET_ID, 0, 0, PROTO_ADDR_LGW)})), kGetIdV1);
  std::vector<s_data_cmd> w = gw.Written();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].cmdStatus + w[0].msgSeqNum + w[0].msgLength, 0u);

  Channel dli(PROTO_MODE_DIGITAL);
  s_data_cmd id = Record(DLI_SET_ID, 1, 0, PROTO_ADDR_LGW);
  id.srcAddr = 2;
  id.payload.id.id = 7;
  for (int i = 0; i < 5; ++i) dli.Send({id});
  EXPECT_EQ(Hex(dli.Send({id})), kSetIdV2);  // the sixth carries sequence 5

  s_data_cmd got = gw.One(H(kSetIdV2));
  EXPECT_EQ(V(got.msgID, got.cmdStatus, got.msgSeqNum, got.msgLength, got.stateProtocol), V(DLI_SET_ID, 0, 5u, 1u, 1));
  EXPECT_EQ(V(got.srcAddr, got.dstAddr, got.payload.id.id), V(2, PROTO_ADDR_LGW, 7));
}

// A false start, a marker cut in two and a frame cut in two: each frame is
// found once whole; a cut frame reports the shortfall meanwhile.
TEST(RadioChannel, SplitMarkersAndFrames) {
  Channel ch;
  Bytes f = SetId(1, 9);
  Bytes first = H("00 11 2D AB 99 2D");
  first.insert(first.end(), f.begin(), f.begin() + 3);
  ch.Feed(first);
  EXPECT_TRUE(ch.Received().empty());  // no marker complete yet
  s_data_cmd got = ch.One(Bytes(f.begin() + 3, f.end()));
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.id.id, 9);

  f = SetId(2, 4);
  EXPECT_EQ(ch.One(Bytes(f.begin(), f.begin() + 10)).cmdStatus, CONVERT_NOT_ENOUGHT_RAW_DATA);
  got = ch.One(Bytes(f.begin() + 10, f.end()));
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.id.id, 4);
}

// Frames back to back in one write: each is reported in order, and a
// damaged or refused one never hides the frame behind it. Destinations:
// version 1 carries a mask, version 2 a code (1 is the remote gateway).
TEST(RadioChannel, FramesInOneWriteWithTheirStatuses) {
  Bytes bad = SetId(5, 1);
  bad.back() ^= 0xFF;
  struct Row {
    Bytes frame;
    int status, id, addr;  // -1: not checked
  };
  const Row rows[] = {
      {SetId(3, 1), 0, 1, PROTO_ADDR_LGW},
      {bad, CONVERT_BAD_CRC, -1, -1},
      {SetId(6, 2, 0, 0x02), 0, 2, PROTO_ADDR_RGW},
      {MakeFrame(0x2999, 0, 0, 0x02, 0x01, {}), CONVERT_BAD_ID, -1, -1},
      {SetId(12, 1, 0, 0x04), CONVERT_BAD_ADDR, -1, -1},  // addressed to a DLI
      {SetId(13, 3, 0x1000, 0x01), 0, 3, PROTO_ADDR_RGW},
      {SetId(14, 3, 0x1000, 0x05), CONVERT_BAD_ADDR, -1, 0},
      {SetId(15, 3, 0x2000, 0x01), CONVERT_BAD_ID, -1, -1},  // version 3: no tables
      {MakeFrame(DLI_SET_ID, 10, 0, 0x02, 0x01, {}), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA, -1, -1},
      {SetId(16, 6), 0, 6, -1},
  };
  Bytes in;
  for (const Row& r : rows) in.insert(in.end(), r.frame.begin(), r.frame.end());
  Channel ch;
  ch.Feed(in);
  std::vector<s_data_cmd> got = ch.Received();
  ASSERT_EQ(got.size(), std::size(rows));
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].cmdStatus, rows[i].status);
    EXPECT_EQ(rows[i].id < 0 ? -1 : got[i].payload.id.id, rows[i].id);
    EXPECT_EQ(rows[i].addr < 0 ? -1 : got[i].dstAddr, rows[i].addr);
  }
}

// 768 words is the largest payload; 769 is a bad length, and the frame
// behind it is still found.
TEST(RadioChannel, LengthLimit) {
  Channel ch;
  Bytes big = MakeFrame(DLI_SET_ID, 7, 0, 0x02, 0x01, Bytes(1536, 0x33));
  s_data_cmd r = ch.One(big);
  EXPECT_EQ(r.cmdStatus, 0);
  EXPECT_EQ(r.msgLength, 768u);
  ch.Feed(Cat({MakeFrame(DLI_SET_ID, 8, 0, 0x02, 0x01, Bytes(1538, 0x33)), SetId(9, 5)}));
  std::vector<s_data_cmd> got = ch.Received();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(V(got.front().cmdStatus, got.back().cmdStatus, got.back().payload.id.id), V(CONVERT_BAD_LENGHT, 0, 5));
}

// With the check on, a number other than the expected one is refused and
// the count goes on from it; with it off anything goes.
TEST(RadioChannel, SequenceCheck) {
  auto frame = [](uint32_t seq) { return MakeFrame(ALI_TEST_KEEP_ALIVE, seq, 0x1000, 0x03, 0x00, {1, 2}); };
  for (int mode : {0, 2}) {
    Channel ch(PROTO_MODE_GATEWAY, mode);
    ch.Feed(Cat({frame(0), frame(7), frame(7), frame(8)}));
    std::vector<int> status;
    for (const s_data_cmd& r : ch.Received()) status.push_back(r.cmdStatus);
    const std::vector<int> want = mode ? std::vector<int>{0, 0, 0, 0} : std::vector<int>{0, -192, -192, 0};
    EXPECT_EQ(status, want) << mode;
  }
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

// A parse that meets a full received queue costs that queue its one oldest
// record per new record and nothing of the buffered bytes: a frame cut in
// two is decoded once its rest arrives, and a damaged frame still lets the
// frame behind it through.
TEST(RadioChannel, FullReceiveQueueKeepsBufferedBytes) {
  auto number = [](int n) {
    return MakeFrame(DLI_SET_NUMBER, 0, 0, 0x02, 0x01, {static_cast<unsigned char>(n), 0});
  };
  const Bytes cut = number(64);
  Bytes bad = number(99);
  bad.back() ^= 0xFF;
  struct Row {
    const char* name;
    std::vector<Bytes> pieces;  // fed one by one, the queue drained after each
    int first_kept;             // number of the oldest filling record still there
    std::vector<int> fresh;     // statuses of the records the pieces added
  };
  const Row rows[] = {
      {"cut frame", {Bytes(cut.begin(), cut.begin() + 9), Bytes(cut.begin() + 9, cut.end())}, 1,
       {CONVERT_NOT_ENOUGHT_RAW_DATA, 0}},
      {"damaged then good", {Cat({bad, cut})}, 2, {CONVERT_BAD_CRC, 0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Channel ch;
    Bytes fill;
    for (int i = 0; i < 64; ++i) fill = Cat({fill, number(i)});
    ch.Feed(fill);
    std::vector<s_data_cmd> got;
    for (const Bytes& piece : row.pieces) {
      ch.Feed(piece);
      for (const s_data_cmd& r : ch.Received()) got.push_back(r);
    }
    ASSERT_EQ(got.size(), 64u - static_cast<unsigned>(row.first_kept) + row.fresh.size());
    EXPECT_EQ(got.front().payload.number.number, row.first_kept);
    std::vector<int> fresh;
    for (size_t i = 64 - static_cast<size_t>(row.first_kept); i < got.size(); ++i) fresh.push_back(got[i].cmdStatus);
    EXPECT_EQ(fresh, row.fresh);
    EXPECT_EQ(got.back().payload.number.number, 64);
    EXPECT_EQ(ch.c.raw_in.count, 0);
  }
}

TEST(RadioChannel, SendQueueStatusAndSequence) {
  Channel ch;
  s_data_cmd sh = Record(GW_RAD_SH_ON, 0, 0, PROTO_ADDR_DLI);
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
  s_data_cmd a = Record(GW_RAD_BSS_ON, 0, 0, PROTO_ADDR_DLI), b = Record(GW_RAD_BSS_OFF, 0, 0, PROTO_ADDR_DLI);
  s_data_cmd recs[3] = {a, b, a};
  proto_chan_write_output(&ch.c, recs, 3);
  Bytes all;
  unsigned char slice[7];
  for (int n; (n = proto_chan_read_input(&ch.c, slice, sizeof slice)) > 0;) all.insert(all.end(), slice, slice + n);
  ASSERT_EQ(all.size(), 3u * 18u);
  Channel rx(PROTO_MODE_DIGITAL);
  rx.Feed(all);
  std::vector<int> ids;
  for (const s_data_cmd& r : rx.Received()) ids.push_back(r.cmdStatus ? -1 : r.msgID);
  EXPECT_EQ(ids, (std::vector<int>{GW_RAD_BSS_ON, GW_RAD_BSS_OFF, GW_RAD_BSS_ON}));
}

TEST(RadioChannel, FullRawOutputRefusesWithoutUsingASequence) {
  Channel ch;
  s_data_cmd r = Record(GW_RAD_PTT_ON, 0, 0, PROTO_ADDR_DLI);
  r.payload.radio_command.param_size = 255;  // 274-byte frames
  std::vector<s_data_cmd> many(64, r);
  proto_chan_write_output(&ch.c, many.data(), 64);
  unsigned char one;
  ASSERT_EQ(proto_chan_read_input(&ch.c, &one, 1), 1);
  std::vector<s_data_cmd> w = ch.Written();
  const int fit = 16384 / 274;
  ASSERT_EQ(static_cast<int>(w.size()), fit + 1);
  EXPECT_EQ(V(w[fit - 1].cmdStatus, w[fit - 1].msgLength, w[fit].cmdStatus, w[fit].msgSeqNum, w[fit].msgLength),
            V(0, 128u, CONVERT_QUEUE_FULL, 0u, 128u));
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
  // A row without a converter is refused like a missing row.
  s_proto_transiver_event bare = {GW_GET_ID, 1, 5, nullptr};
  r = Record(GW_GET_ID, 0, 0, PROTO_ADDR_DLI);
  EXPECT_EQ(convert_event_trans(&ch.c, &bare, &r), CONVERT_BAD_ID);
  EXPECT_EQ(V(bare.seq, r.msgSeqNum, r.msgLength, ch.c.raw_out.count), V(5u, 0u, 0u, 0));
  EXPECT_EQ(find_event_trans(&ch.c, GW_GET_ID, 2), nullptr);
}

}  // namespace
