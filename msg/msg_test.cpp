#include <zeb/msg/msg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include <zeb/platform/clock.h>

namespace {

constexpr uint32_t kSeg = zeb::mask({1}), kMsg = zeb::mask({2}), kOcc = zeb::mask({3}),
                   kType = zeb::mask({4});

int get16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
void put16(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// A segment of the given length and type whose data bytes are fill.
std::vector<uint8_t> segment(int length, int type, uint8_t fill = 0xA5) {
  // Room for the length and type words even when length says less.
  std::vector<uint8_t> s(static_cast<size_t>(length < 4 ? 4 : length), fill);
  put16(s.data(), length);
  put16(s.data() + 2, type);
  return s;
}

class Message : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(MSG_INIT(buf), 0);
  }
  int total() const { return get16(buf); }
  int count() const { return get16(buf + 32); }
  int16_t add(int length, int type) {
    return MSG_ADDSEGMENT(buf, segment(length, type).data(), sizeof buf);
  }

  uint8_t buf[256];
};

TEST_F(Message, InitWritesAnEmptySoundHeader) {
  zeb::platform::clock_freeze();
  uint8_t m[34];
  std::memset(m, 0xEE, sizeof m);
  EXPECT_EQ(MSG_INIT(m), 0);
  const int64_t now = JULIANTIMESTAMP(0);
  zeb::platform::clock_release();

  EXPECT_EQ(get16(m), 34);
  EXPECT_EQ(get16(m + 4), 1);
  for (int off : {2, 6, 8, 10, 12, 14, 16, 18, 20, 30, 32}) EXPECT_EQ(get16(m + off), 0) << off;
  int64_t stamp = 0;
  for (int i = 0; i < 8; ++i) stamp = (stamp << 8) | m[22 + i];
  EXPECT_EQ(stamp, now);
  EXPECT_EQ(MSG_VERIFY(m), 0);
  EXPECT_EQ(MSG_GETSEGMENT(kMsg, nullptr, m), 11);
}

TEST_F(Message, AddPadsOddSegmentsWithoutWritingThePad) {
  EXPECT_EQ(add(7, 1), 0);
  EXPECT_EQ(total(), 42);
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(buf[34 + 7], 0xEE);  // the pad byte keeps what the buffer held
  EXPECT_EQ(add(6, 2), 0);
  EXPECT_EQ(get16(buf + 42), 6);
  EXPECT_EQ(get16(buf + 44), 2);
  EXPECT_EQ(total(), 48);
  EXPECT_EQ(MSG_VERIFY(buf), 0);
}

TEST_F(Message, AddRefusesWhatDoesNotFitAndLeavesTheMessageAlone) {
  uint8_t before[sizeof buf];
  std::memcpy(before, buf, sizeof buf);
  // 34 + 222 = 256 fits exactly; 223 pads to 224 and does not.
  EXPECT_EQ(add(223, 1), 22);
  EXPECT_EQ(add(3, 1), 22);  // shorter than its own length and type words
  EXPECT_EQ(add(0, 1), 22);
  EXPECT_EQ(MSG_ADDSEGMENT(buf, segment(10, 1).data(), 40), 22);  // capacity too small
  EXPECT_EQ(MSG_ADDSEGMENT(buf, segment(10, 1).data(), 20), 22);  // capacity below the message
  EXPECT_EQ(0, std::memcmp(before, buf, sizeof buf));
  EXPECT_EQ(add(222, 1), 0);
  EXPECT_EQ(total(), 256);

  // A message whose header is not one is refused as such.
  uint8_t bad[64] = {0, 20};
  EXPECT_EQ(MSG_ADDSEGMENT(bad, segment(8, 1).data(), sizeof bad), 308);
}

