// Logical file names through DEFINEs, ASSIGNs and the configuration file,
// and the operator's lconf tool, run as a child process.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include <zeb/env/env.h>
#include <zeb/platform/fs.h>
#include "env/test_env.h"
#include "platform/testing/testing.h"

namespace {

using zeb::test::assign_message;
using zeb::test::pad;
using zeb::test::startup_message;
using zeb::test::TestEnv;

using zeb::testing::ChildRun;
using zeb::testing::file_text;
using zeb::testing::write_text;

// Runs lconf with the arguments, its output and errors captured.
ChildRun lconf(std::vector<std::string> args) {
  zeb::testing::Program program;
  program.path = LCONF_PATH;
  program.args = std::move(args);
  return zeb::testing::run_program(program);
}

const char kConfig[] =
    "# the test configuration\n"
    "\n"
    "P throttle 25\n"
    "P three abc\n"
    "P spaced  two blanks and trailing \n"
    "A cfg $conf.sub.cfgfile\n"
    "A chain =next\n"
    "A next $conf.sub.nextfile\n"
    "A both $conf.sub.main =alt\n"
    "A alt $conf.sub.altfile\n"
    "A bare plain\n";

class FnameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(volume_.path("zeb").c_str(), 0700), 0);
    write_text(volume_.path("lconf.txt"), kConfig);
    ChildRun r = lconf({"build", volume_.path("lconf.txt"), volume_.path("zeb/lconf")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::memcpy(env_->lconf_name, pad("$CONF.ZEB.LCONF", 48).data(), 48);
    env_.startup(startup_message("$DEF", "DEFSUB", "", "", ""));
    for (const auto& m :
         {assign_message("LCONF", "$ASG", "S", "LCONF"),
          assign_message("OTHER", "$ASG", "S", "OTHER"), assign_message("NOVOL", "", "", "F")}) {
      ASSERT_EQ(ENV_ASSIGNPROC_(env_.get(), m.data(), static_cast<int16_t>(m.size())), 0);
    }
    zeb::testing::set_variable("ZEB_DEFINE_LCONF", "$def.sub.fromdef");
    zeb::testing::set_variable("ZEB_DEFINE_toother", "=other");
    zeb::testing::set_variable("ZEB_DEFINE_LOOP", "=loop2");
    zeb::testing::set_variable("ZEB_DEFINE_LOOP2", "=loop");
    zeb::testing::set_variable("ZEB_DEFINE_BADFILE", "$$$.x");
  }
  void TearDown() override {
    for (const char* name : {"ZEB_DEFINE_LCONF", "ZEB_DEFINE_toother", "ZEB_DEFINE_LOOP",
                             "ZEB_DEFINE_LOOP2", "ZEB_DEFINE_BADFILE"}) {
      zeb::testing::set_variable(name, std::nullopt);
    }
  }

  zeb::testing::ScratchVolume volume_{"$CONF"};
  TestEnv env_;
};

struct Resolved {
  int16_t error;
  std::string internal, external;
  int16_t length;
};

Resolved resolve(EnvRecord* env, const char* name, int16_t translate = 0) {
  char internal[24], external[48];
  std::memset(internal, '#', sizeof internal);
  std::memset(external, '#', sizeof external);
  int16_t length = -7;
  int16_t error =
      ENV_FNAME(zeb::mask({1, 2, 3, 4, 5, 6}), env, name, internal, external, &length, translate);
  return {error, std::string(internal, 24), std::string(external, 48), length};
}

