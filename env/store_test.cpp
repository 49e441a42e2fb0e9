// The ASSIGN and PARAM store and the environment inquiry, on records and
// messages built here as the intake would deliver them.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <zeb/env/env.h>
#include "env/store.h"
#include "env/test_env.h"

namespace {

using zeb::test::assign_message;
using zeb::test::param_message;
using zeb::test::startup_message;
using zeb::test::TestEnv;

// The messages of a list, newest first.
std::vector<std::string> messages(int32_t* head) {
  std::vector<std::string> out;
  for (char* node = zeb::env::follow(head); node != reinterpret_cast<char*>(head);
       node = zeb::env::follow(reinterpret_cast<int32_t*>(node))) {
    out.emplace_back(node + 6, static_cast<size_t>(zeb::env::node_length(node)));
  }
  return out;
}

// "NAME=VALUE" for each PARAM node, newest first, checking the node's shape.
std::vector<std::string> params(TestEnv& env) {
  std::vector<std::string> out;
  for (const std::string& m : messages(&env->param_list)) {
    EXPECT_EQ(m.substr(0, 4), std::string("\xFF\xFD\x00\x01", 4));
    size_t nl = static_cast<unsigned char>(m[4]);
    size_t vl = static_cast<unsigned char>(m[5 + nl]);
    EXPECT_EQ(m.size(), nl + vl + 6);
    out.push_back(m.substr(5, nl) + "=" + m.substr(6 + nl, vl));
  }
  return out;
}

int16_t param_proc(TestEnv& env, const std::string& m, int length = -1) {
  return ENV_PARAMPROC_(env.get(), m.data(),
                        static_cast<int16_t>(length < 0 ? static_cast<int>(m.size()) : length));
}

TEST(ParamStore, UpshiftedNewestFirstAndNamesUnique) {
  TestEnv env;
  EXPECT_EQ(param_proc(env, param_message({})), 0);
  EXPECT_EQ(param_proc(env, param_message({{"a", "b"}}, -4)), 0);
  EXPECT_TRUE(params(env).empty());
  EXPECT_EQ(param_proc(env, param_message({{"speed", "fast"}, {"Mode", "x\xe9"}, {"", ""}})), 0);
  EXPECT_EQ(params(env), (std::vector<std::string>{"=", "MODE=X\xe9", "SPEED=FAST"}));
  EXPECT_EQ(ENV_ADDPARAM(env.get(), "Speed", 5, "1", 1), 0);
  EXPECT_EQ(ENV_ADDPARAM(env.get(), "SPEEDY", 6, "2", 1), 0);
  EXPECT_EQ(params(env), (std::vector<std::string>{"SPEEDY=2", "SPEED=1", "=", "MODE=X\xe9"}));
  // A replaced node goes back to the pool: replacing a parameter again and
  // again takes no more than room for one node more.
  PoolStats before{}, after{};
  MEM_STATS(zeb::mask({1, 2}), env.pool(), &before);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ENV_ADDPARAM(env.get(), "speedy", 6, "3", 1), 0);
  MEM_STATS(zeb::mask({1, 2}), env.pool(), &after);
  EXPECT_LE(after.used, before.used + 32);
  EXPECT_EQ(params(env).front(), "SPEEDY=3");
}

TEST(ParamStore, RefusedInputStoresNothing) {
  TestEnv env;
  const std::string two = param_message({{"A", "1"}, {"BB", "22"}});
  const std::string long_name(256, 'n');
  struct {
    int16_t error;
    int16_t got;
  } cases[] = {
      {ENV_ADDPARAM(env.get(), long_name.data(), 256, "v", 1), 22},
      {ENV_ADDPARAM(env.get(), "n", 1, long_name.data(), 256), 22},
      {ENV_ADDPARAM(env.get(), "n", -1, "v", 1), 22},
      {ENV_ADDPARAM(env.get(), nullptr, 3, "v", 1), 29},
      {ENV_ADDPARAM(nullptr, "n", 1, "v", 1), 29},
      {param_proc(env, two, static_cast<int>(two.size()) - 1), 308},  // value cut
      {param_proc(env, two, 9), 308},                                 // second name cut
      {param_proc(env, param_message({{"A", "1"}}, 2)), 308},         // count too high
      {param_proc(env, two, 3), 308},                                 // no count
      {ENV_PARAMPROC_(env.get(), nullptr, 10), 29},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].error, cases[i].got) << i;
  EXPECT_TRUE(params(env).empty());
  EXPECT_EQ(ENV_ADDPARAM(env.get(), long_name.data(), 255, long_name.data(), 255), 0);
  EXPECT_EQ(params(env).size(), 1u);
}

