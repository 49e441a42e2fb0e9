// Tests of the timer list. Time never passes by itself here: the processor
// clock is frozen and advanced by the tests.
#include <zeb/containers/timer.h>

#include <gtest/gtest.h>

#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>

namespace {

namespace err = zeb::err;
using zeb::platform::clock_advance;

struct Call {
  int16_t a1, a2;
  int32_t a3;
  int64_t at;
};
std::vector<Call> g_calls;
void* g_list = nullptr;  // the list of the running test

void record(int16_t a1, int16_t a2, int32_t a3) {
  g_calls.push_back({a1, a2, a3, PROCESSOR_CLOCK()});
}

std::vector<int32_t> third_args() {
  std::vector<int32_t> out;
  for (const Call& c : g_calls) out.push_back(c.a3);
  return out;
}

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zeb::platform::clock_freeze();
    g_calls.clear();
    ASSERT_EQ(MEM_DEFINEPOOL(area_.data(), kPoolSize), 0);
    ASSERT_EQ(TIMER_INIT(&list_, pool()), 0);
    t0_ = PROCESSOR_CLOCK();
    g_list = list_;
  }
  void TearDown() override {
    g_list = nullptr;
    zeb::platform::clock_release();
  }

  void* pool() { return area_.data(); }
  int32_t used() {
    PoolStats s{};
    MEM_STATS(zeb::mask({1, 2}), pool(), &s);
    return s.used;
  }
  // Inserts a timer with every parameter given.
  void* insert(int32_t ticks, int16_t type, int16_t a1, int16_t a2, int32_t a3,
               TimerProc proc = record) {
    void* t = nullptr;
    EXPECT_EQ(
        TIMER_INSERT(zeb::mask({1, 2, 3, 4, 5, 6, 7, 8}), list_, &t, proc, ticks, type, a1, a2, a3),
        0);
    return t;
  }
  int32_t delay() {
    int32_t d = -99;
    EXPECT_EQ(TIMER_DELAY(list_, &d), 0);
    return d;
  }
  // The third arguments of the entries in list order, and a check of the
  // order invariant on the way.
  std::vector<int32_t> listed() {
    std::vector<int32_t> out;
    auto* h = static_cast<zeb::TimerListHeader*>(list_);
    char* p = reinterpret_cast<char*>(h) + h->forward;
    int64_t last = INT64_MIN;
    while (p != reinterpret_cast<char*>(h)) {
      auto* e = reinterpret_cast<zeb::TimerEntry*>(p);
      EXPECT_GE(e->expiry, last);
      last = e->expiry;
      EXPECT_EQ(p + e->list, reinterpret_cast<char*>(h));
      out.push_back(e->arg3);
      p += e->forward;
    }
    return out;
  }

  static constexpr int32_t kPoolSize = 64 * 1024;
  std::vector<uint64_t> area_ = std::vector<uint64_t>(kPoolSize / 8);
  void* list_ = nullptr;
  int64_t t0_ = 0;
};

// ---- Order and delay ------------------------------------------------------------

TEST_F(TimerTest, EmptyListReportsMinusOne) {
  EXPECT_EQ(delay(), -1);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(TimerTest, ZeroTicksIsDueAtTheNextCall) {
  insert(0, 0, 1, 2, 3);
  EXPECT_EQ(delay(), -1) << "5 ms away truncates to 0 ticks: run now";
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].a1, 1);
  EXPECT_EQ(g_calls[0].a2, 2);
  EXPECT_EQ(g_calls[0].a3, 3);
  EXPECT_TRUE(listed().empty()) << "a one-shot timer is gone after it ran";
}

TEST_F(TimerTest, DelayReportsTicksUntilTheEarliestAndRunsNothingEarly) {
  insert(100, 0, 0, 0, 1);
  EXPECT_EQ(delay(), 100);
  clock_advance(995000);
  EXPECT_EQ(delay(), 1);
  clock_advance(1000);
  EXPECT_EQ(delay(), -1) << "within one tick counts as due";
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].at - t0_, 996000);
}

TEST_F(TimerTest, EntriesRunInExpiryOrderAndTiesInInsertionOrder) {
  insert(30, 0, 0, 0, 30);
  insert(10, 0, 0, 0, 10);
  insert(20, 0, 0, 0, 20);
  insert(10, 0, 0, 0, 11);
  insert(10, 0, 0, 0, 12);
  insert(40, 0, 0, 0, 40);
  EXPECT_EQ(listed(), (std::vector<int32_t>{10, 11, 12, 20, 30, 40}));
  EXPECT_EQ(delay(), 10);
  clock_advance(350000);
  EXPECT_EQ(delay(), 5);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{10, 11, 12, 20, 30}));
}

