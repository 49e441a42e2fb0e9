#include "platform/ipc/messages.h"

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/testing/testing.h"

namespace zp = zeb::platform;

namespace {

std::string hex(const zp::Message& m) { return zeb::testing::hex(m.data(), m.size()); }
std::string hex(std::string_view s) { return zeb::testing::hex(s.data(), s.size()); }
std::span<const char> bytes(const zp::Message& m) { return {m.data(), m.size()}; }

const char kDefaults[] = "$VOL    SUB     ";
const char kIn[] = "$ZIN                    ";
const char kOut[] = "$ZOUT                   ";
const char kPhysical[] = "$VOL    SUB     F1      ";

// Every encoder against a byte image written out by hand.
TEST(Messages, EncodersMatchTheWireImages) {
  const std::string blank8 = "2020202020202020", blank16 = blank8 + blank8;
  const std::string startup_head = "FFFF" + hex(std::string_view(kDefaults, 16)) +
                                   hex(std::string_view(kIn, 24)) + hex(std::string_view(kOut, 24));
  struct Case {
    const char* what;
    zp::Message message;
    std::string image;
  } cases[] = {
      {"open", zp::open_message(), "FF99" + std::string(20, '0') + std::string(40, 'F')},
      {"close", zp::close_message(), "FF980000"},
      // Odd length with the NUL: one more NUL.
      {"startup odd", zp::startup_message(kDefaults, kIn, kOut, "AB"), startup_head + "41420000"},
      {"startup even", zp::startup_message(kDefaults, kIn, kOut, "A"), startup_head + "4100"},
      {"startup empty", zp::startup_message(kDefaults, kIn, kOut, ""), startup_head + "0000"},
      {"assign", zp::assign_message("LOG", kPhysical),
       "FFFE00" + blank16 + blank16.substr(0, 30) + "03" + hex(std::string_view("LOG")) + blank16 +
           blank8 + blank8.substr(0, 8) + "80000000" + hex(std::string_view(kPhysical, 24)) +
           std::string(28, '0')},
      {"param", zp::param_message({{"Speed", "fast"}, {"", "x"}}),
       "FFFD0002"
       "05"
       "5370656564"
       "04"
       "66617374"
       "00"
       "01"
       "78"},
      {"param none", zp::param_message({}), "FFFD0000"},
  };
  for (const Case& c : cases) EXPECT_EQ(hex(c.message), c.image) << c.what;
  EXPECT_EQ(zp::open_message().size(), static_cast<size_t>(zp::kOpenLength));
  EXPECT_EQ(zp::close_message().size(), static_cast<size_t>(zp::kCloseLength));
  EXPECT_EQ(zp::assign_message("X", kPhysical).size(), static_cast<size_t>(zp::kAssignLength));
}

TEST(Messages, DecodersGiveBackWhatWasEncoded) {
  const zp::Message startup = zp::startup_message(kDefaults, kIn, kOut, "run fast");
  auto s = zp::decode_startup(bytes(startup));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->defaults, std::string_view(kDefaults, 16));
  EXPECT_EQ(s->in_name, std::string_view(kIn, 24));
  EXPECT_EQ(s->out_name, std::string_view(kOut, 24));
  EXPECT_EQ(s->text, "run fast");

  // A logical name longer than 31 characters is cut.
  const std::string long_name(40, 'L');
  for (const std::string& name : {std::string("LOG"), long_name}) {
    const zp::Message assign = zp::assign_message(name, kPhysical);
    auto a = zp::decode_assign(bytes(assign));
    ASSERT_TRUE(a) << name;
    EXPECT_EQ(a->logical_name, name.substr(0, 31));
    EXPECT_EQ(a->physical_name, std::string_view(kPhysical, 24));
  }

  const zp::Message param = zp::param_message({{"A", "1"}, {"name", std::string(300, 'v')}});
  auto p = zp::decode_param(bytes(param));
  ASSERT_TRUE(p);
  ASSERT_EQ(p->size(), 2u);
  EXPECT_EQ((*p)[0], std::make_pair(std::string_view("A"), std::string_view("1")));
  EXPECT_EQ((*p)[1].second.size(), 255u);  // values are cut to 255 bytes
}

// What is not a whole message of its kind decodes to nothing.
TEST(Messages, DecodersRefuseTruncatedOrForeignMessages) {
  const zp::Message startup = zp::startup_message(kDefaults, kIn, kOut, "");
  const zp::Message assign = zp::assign_message("LOG", kPhysical);
  zp::Message param = zp::param_message({{"A", "1"}});
  zp::Message miscounted = param;
  zp::put16(miscounted.data() + zp::kParamCountOffset, 2);
  zp::Message negative = param;
  zp::put16(negative.data() + zp::kParamCountOffset, -1);
  struct Case {
    const char* what;
    bool decoded;
  } cases[] = {
      {"startup cut", zp::decode_startup({startup.data(), 65}).has_value()},
      {"startup as assign", zp::decode_assign(bytes(startup)).has_value()},
      {"assign cut", zp::decode_assign({assign.data(), 93}).has_value()},
      {"assign as startup", zp::decode_startup(bytes(assign)).has_value()},
      {"param cut", zp::decode_param({param.data(), param.size() - 1}).has_value()},
      {"param count high", zp::decode_param(bytes(miscounted)).has_value()},
      {"param count negative", zp::decode_param(bytes(negative)).has_value()},
      {"param as startup", zp::decode_startup(bytes(param)).has_value()},
  };
  for (const Case& c : cases) EXPECT_FALSE(c.decoded) << c.what;
  EXPECT_TRUE(zp::decode_assign({assign.data(), 94}).has_value());
}