TEST(ParamStore, PoolExhaustedKeepsTheParametersBefore) {
  TestEnv env(2048);
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 20; ++i) {
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'P');  // one character: GCC 12 misjudges string joins at -O3
    many.emplace_back(name, std::string(100, 'v'));
  }
  EXPECT_EQ(param_proc(env, param_message(many)), 303);
  std::vector<std::string> stored = params(env);
  ASSERT_FALSE(stored.empty());
  ASSERT_LT(stored.size(), many.size());
  EXPECT_EQ(stored.back().substr(0, 3), "P0=");  // oldest is the first parameter
}

TEST(AssignStore, DefaultsFillBlankVolumeAndSubvolume) {
  TestEnv env;
  env.startup(startup_message("$DEF", "DEFSUB", "", "", ""));
  struct {
    const char* volume;
    const char* subvol;
    const char* file;
    std::string want;
  } cases[] = {
      {"", "SUB", "F", "$DEF    SUB     F       "}, {"", "", "F", "$DEF    DEFSUB  F       "},
      {"", "", "", "$DEF                    "},     {"$V", "", "", "$V                      "},
      {"$V", "", "F", "$V      DEFSUB  F       "},  {"$V", "S", "F", "$V      S       F       "},
  };
  for (const auto& c : cases) {
    std::string m = assign_message("LOG", c.volume, c.subvol, c.file);
    ASSERT_EQ(ENV_ASSIGNPROC_(env.get(), m.data(), static_cast<int16_t>(m.size())), 0);
    std::string stored = messages(&env->assign_list).front();
    EXPECT_EQ(stored.substr(70, 24), c.want);
    EXPECT_EQ(stored.substr(0, 70), m.substr(0, 70));
  }
  std::string shorter = assign_message("X", "$V", "S", "F").substr(0, 93);
  EXPECT_EQ(ENV_ASSIGNPROC_(env.get(), shorter.data(), 93), 308);
  EXPECT_EQ(messages(&env->assign_list).size(), std::size(cases));
}

// ENV_INQUIRE with every parameter given; the buffer is preset to 0xEE.
struct Answer {
  int16_t error;
  int16_t length;
  std::string data;
};

Answer inquire(TestEnv& env, int16_t item, const char* key, size_t size = 600) {
  std::string buffer(size, '\xEE');
  int16_t length = -99;
  int16_t error =
      ENV_INQUIRE(zeb::mask({1, 2, 3, 4, 5}), env.get(), item, key, buffer.data(), &length);
  return {error, length, buffer};
}

TEST(Inquire, StartUpItemsNeedTheirFlags) {
  TestEnv env(1 << 16, 0x0001 | 0x0004);
  env->in_fnum = 3;
  env->out_fnum = 4;
  std::string msg = startup_message("$VOL", "SUB", "$IN", "$OUT", "Run fast");
  env.startup(msg);
  EXPECT_EQ(inquire(env, ENVINFO_INFNUM, nullptr).error, 309);
  EXPECT_EQ(inquire(env, ENVINFO_TERMFNUM, nullptr).error, 309);
  Answer out = inquire(env, ENVINFO_OUTFNUM, nullptr);
  EXPECT_EQ(out.error, 0);
  EXPECT_EQ(out.length, 2);
  EXPECT_EQ(out.data.substr(0, 3), std::string("\x04\x00\xEE", 3));
  struct {
    int16_t item;
    std::string want;  // the bytes written
  } cases[] = {
      {ENVINFO_STARTUP, msg},
      {ENVINFO_DEFAULTS, "$VOL    SUB     "},
      {ENVINFO_INFILE, zeb::test::pad("$IN", 24)},
      {ENVINFO_OUTFILE, zeb::test::pad("$OUT", 24)},
      {ENVINFO_PARAMTEXT, std::string("RUN FAST\0", 9)},
      {ENVINFO_PARAMTEXTASIS, std::string("Run fast\0", 9)},
  };
  for (const auto& c : cases) {
    Answer a = inquire(env, c.item, nullptr);
    EXPECT_EQ(a.error, 0) << c.item;
    EXPECT_EQ(a.data.substr(0, c.want.size() + 1), c.want + "\xEE") << c.item;
    int16_t want_length = static_cast<int16_t>(c.want.size());
    if (c.item == ENVINFO_PARAMTEXT || c.item == ENVINFO_PARAMTEXTASIS) --want_length;
    EXPECT_EQ(a.length, want_length) << c.item;
  }
  TestEnv bare(1 << 16, 0x0000);
  EXPECT_EQ(inquire(bare, ENVINFO_STARTUP, nullptr).error, 309);
}