TEST(MessageLimits, TotalLengthStaysWithin32767) {
  std::vector<uint8_t> big(40000, 0);
  ASSERT_EQ(MSG_INIT(big.data()), 0);
  auto seg = segment(32000, 1);
  ASSERT_EQ(MSG_ADDSEGMENT(big.data(), seg.data(), 40000), 0);
  EXPECT_EQ(get16(big.data()), 32034);
  // 32034 + 734 = 32768 would not fit the 16-bit total; 732 fits exactly.
  EXPECT_EQ(MSG_ADDSEGMENT(big.data(), segment(733, 1).data(), 40000), 22);
  EXPECT_EQ(MSG_ADDSEGMENT(big.data(), segment(734, 1).data(), 40000), 22);
  EXPECT_EQ(get16(big.data()), 32034);
  EXPECT_EQ(MSG_ADDSEGMENT(big.data(), segment(732, 1).data(), 40000), 0);
  EXPECT_EQ(get16(big.data()), 32766);
  EXPECT_EQ(MSG_VERIFY(big.data()), 0);
  // A segment whose length word reads negative as signed is refused too.
  EXPECT_EQ(MSG_ADDSEGMENT(big.data(), segment(4, 1).data(), 40000), 22);
}

TEST_F(Message, GetFindsByOccurrenceAndType) {
  ASSERT_EQ(add(8, 5), 0);
  ASSERT_EQ(add(9, 9), 0);
  ASSERT_EQ(add(6, 5), 0);
  void* seg = nullptr;
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc | kType, &seg, buf, 2, 5), 0);
  EXPECT_EQ(seg, buf + 34 + 8 + 10);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc | kType, &seg, buf, 3, 5), 11);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc, &seg, buf, 2), 0);
  EXPECT_EQ(seg, buf + 42);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kType, &seg, buf, 0, 9), 0);  // occurrence defaults to 1
  EXPECT_EQ(seg, buf + 42);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kType, &seg, buf, 0, 7), 11);

  // Typed segment references work as well.
  uint8_t* bytes = nullptr;
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc, &bytes, buf, 3), 0);
  EXPECT_EQ(bytes, buf + 52);
}

TEST_F(Message, GetParameterChecks) {
  ASSERT_EQ(add(8, 5), 0);
  void* seg = nullptr;
  EXPECT_EQ(MSG_GETSEGMENT(kSeg, &seg), 29);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kOcc, &seg, buf, 1), 29);  // message given but not marked present
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | zeb::mask({5}), &seg, buf), 2);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc, &seg, buf, 0), 11);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc, &seg, buf, -3), 11);
  EXPECT_EQ(seg, nullptr);
  // Without the segment bit the reference is not written.
  EXPECT_EQ(MSG_GETSEGMENT(kMsg, &seg, buf), 0);
  EXPECT_EQ(seg, nullptr);
}

TEST_F(Message, DeleteClosesTheGap) {
  ASSERT_EQ(add(8, 1), 0);
  ASSERT_EQ(add(7, 2), 0);  // occupies 8
  ASSERT_EQ(add(6, 3), 0);
  uint8_t third[6];
  std::memcpy(third, buf + 50, 6);
  void* middle = nullptr;
  ASSERT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc, &middle, buf, 2), 0);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, middle), 0);
  EXPECT_EQ(total(), 48);
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(0, std::memcmp(buf + 42, third, 6));
  EXPECT_EQ(0, std::memcmp(buf + 50, third, 6));  // beyond the new total: left as it was
  EXPECT_EQ(MSG_VERIFY(buf), 0);

  void* seg = nullptr;
  ASSERT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kType, &seg, buf, 0, 3), 0);
  EXPECT_EQ(seg, buf + 42);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, seg), 0);       // the last one
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 34), 0);  // the first one
  EXPECT_EQ(total(), 34);
  EXPECT_EQ(count(), 0);
  EXPECT_EQ(MSG_VERIFY(buf), 0);
}

TEST_F(Message, DeleteRefusesAddressesThatAreNotSegmentStarts) {
  ASSERT_EQ(add(8, 1), 0);
  ASSERT_EQ(add(8, 2), 0);
  uint8_t before[sizeof buf];
  std::memcpy(before, buf, sizeof buf);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 36), 11);  // inside the first segment
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 10), 11);  // in the header
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 50), 11);  // at the total length
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 200), 11);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, before + 34), 11);  // another buffer
  EXPECT_EQ(0, std::memcmp(before, buf, sizeof buf));
}