TEST_F(FnameTest, NamesResolveInOrderDefineAssignConfiguration) {
  struct {
    const char* name;
    int16_t translate;
    int16_t error;
    const char* external;  // on success
  } cases[] = {
      {"$DATA.SUB.FILE", 0, 0, "$DATA.SUB.FILE"},
      {"$data.sub.file more", 0, 0, "$DATA.SUB.FILE"},
      {"$DATA   SUB     FILE    ", 0, 0, "$DATA.SUB.FILE"},
      {"file", 0, 0, "$DEF.DEFSUB.FILE"},
      {"sub.file", 0, 0, "$DEF.SUB.FILE"},
      {"=lconf", 0, 0, "$DEF.SUB.FROMDEF"},    // the DEFINE wins over the ASSIGN
      {"=toother", 0, 0, "$ASG.S.OTHER"},      // DEFINE to ASSIGN
      {"=novol", 0, 0, "$DEF.DEFSUB.F"},       // ASSIGN completed from the defaults
      {"=cfg", 0, 0, "$CONF.SUB.CFGFILE"},     // configuration file
      {"=chain", 0, 0, "$CONF.SUB.NEXTFILE"},  // configuration file, twice
      {"=bare", 0, 0, "$DEF.DEFSUB.PLAIN"},    // configuration file, defaults
      {"=both", 1, 0, "$CONF.SUB.ALTFILE"},    // translated to the alternate first
      {"$conf.sub.x", 1, 11, nullptr},         // translation needs an A record
      {"=loop", 0, 13, nullptr},               // a chain that never ends
      {"=badfile", 0, 13, nullptr},            // a name that cannot be expanded
      {"$$$", 0, 13, nullptr},
      {"=nowhere", 0, 11, nullptr},   // no DEFINE, ASSIGN or entry
      {"=throttle", 0, 11, nullptr},  // a P record is no file
  };
  for (const auto& c : cases) {
    Resolved r = resolve(env_.get(), c.name, c.translate);
    EXPECT_EQ(r.error, c.error) << c.name;
    if (c.error != 0) {
      // Nothing is stored on an error.
      EXPECT_EQ(r.internal, std::string(24, '#')) << c.name;
      EXPECT_EQ(r.external, std::string(48, '#')) << c.name;
      EXPECT_EQ(r.length, -7) << c.name;
      continue;
    }
    std::string want = c.external;
    EXPECT_EQ(r.length, static_cast<int16_t>(want.size())) << c.name;
    EXPECT_EQ(r.external, want + std::string(48 - want.size(), '#')) << c.name;
    char internal[24];
    ASSERT_NE(FNAMEEXPAND(want.data(), static_cast<int16_t>(want.size()), internal), 0);
    EXPECT_EQ(r.internal, std::string(internal, 24)) << c.name;
  }
}

TEST_F(FnameTest, WithoutConfigurationFileLogicalNamesFailAtTheOpen) {
  std::memset(env_->lconf_name, ' ', 48);
  EXPECT_EQ(resolve(env_.get(), "=cfg").error, 13);
  EXPECT_EQ(resolve(env_.get(), "=other").error, 0);
  std::memcpy(env_->lconf_name, pad("$CONF.ZEB.NOFILE", 48).data(), 48);
  EXPECT_EQ(resolve(env_.get(), "=cfg").error, 11);
  EXPECT_EQ(ENV_FNAME(zeb::mask({2}), env_.get(), "x"), 29);
  EXPECT_EQ(ENV_FNAME(zeb::mask({1}), env_.get(), "x"), 29);
}

TEST_F(FnameTest, InquiryItemsResolveNames) {
  char buffer[48];
  int16_t length = 0;
  struct {
    int16_t item;
    const char* key;
    int16_t length;
    std::string data;
  } cases[] = {
      {ENVINFO_FNAME, "=cfg", 17, "$CONF.SUB.CFGFILE"},
      {ENVINFO_FNAMEINTERNAL, "=cfg", 24, "$CONF   SUB     CFGFILE "},
      {ENVINFO_LCONFFNAME, "=both", 17, "$CONF.SUB.ALTFILE"},
      {ENVINFO_LCONFFNAMEINTERNAL, "=both", 24, "$CONF   SUB     ALTFILE "},
  };
  for (const auto& c : cases) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ENV_INQUIRE(zeb::mask({1, 2, 3, 4, 5}), env_.get(), c.item, c.key, buffer, &length),
              0);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(std::string(buffer, c.data.size() + 1), c.data + "#");
  }
  // Item 14 stores its length before the name is resolved.
  length = 0;
  EXPECT_EQ(ENV_INQUIRE(zeb::mask({1, 2, 3, 4, 5}), env_.get(), ENVINFO_FNAMEINTERNAL, "=nowhere",
                        buffer, &length),
            11);
  EXPECT_EQ(length, 24);
}