TEST(Messages, StartupFromStoredStopsAtTheNul) {
  std::string stored(zp::kStartupReadCount + 1, 'x');
  stored.replace(0, 2, "\xFF\xFF");
  struct Case {
    int nul_at;  // -1: none
    size_t length;
  } cases[] = {{66, 68}, {67, 68}, {zp::kStartupReadCount, 598}, {-1, 0}};
  for (const Case& c : cases) {
    std::string s = stored;
    if (c.nul_at >= 0) s[static_cast<size_t>(c.nul_at)] = '\0';
    auto m = zp::startup_from_stored(s.data());
    ASSERT_EQ(m.has_value(), c.nul_at >= 0) << c.nul_at;
    if (!m) continue;
    EXPECT_EQ(m->size(), c.length) << c.nul_at;
    EXPECT_EQ(m->back(), '\0');
    EXPECT_EQ(std::string(m->data(), static_cast<size_t>(c.nul_at)), s.substr(0, c.nul_at));
  }
}

TEST(Messages, MonitorRequestAndReply) {
  const std::string program = "$VOL    SUB     PROG    ", a = "$IN" + std::string(21, ' '),
                    b = "$OUT" + std::string(20, ' ');
  zp::CmonRequest r;
  r.access_id = 0x0102;
  r.own_priority = 150;
  r.name_a = a.data();
  r.name_b = b.data();
  r.program = program.data();
  r.priority = 100;
  r.processor = 5;
  char request[zp::kCmonRequestLength];
  zp::encode_cmon_request(r, request);
  std::string_view q(request, sizeof request);
  EXPECT_EQ(hex(q.substr(0, 6)), "FFCC01020096");
  EXPECT_EQ(q.substr(6, 48), a + b);
  EXPECT_EQ(q.substr(54, 24), program);
  EXPECT_EQ(hex(q.substr(78, 4)), "00640005");
  EXPECT_EQ(q.substr(82, 48), a + b);
  EXPECT_EQ(q.substr(130), std::string(48, ' '));

  std::string full = std::string("\0\0", 2) + program + std::string("\x00\x4D\x00\x03", 4);
  struct Case {
    size_t length;
    bool allowed, program, priority, processor;
  } cases[] = {{30, true, true, true, true},    {29, true, true, true, false},
               {26, true, true, false, false},  {2, true, false, false, false},
               {1, false, false, false, false}, {0, false, false, false, false}};
  for (const Case& c : cases) {
    zp::CmonReply reply = zp::decode_cmon_reply({full.data(), c.length});
    EXPECT_EQ(reply.allowed, c.allowed) << c.length;
    EXPECT_EQ(reply.program.has_value(), c.program) << c.length;
    EXPECT_EQ(reply.priority.has_value(), c.priority) << c.length;
    EXPECT_EQ(reply.processor.has_value(), c.processor) << c.length;
  }
  EXPECT_EQ(*zp::decode_cmon_reply({full.data(), 30}).priority, 77);
  EXPECT_FALSE(zp::decode_cmon_reply(std::string_view("\x00\x01", 2)).allowed);
}

TEST(Messages, WalkerVisitsNewestFirstAndStopsOnError) {
  // Three nodes laid out in one area, each link relative to its own word;
  // the last leads back to the head.
  alignas(4) char area[64] = {};
  auto* head = reinterpret_cast<int32_t*>(area);
  const int at[] = {8, 24, 40};
  const char* texts[] = {"new", "mid", "old"};
  *head = at[0];
  for (int i = 0; i < 3; ++i) {
    int32_t link = (i < 2 ? at[i + 1] : 0) - at[i];
    int16_t length = 3;
    std::memcpy(area + at[i], &link, 4);
    std::memcpy(area + at[i] + zp::kNodeLengthOffset, &length, 2);
    std::memcpy(area + at[i] + zp::kNodeMessageOffset, texts[i], 3);
  }
  std::vector<std::string> seen;
  EXPECT_EQ(zp::for_each_message(head,
                                 [&](const char* m, int16_t n) {
                                   seen.emplace_back(m, static_cast<size_t>(n));
                                   return int16_t{0};
                                 }),
            0);
  EXPECT_EQ(seen, (std::vector<std::string>{"new", "mid", "old"}));
  seen.clear();
  EXPECT_EQ(zp::for_each_message(head,
                                 [&](const char* m, int16_t n) {
                                   seen.emplace_back(m, static_cast<size_t>(n));
                                   return static_cast<int16_t>(seen.size() == 2 ? 9 : 0);
                                 }),
            9);
  EXPECT_EQ(seen.size(), 2u);
  const int32_t empty = 0;
  EXPECT_EQ(zp::for_each_message(&empty, [](const char*, int16_t) { return int16_t{1}; }), 0);
}

}  // namespace