TEST_F(Message, VerifyRejectsChainsThatDoNotAddUp) {
  ASSERT_EQ(add(8, 1), 0);
  ASSERT_EQ(add(8, 2), 0);
  put16(buf + 32, 3);  // the count says 3, the chain holds 2
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf + 32, 1);  // the count says 1, the chain goes on
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf + 32, 2);
  EXPECT_EQ(MSG_VERIFY(buf), 0);
  put16(buf, 48);  // total ends inside the second segment
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf, 33);  // total below the header
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf, -2);
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf, 50);
  put16(buf + 42, 0);  // a zero-length segment would stall the walk
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf + 42, 2);  // too short to carry its type
  EXPECT_EQ(MSG_VERIFY(buf), 308);
  put16(buf + 42, -8);  // a negative length would walk backwards
  EXPECT_EQ(MSG_VERIFY(buf), 308);
}

TEST_F(Message, GetAndDeleteOnBrokenChains) {
  ASSERT_EQ(add(8, 1), 0);
  ASSERT_EQ(add(8, 2), 0);
  ASSERT_EQ(add(8, 3), 0);
  put16(buf + 42, 100);  // the second segment runs past the total
  void* seg = nullptr;
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg, &seg, buf), 0);  // found before the break
  EXPECT_EQ(seg, buf + 34);
  EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc, &seg, buf, 2), 308);
  EXPECT_EQ(seg, buf + 34);  // only whole segments are handed out
  uint8_t before[sizeof buf];
  std::memcpy(before, buf, sizeof buf);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 42), 308);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 50), 308);  // cannot be reached
  EXPECT_EQ(0, std::memcmp(before, buf, sizeof buf));
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 34), 0);  // the first is whole

  // Count exhausted before the address: the address is not a segment.
  SetUp();
  ASSERT_EQ(add(8, 1), 0);
  ASSERT_EQ(add(8, 2), 0);
  put16(buf + 32, 1);
  EXPECT_EQ(MSG_DELETESEGMENT(buf, buf + 42), 308);
  EXPECT_EQ(MSG_GETSEGMENT(kMsg | kOcc, nullptr, buf, 2), 308);
}

// Messages in exactly sized heap buffers: with the address sanitizer any
// read past the claimed total length fails the test.
TEST(MessageBounds, MalformedMessagesStayInsideTheirTotalLength) {
  struct Sample {
    uint8_t bytes[40];
    int16_t delete_result;
  };
  const Sample samples[] = {
      // segment length 200 at 34 in a 40-byte message
      {{0, 40, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0,
        0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 200, 0, 1, 0, 0},
       308},
      // one whole segment, but the count says 32767
      {{0, 38, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0, 0, 0,
        0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0xFF, 0, 4, 0, 1},
       0},
      // a segment header cut by the total length
      {{0, 36, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 4},
       308},
  };
  for (const auto& sample : samples) {
    const int total = get16(sample.bytes);
    auto m = std::make_unique<uint8_t[]>(static_cast<size_t>(total));
    std::memcpy(m.get(), sample.bytes, static_cast<size_t>(total));
    EXPECT_EQ(MSG_VERIFY(m.get()), 308) << total;
    void* seg = nullptr;
    EXPECT_EQ(MSG_GETSEGMENT(kSeg | kMsg | kOcc | kType, &seg, m.get(), 5, 1), 308) << total;
    EXPECT_EQ(MSG_DELETESEGMENT(m.get(), m.get() + 34), sample.delete_result) << total;
  }
  // A total below the header length is judged from the first word alone.
  auto tiny = std::make_unique<uint8_t[]>(2);
  tiny[0] = 0;
  tiny[1] = 10;
  EXPECT_EQ(MSG_VERIFY(tiny.get()), 308);
  EXPECT_EQ(MSG_GETSEGMENT(kMsg, nullptr, tiny.get()), 308);
  EXPECT_EQ(MSG_DELETESEGMENT(tiny.get(), tiny.get()), 308);
}

}  // namespace