TEST_F(FnameTest, ConfigurationInfoByItem) {
  const char* file = env_->lconf_name;
  char result[128];
  struct {
    int16_t item;
    const char* key;
    int16_t error;
    std::string data;
  } cases[] = {
      {0, "three", 0, "abc "},  // value length 3: three bytes and a blank
      {0, "=THROTTLE", 0, "25 "},
      {0, "spaced", 0, " two blanks and trailing  "},
      {1, "both", 0, pad("$CONF.SUB.MAIN", 48)},
      {2, "both", 0, pad("=ALT", 48)},
      {2, "cfg", 0, pad("", 48)},
      {1, "three", 11, ""},
      {0, "cfg", 11, ""},
      {3, "cfg", 2, ""},
      {-1, "cfg", 2, ""},
  };
  for (const auto& c : cases) {
    std::memset(result, '#', sizeof result);
    EXPECT_EQ(LCONF_INFO(file, c.item, c.key, result), c.error) << c.key;
    EXPECT_EQ(std::string(result, c.data.size() + 1), c.data + "#") << c.key;
  }
}

TEST(Lconf, ShowGivesTheTextBackAndBuildRefusesBadLines) {
  zeb::testing::ScratchDirectory dir;
  const std::string text = dir.path() + "/in.txt", file = dir.path() + "/conf.db";
  write_text(text, kConfig);
  ASSERT_EQ(lconf({"build", text, file}).status, 0);
  ChildRun shown = lconf({"show", file});
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out,
            "A ALT $CONF.SUB.ALTFILE\n"
            "A BARE PLAIN\n"
            "A BOTH $CONF.SUB.MAIN =ALT\n"
            "A CFG $CONF.SUB.CFGFILE\n"
            "A CHAIN =NEXT\n"
            "A NEXT $CONF.SUB.NEXTFILE\n"
            "P SPACED  two blanks and trailing \n"
            "P THREE abc\n"
            "P THROTTLE 25\n");
  // The shown text builds the same file.
  write_text(text, shown.out);
  const std::string again = dir.path() + "/again.db";
  ASSERT_EQ(lconf({"build", text, again}).status, 0);
  EXPECT_EQ(lconf({"show", again}).out, shown.out);

  const std::string before = file_text(file);
  const std::string long_name(33, 'N'), long_value(119, 'v');
  struct {
    std::string line;
    std::string reason;
  } bad[] = {
      {"X NAME v", "record type must be P or A"},
      {"P", "missing name"},
      {"P " + long_name + " v", "name longer than 32"},
      {"P NAME " + long_value, "value longer than 118"},
      {"A NAME", "missing file name"},
      {"A NAME $A.B.C =ALT extra", "text after the alternate name"},
      {"A NAME $A.B.C.D", "not a file name: $A.B.C.D"},
      {"A NAME $VOLUMEXX.SUB.FILE", "not a file name: $VOLUMEXX.SUB.FILE"},
      {"A NAME = ", "empty logical name as file name"},
      {"P THROTTLE 30", "entry already given on line 1"},
      {std::string("P NA\x01ME v"), "bad character in name"},
  };
  for (const auto& b : bad) {
    write_text(text, "P throttle 25\n# comment\n" + b.line + "\n");
    ChildRun r = lconf({"build", text, file});
    EXPECT_EQ(r.status, 1) << b.line;
    EXPECT_EQ(r.err, text + ":3: " + b.reason + "\n") << b.line;
    EXPECT_EQ(file_text(file), before) << b.line;
  }
  // Nothing but the files made here is left in the directory.
  ChildRun none = lconf({"build", text, dir.path() + "/new.db"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(::access((dir.path() + "/new.db").c_str(), F_OK), 0);
  EXPECT_EQ(lconf({"build", dir.path() + "/missing.txt", file}).status, 1);
  EXPECT_EQ(lconf({"show", text}).status, 1);
  EXPECT_EQ(lconf({"frobnicate"}).status, 2);
}

}  // namespace
