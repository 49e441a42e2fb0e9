// The form example on the simulated 6530: the keys a user presses and the
// screen the form leaves, and the form refused by an ordinary terminal.
// Each key is pressed once the form has drawn what the previous one changed.
#include <gtest/gtest.h>

#include <string>

#include "platform/files/pty.h"
#include "terminal/sim6530.h"

namespace {

using zeb::terminal::Screen6530;
using zeb::terminal::Sim6530;

// Waits until the form has sent text since the start.
bool Sent(Sim6530& sim, const std::string& text) {
  return sim.wait_for([&](const std::string& out) { return out.find(text) != std::string::npos; });
}

// Starts the form on sim as a terminal of the given type: the process id, or
// 0 (with the failure reported) when the simulator or the start failed.
long StartForm(Sim6530& sim, const std::string& type) {
  if (!sim.ok()) {
    ADD_FAILURE() << "the simulated terminal did not start";
    return 0;
  }
  zeb::platform::Result<long> spawned =
      sim.pty().spawn({ZEB_FORM_PROGRAM}, {"ZEB_TERMINAL=" + type});
  if (!spawned.ok()) {
    ADD_FAILURE() << spawned.status().to_string();
    return 0;
  }
  return *spawned;
}

TEST(FormExample, FunctionKeysCountAndSendTheOrder) {
  Sim6530 sim(1, 8, 40);
  const long pid = StartForm(sim, "6530");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(Sent(sim, "F16 sends the order."));
  sim.press_key('@');  // F1
  ASSERT_TRUE(Sent(sim, "Quantity:   1"));
  sim.press_key('@');
  ASSERT_TRUE(Sent(sim, "Quantity:   2"));
  sim.press_key('O');  // F16
  ASSERT_TRUE(Sent(sim, "Order sent."));
  EXPECT_EQ(zeb::platform::PseudoTerminal::wait(pid, false), 0);
  std::string page = sim.with_screen([](const Screen6530& s) { return s.page_text(0); });
  EXPECT_EQ(page,
            " ORDER FORM\n"
            "\n"
            " Item:     WIDGET\n"
            " Quantity:   2\n"
            "\n"
            " F1 adds one, F16 sends the order.\n"
            " Order sent.\n");
}

TEST(FormExample, AnOrdinaryTerminalHasNoBlockMode) {
  Sim6530 sim(1, 8, 60);
  const long pid = StartForm(sim, "vt100");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(Sent(sim, "form: no block mode on this terminal: 320"));
  EXPECT_EQ(zeb::platform::PseudoTerminal::wait(pid, false), 3);
}

}  // namespace