TEST_F(TimerTest, NegativeTicksAreAlreadyDue) {
  insert(-50, 0, 0, 0, 1);
  insert(5, 0, 0, 0, 2);
  EXPECT_EQ(listed(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(delay(), 5);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1}));
}

// ---- Periodic timers --------------------------------------------------------------

TEST_F(TimerTest, PeriodicTimerCatchesUpFromItsPreviousExpiry) {
  insert(10, 1, 0, 0, 7);
  clock_advance(1000000);
  EXPECT_EQ(delay(), 5) << "the tenth expiry, 1050 ms, is 50 ms away";
  ASSERT_EQ(g_calls.size(), 9u);
  auto* e = static_cast<zeb::TimerEntry*>(static_cast<void*>(
      static_cast<char*>(list_) + static_cast<zeb::TimerListHeader*>(list_)->forward));
  EXPECT_EQ(e->expiry - t0_, 1050000) << "back on the list, one interval on";
  EXPECT_EQ(e->interval, 105000);
  EXPECT_EQ(listed(), (std::vector<int32_t>{7}));
}

TEST_F(TimerTest, PeriodicTimerInterleavesWithOthers) {
  insert(10, 1, 0, 0, 1);  // 105, 210, 315 ms
  insert(20, 0, 0, 0, 2);  // 205 ms
  clock_advance(320000);
  delay();
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1, 2, 1, 1}));
}

TEST_F(TimerTest, PeriodicTimerWithNegativeTicksIsRefused) {
  void* t = reinterpret_cast<void*>(0x10);
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 2, 3, 4, 5}), list_, &t, record, -1, 1), err::kOutOfBounds);
  EXPECT_EQ(t, reinterpret_cast<void*>(0x10));
  EXPECT_TRUE(listed().empty());
}

// ---- Deletion ---------------------------------------------------------------------

TEST_F(TimerTest, DeleteByHandleGivesTheEntryBack) {
  int32_t before = used();
  void* a = insert(10, 0, 0, 0, 1);
  insert(20, 0, 0, 0, 2);
  ASSERT_EQ(TIMER_DELETE(zeb::mask({2}), nullptr, a), 0) << "the list is not needed";
  EXPECT_EQ(listed(), (std::vector<int32_t>{2}));
  // Deleting the same handle again is refused and leaves the list intact.
  EXPECT_NE(TIMER_DELETE(zeb::mask({2}), nullptr, a), 0);
  EXPECT_EQ(listed(), (std::vector<int32_t>{2}));
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1}), list_), 0);
  EXPECT_EQ(used(), before);
}

TEST_F(TimerTest, DeleteBySelectorsMatchesEveryGivenArgument) {
  insert(1, 0, 7, 1, 1);
  insert(2, 0, 7, 2, 2);
  insert(3, 0, 8, 1, 3);
  insert(4, 1, 7, 1, 4);
  insert(5, 0, -7, 1, 5);
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1, 3}), list_, nullptr, 7), 0);
  EXPECT_EQ(listed(), (std::vector<int32_t>{3, 5}));
  insert(6, 0, 8, 2, 6);
  // Argument 2 and argument 3 together.
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1, 4, 5}), list_, nullptr, 0, 1, 3), 0);
  EXPECT_EQ(listed(), (std::vector<int32_t>{5, 6}));
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1, 4}), list_, nullptr, 0, 2), 0);
  EXPECT_EQ(listed(), (std::vector<int32_t>{5}));
}

TEST_F(TimerTest, DeleteWithoutSelectorsEmptiesTheList) {
  int32_t before = used();
  for (int i = 0; i < 10; ++i) insert(i, i % 2, 0, 0, i);
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1}), list_), 0);
  EXPECT_TRUE(listed().empty());
  EXPECT_EQ(delay(), -1);
  EXPECT_EQ(used(), before);
}

TEST_F(TimerTest, MissingParametersAreRefused) {
  void* t = nullptr;
  EXPECT_EQ(TIMER_INSERT(zeb::mask({3, 4}), list_, &t, record, 10), err::kMissingParameter);
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 2, 4}), list_, &t, record, 10), err::kMissingParameter)
      << "no procedure";
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 2, 3}), list_, &t, record, 10), err::kMissingParameter)
      << "no ticks";
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 3, 4, 9}), list_, &t, record, 10), err::kInvalidOperation);
  EXPECT_EQ(TIMER_DELETE(zeb::mask({3}), list_, nullptr, 1), err::kMissingParameter);
  EXPECT_EQ(TIMER_DELETE(zeb::mask({1, 6}), list_), err::kInvalidOperation);
  // Only the required parameters: one-shot, arguments 0, no handle.
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 3, 4}), list_, nullptr, record, 0), 0);
  delay();
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].a1, 0);
  EXPECT_EQ(g_calls[0].a3, 0);
  EXPECT_TRUE(listed().empty());
}