TEST(Inquire, ParameterTextWithoutStartUpMessageIsEmpty) {
  TestEnv env;
  for (int16_t item : {ENVINFO_PARAMTEXT, ENVINFO_PARAMTEXTASIS}) {
    Answer a = inquire(env, item, nullptr);
    EXPECT_EQ(a.error, 0);
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(a.data.substr(0, 2), std::string("\0\xEE", 2));
  }
  // A message of exactly 66 bytes has an empty text too.
  env.startup(startup_message("$V", "S", "", "", ""));
  EXPECT_EQ(inquire(env, ENVINFO_PARAMTEXT, nullptr).length, 0);
  Answer whole = inquire(env, ENVINFO_STARTUP, nullptr);
  EXPECT_EQ(whole.length, 66);
}

TEST(Inquire, CallingErrors) {
  TestEnv env;
  int16_t length = 5;
  EXPECT_EQ(ENV_INQUIRE(zeb::mask({2}), env.get(), 0), 29);
  EXPECT_EQ(ENV_INQUIRE(zeb::mask({1}), env.get()), 29);
  EXPECT_EQ(ENV_INQUIRE(zeb::mask({1, 2}), nullptr, 0), 29);
  EXPECT_EQ(ENV_INQUIRE(zeb::mask({1, 2, 6}), env.get(), 0), 2);
  for (int16_t item : {-1, 18, 32767})
    EXPECT_EQ(ENV_INQUIRE(zeb::mask({1, 2, 5}), env.get(), item, nullptr, nullptr, &length), 22);
  for (int16_t item = ENVINFO_ASSIGN; item <= ENVINFO_LCONFFNAMEINTERNAL; ++item) {
    EXPECT_EQ(ENV_INQUIRE(zeb::mask({1, 2, 5}), env.get(), item, nullptr, nullptr, &length), 29);
  }
  EXPECT_EQ(length, 5);
}

TEST(Inquire, ParamsByKeyAsTextCountedOrEquals) {
  TestEnv env;
  const std::string long_value(64, '1');
  const std::string long_name(60, 'K');
  ASSERT_EQ(param_proc(env, param_message({{"speed", "fast"},
                                           {"throttle", "25"},
                                           {"big", "70000"},
                                           {"neg", "-5"},
                                           {"ip", "10.0.0.1"},
                                           {"badip", "1.2.3"},
                                           {"long", long_value},
                                           {long_name.substr(0, 47), "cut"}})),
            0);
  struct {
    int16_t item;
    std::string key;
    int16_t error;
    int16_t length;
    std::string data;
  } cases[] = {
      {ENVINFO_PARAM, "speed", 0, 4, std::string("FAST\0", 5)},
      {ENVINFO_PARAM, "=speed", 0, 4, std::string("FAST\0", 5)},
      {ENVINFO_PARAM, "SPEED rest", 0, 4, std::string("FAST\0", 5)},
      {ENVINFO_PARAM, "\x05speed", 0, 4, std::string("FAST\0", 5)},
      {ENVINFO_PARAM, "spee", 11, -99, ""},
      {ENVINFO_PARAM, long_name, 0, 3, std::string("CUT\0", 4)},
      {ENVINFO_PARAMDOUBLE, "throttle", 0, 4, std::string("\x19\0\0\0", 4)},
      {ENVINFO_PARAMDOUBLE, "neg", 0, 4, "\xFB\xFF\xFF\xFF"},
      {ENVINFO_PARAMINT, "big", 0, 2, "\x70\x11"},
      {ENVINFO_PARAMINT, "speed", 315, -99, ""},
      {ENVINFO_PARAMDOUBLE, "long", 315, -99, ""},
      {ENVINFO_PARAMDOUBLE, "nothing", 11, -99, ""},
      {ENVINFO_PARAMIPADDR, "ip", 0, 4, std::string("\x0A\0\0\x01", 4)},
      {ENVINFO_PARAMIPADDR, "badip", 316, -99, ""},
  };
  for (const auto& c : cases) {
    Answer a = inquire(env, c.item, c.key.c_str());
    EXPECT_EQ(a.error, c.error) << c.key;
    EXPECT_EQ(a.length, c.length) << c.key;
    EXPECT_EQ(a.data.substr(0, c.data.size() + 1), c.data + "\xEE") << c.key;
  }
}