TEST_F(TimerTest, PoolExhaustionIsReported) {
  // Room for the header and one entry (56-byte blocks each).
  std::vector<uint64_t> tiny(240 / 8);
  ASSERT_EQ(MEM_DEFINEPOOL(tiny.data(), 240), 0);
  void* list = nullptr;
  ASSERT_EQ(TIMER_INIT(&list, tiny.data()), 0);
  void* t = nullptr;
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 2, 3, 4}), list, &t, record, 1), 0);
  EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 2, 3, 4}), list, &t, record, 1), err::kPoolExhausted);
  void* list2 = nullptr;
  EXPECT_EQ(TIMER_INIT(&list2, tiny.data()), err::kPoolExhausted);
}

// ---- Invalid type -----------------------------------------------------------------

TEST_F(TimerTest, InvalidTypeRunsItsProcedureThenReports312AndStaysFirst) {
  insert(0, 5, 0, 0, 1);
  insert(50, 0, 0, 0, 2);
  int32_t d = -99;
  EXPECT_EQ(TIMER_DELAY(list_, &d), err::kBadTimer);
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(listed(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(TIMER_DELAY(list_, &d), err::kBadTimer);
  EXPECT_EQ(g_calls.size(), 2u) << "run again at every call";
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1, 4}), list_, nullptr, 0, 0), 0);
  EXPECT_EQ(delay(), -1);
}

// ---- Timer procedures that change the list -------------------------------------

void* g_handle = nullptr;
void* g_other = nullptr;

void delete_self(int16_t, int16_t, int32_t a3) {
  g_calls.push_back({0, 0, a3, PROCESSOR_CLOCK()});
  EXPECT_EQ(TIMER_DELETE(zeb::mask({2}), nullptr, g_handle), 0);
}

void delete_other(int16_t, int16_t, int32_t a3) {
  g_calls.push_back({0, 0, a3, PROCESSOR_CLOCK()});
  EXPECT_EQ(TIMER_DELETE(zeb::mask({2}), nullptr, g_other), 0);
}

void delete_all(int16_t, int16_t, int32_t a3) {
  g_calls.push_back({0, 0, a3, PROCESSOR_CLOCK()});
  EXPECT_EQ(TIMER_DELETE(zeb::mask({1}), g_list), 0);
}

void insert_more(int16_t, int16_t, int32_t a3) {
  g_calls.push_back({0, 0, a3, PROCESSOR_CLOCK()});
  if (a3 < 3) {
    void* t = nullptr;
    EXPECT_EQ(TIMER_INSERT(zeb::mask({1, 2, 3, 4, 5, 6, 7, 8}), g_list, &t, insert_more, 0, 0, 0, 0,
                           a3 + 1),
              0);
  }
  int32_t d = 0;
  EXPECT_EQ(TIMER_DELAY(g_list, &d), err::kInvalidOperation) << "no nested run of the same list";
}

TEST_F(TimerTest, PeriodicProcedureMayDeleteItself) {
  int32_t before = used();
  g_handle = insert(0, 1, 0, 0, 1, delete_self);
  insert(100, 0, 0, 0, 2);
  EXPECT_EQ(delay(), 100);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1}));
  EXPECT_EQ(listed(), (std::vector<int32_t>{2}));
  ASSERT_EQ(TIMER_DELETE(zeb::mask({1}), list_), 0);
  EXPECT_EQ(used(), before) << "the running entry was given back once";
}

TEST_F(TimerTest, OneShotProcedureMayDeleteItself) {
  int32_t before = used();
  g_handle = insert(0, 0, 0, 0, 1, delete_self);
  insert(0, 0, 0, 0, 2);
  EXPECT_EQ(delay(), -1);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(used(), before) << "given back exactly once";
}

TEST_F(TimerTest, ProcedureMayDeleteALaterTimer) {
  insert(0, 0, 0, 0, 1, delete_other);
  g_other = insert(0, 0, 0, 0, 2);
  insert(0, 0, 0, 0, 3);
  EXPECT_EQ(delay(), -1);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1, 3}));
}

TEST_F(TimerTest, ProcedureMayEmptyTheWholeList) {
  int32_t before = used();
  insert(0, 1, 0, 0, 1, delete_all);
  insert(0, 0, 0, 0, 2);
  insert(50, 1, 0, 0, 3);
  EXPECT_EQ(delay(), -1);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1}));
  EXPECT_EQ(used(), before);
}

TEST_F(TimerTest, ProcedureMayInsertTimersThatRunInTheSameCall) {
  insert(0, 0, 0, 0, 1, insert_more);
  EXPECT_EQ(delay(), -1);
  EXPECT_EQ(third_args(), (std::vector<int32_t>{1, 2, 3}));
}

}  // namespace