TEST(Inquire, AssignByLogicalNameNewestFirst) {
  TestEnv env;
  for (const auto& m :
       {assign_message("LOG", "$A", "S", "F1"), assign_message("OUT", "$B", "S", "F"),
        assign_message("LOG", "$A", "S", "F2"), assign_message("low", "$C", "S", "F")}) {
    ASSERT_EQ(ENV_ASSIGNPROC_(env.get(), m.data(), static_cast<int16_t>(m.size())), 0);
  }
  struct {
    const char* key;
    int16_t error;
    std::string data;
  } cases[] = {
      {"log", 0, "$A      S       F2      "},
      {"=out", 0, "$B      S       F       "},
      {"low", 11, ""},  // ASSIGN names are compared as the parent sent them
      {"LO", 11, ""},
  };
  for (const auto& c : cases) {
    Answer a = inquire(env, ENVINFO_ASSIGN, c.key);
    EXPECT_EQ(a.error, c.error) << c.key;
    if (c.error == 0) {
      EXPECT_EQ(a.length, 24);
      EXPECT_EQ(a.data.substr(0, 25), c.data + "\xEE");
    }
  }
  // Length first, then the data.
  int16_t length = 0;
  EXPECT_EQ(
      ENV_INQUIRE(zeb::mask({1, 2, 3, 5}), env.get(), ENVINFO_ASSIGN, "OUT", nullptr, &length), 0);
  EXPECT_EQ(length, 24);
}

// Look-ups by name against a plain model, over many PARAMs and ASSIGNs with
// names replaced, repeated and looked up again, and with the lists emptied
// behind the store's back (as start-up does) and filled again at the same
// addresses: every answer is the newest node's.
TEST(Inquire, LookUpsFollowEveryChangeOfTheLists) {
  TestEnv env(1 << 20);
  std::mt19937 rng(2027);
  std::map<std::string, std::string> params, assigns;
  // Names and values are appended to, not added up: GCC 12 warns falsely
  // about operator+ on a literal and a string.
  auto text = [](char first, uint32_t n) {
    std::string t(1, first);
    t += std::to_string(n);
    return t;
  };
  auto name = [&] { return text('N', rng() % 400); };
  for (int step = 0; step < 6000; ++step) {
    const uint32_t action = rng() % 100;
    if (action < 40) {
      std::string n = name(), v = text('V', static_cast<uint32_t>(step));
      ASSERT_EQ(ENV_ADDPARAM(env.get(), n.data(), static_cast<int16_t>(n.size()), v.data(),
                             static_cast<int16_t>(v.size())),
                0);
      params[n] = v;
    } else if (action < 70) {
      std::string n = name(), f = text('F', static_cast<uint32_t>(step));
      std::string m = assign_message(n, "$V", "S", f);
      ASSERT_EQ(ENV_ASSIGNPROC_(env.get(), m.data(), static_cast<int16_t>(m.size())), 0);
      assigns[n] = zeb::test::pad(f, 8);
    } else if (action < 71) {
      env->param_list = env->assign_list = zeb::kEmptyList;
      params.clear();
      assigns.clear();
    } else {
      std::string n = name();
      Answer p = inquire(env, ENVINFO_PARAM, n.c_str());
      auto it = params.find(n);
      ASSERT_EQ(p.error, it == params.end() ? 11 : 0) << n << " step " << step;
      if (it != params.end()) {
        EXPECT_EQ(p.data.substr(0, it->second.size()), it->second);
      }
      Answer a = inquire(env, ENVINFO_ASSIGN, n.c_str());
      auto at = assigns.find(n);
      ASSERT_EQ(a.error, at == assigns.end() ? 11 : 0) << n << " step " << step;
      if (at != assigns.end()) {
        EXPECT_EQ(a.data.substr(16, 8), at->second);
      }
    }
  }
}

}  // namespace
