// Tests of the checked intrusive queues: order of insertion and removal,
// the link checks, and the statistics.
#include <zeb/containers/queue.h>

#include <gtest/gtest.h>

#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>

namespace {

namespace err = zeb::err;

struct Item {
  QueueLinks links;
  int value;
};

std::vector<int> forward_values(QueueHeader* q) {
  std::vector<int> out;
  for (void* p = QUEUE_NEXT(q); p != q; p = QUEUE_NEXT(p))
    out.push_back(static_cast<Item*>(p)->value);
  return out;
}

std::vector<int> backward_values(QueueHeader* q) {
  std::vector<int> out;
  for (void* p = QUEUE_PREV(q); p != q; p = QUEUE_PREV(p))
    out.push_back(static_cast<Item*>(p)->value);
  return out;
}

int32_t count_of(QueueHeader* q) {
  int32_t n = -1;
  EXPECT_EQ(QUEUE_COUNT(q, &n), 0);
  return n;
}

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QUEUE_INIT(&q), 0);
    for (int i = 0; i < 5; ++i) items[i].value = i;
  }
  QueueHeader q{};
  Item items[5]{};
};

// ---- Order ------------------------------------------------------------------

TEST_F(QueueTest, EmptyQueueLinksToItself) {
  EXPECT_EQ(QUEUE_NEXT(&q), &q);
  EXPECT_EQ(QUEUE_PREV(&q), &q);
  EXPECT_EQ(QUEUE_HEAD(&q), &q);
  EXPECT_EQ(QUEUE_EMPTY(&q), -1);
  EXPECT_EQ(count_of(&q), 0);
}

TEST_F(QueueTest, EnqueueAddsAtTheFrontAndEnqueueTailAtTheBack) {
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[0]), 0);
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[1]), 0);
  EXPECT_EQ(forward_values(&q), (std::vector<int>{1, 0}));
  ASSERT_EQ(QUEUE_ENQUEUETAIL(&q, &items[2]), 0);
  ASSERT_EQ(QUEUE_ENQUEUETAIL(&q, &items[3]), 0);
  EXPECT_EQ(forward_values(&q), (std::vector<int>{1, 0, 2, 3}));
  EXPECT_EQ(backward_values(&q), (std::vector<int>{3, 2, 0, 1}));
  EXPECT_EQ(count_of(&q), 4);
  EXPECT_EQ(QUEUE_EMPTY(&q), 0);
  EXPECT_EQ(QUEUE_HEAD(&items[2]), &q);
}

TEST_F(QueueTest, InsertAfterHeaderEqualsEnqueueAndInsertAfterElementGoesBehindIt) {
  ASSERT_EQ(QUEUE_INSERT(&q, &items[0]), 0);
  ASSERT_EQ(QUEUE_INSERT(&q, &items[1]), 0);
  EXPECT_EQ(forward_values(&q), (std::vector<int>{1, 0}));
  ASSERT_EQ(QUEUE_INSERT(&items[1], &items[2]), 0);
  ASSERT_EQ(QUEUE_INSERT(&items[0], &items[3]), 0);
  EXPECT_EQ(forward_values(&q), (std::vector<int>{1, 2, 0, 3}));
  EXPECT_EQ(backward_values(&q), (std::vector<int>{3, 0, 2, 1}));
  EXPECT_EQ(count_of(&q), 4);
}

TEST_F(QueueTest, DequeueTakesTheFrontAndDequeueTailTheBack) {
  for (int i = 0; i < 4; ++i) ASSERT_EQ(QUEUE_ENQUEUETAIL(&q, &items[i]), 0);
  void* e = nullptr;
  ASSERT_EQ(QUEUE_DEQUEUE(&q, &e), 0);
  EXPECT_EQ(e, &items[0]);
  ASSERT_EQ(QUEUE_DEQUEUETAIL(&q, &e), 0);
  EXPECT_EQ(e, &items[3]);
  EXPECT_EQ(forward_values(&q), (std::vector<int>{1, 2}));
  EXPECT_EQ(count_of(&q), 2);
  ASSERT_EQ(QUEUE_DELETE(&items[2]), 0);
  ASSERT_EQ(QUEUE_DELETE(&items[1]), 0);
  EXPECT_EQ(QUEUE_EMPTY(&q), -1);
  EXPECT_EQ(QUEUE_NEXT(&q), &q);
  EXPECT_EQ(QUEUE_PREV(&q), &q);
}

TEST_F(QueueTest, RemovedElementHasZeroLinks) {
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[0]), 0);
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[1]), 0);
  ASSERT_EQ(QUEUE_DELETE(&items[0]), 0);
  EXPECT_EQ(QUEUE_NEXT(&items[0]), nullptr);
  EXPECT_EQ(QUEUE_PREV(&items[0]), nullptr);
  EXPECT_EQ(QUEUE_HEAD(&items[0]), nullptr);
  void* e = nullptr;
  ASSERT_EQ(QUEUE_DEQUEUE(&q, &e), 0);
  EXPECT_EQ(QUEUE_HEAD(e), nullptr);
}

TEST_F(QueueTest, EmptyQueueDequeueReturns301AndLeavesTheReference) {
  void* e = &items[4];
  EXPECT_EQ(QUEUE_DEQUEUE(&q, &e), err::kEndOfQueue);
  EXPECT_EQ(QUEUE_DEQUEUETAIL(&q, &e), err::kEndOfQueue);
  EXPECT_EQ(e, &items[4]);
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[0]), 0);
  ASSERT_EQ(QUEUE_DEQUEUETAIL(&q, &e), 0);
  EXPECT_EQ(QUEUE_DEQUEUE(&q, &e), err::kEndOfQueue);
}

// ---- Checks -------------------------------------------------------------------

TEST_F(QueueTest, ElementOnNoQueueIsRefused) {
  // Never inserted (links 0) and removed elements alike.
  EXPECT_EQ(QUEUE_DELETE(&items[0]), err::kQueueLinks);
  EXPECT_EQ(QUEUE_INSERT(&items[0], &items[1]), err::kQueueLinks);
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[0]), 0);
  ASSERT_EQ(QUEUE_DELETE(&items[0]), 0);
  EXPECT_EQ(QUEUE_DELETE(&items[0]), err::kQueueLinks) << "deleted twice";
  EXPECT_EQ(QUEUE_INSERT(&items[0], &items[1]), err::kQueueLinks);
  EXPECT_EQ(count_of(&q), 0);
}

TEST_F(QueueTest, OverwrittenHeaderMakesEveryCheckingProcedureFail) {
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[0]), 0);
  ASSERT_EQ(QUEUE_ENQUEUE(&q, &items[1]), 0);
  q.links.queue = &items[3];
  void* e = nullptr;
  int32_t n = 0;
  QueueStats s{};
  EXPECT_EQ(QUEUE_COUNT(&q, &n), err::kQueueLinks);
  EXPECT_EQ(QUEUE_STATS(zeb::mask({1, 2}), &q, &s), err::kQueueLinks);
  EXPECT_EQ(QUEUE_ENQUEUE(&q, &items[2]), err::kQueueLinks);
  EXPECT_EQ(QUEUE_ENQUEUETAIL(&q, &items[2]), err::kQueueLinks);
  EXPECT_EQ(QUEUE_INSERT(&items[0], &items[2]), err::kQueueLinks);
  EXPECT_EQ(QUEUE_DELETE(&items[0]), err::kQueueLinks);
  EXPECT_EQ(QUEUE_DEQUEUE(&q, &e), err::kQueueLinks);
  EXPECT_EQ(QUEUE_DEQUEUETAIL(&q, &e), err::kQueueLinks);
  EXPECT_EQ(e, nullptr);
  q.links.queue = &q;
  EXPECT_EQ(forward_values(&q), (std::vector<int>{1, 0}));
  EXPECT_EQ(count_of(&q), 2);
  EXPECT_EQ(q.inserts, 2);
  EXPECT_EQ(q.removes, 0);
}

TEST_F(QueueTest, BrokenNeighbourLinksAreRefusedBeforeAnyChange) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(QUEUE_ENQUEUETAIL(&q, &items[i]), 0);
  void* e = nullptr;
  // The second element no longer points back at the first.
  items[1].links.backward = &q;
  EXPECT_EQ(QUEUE_DEQUEUE(&q, &e), err::kQueueLinks);
  EXPECT_EQ(QUEUE_DELETE(&items[0]), err::kQueueLinks);
  EXPECT_EQ(QUEUE_INSERT(&items[0], &items[3]), err::kQueueLinks);
  items[1].links.backward = &items[0];
  // The element before the last no longer points at the last.
  items[1].links.forward = &q;
  EXPECT_EQ(QUEUE_DEQUEUETAIL(&q, &e), err::kQueueLinks);
  EXPECT_EQ(QUEUE_DELETE(&items[2]), err::kQueueLinks);
  items[1].links.forward = &items[2];
  // The first element's backward link, and the last's forward link.
  items[0].links.backward = &items[2];
  EXPECT_EQ(QUEUE_ENQUEUE(&q, &items[3]), err::kQueueLinks);
  items[0].links.backward = &q;
  items[2].links.forward = &items[0];
  EXPECT_EQ(QUEUE_ENQUEUETAIL(&q, &items[3]), err::kQueueLinks);
  items[2].links.forward = &q;
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(forward_values(&q), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(count_of(&q), 3);
  EXPECT_EQ(q.removes, 0);
}

TEST_F(QueueTest, HeaderIsNeverDeletedOrInserted) {
  EXPECT_EQ(QUEUE_DELETE(&q), err::kQueueLinks);
  EXPECT_EQ(QUEUE_ENQUEUE(&q, &q), err::kQueueLinks);
  // A count that claims elements on an empty ring.
  q.count = 2;
  void* e = nullptr;
  EXPECT_EQ(QUEUE_DEQUEUE(&q, &e), err::kQueueLinks);
  EXPECT_EQ(QUEUE_DEQUEUETAIL(&q, &e), err::kQueueLinks);
  EXPECT_EQ(QUEUE_NEXT(&q), &q);
}

// ---- Statistics ---------------------------------------------------------------

TEST_F(QueueTest, StatisticsCountAndResetWithoutTouchingTheCount) {
  zeb::platform::clock_freeze();
  ASSERT_EQ(QUEUE_INIT(&q), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(QUEUE_ENQUEUETAIL(&q, &items[i]), 0);
  void* e = nullptr;
  ASSERT_EQ(QUEUE_DEQUEUE(&q, &e), 0);
  ASSERT_EQ(QUEUE_DEQUEUE(&q, &e), 0);
  EXPECT_EQ(QUEUE_DELETE(&items[0]), err::kQueueLinks) << "failed calls do not count";
  zeb::platform::clock_advance(1500);
  QueueStats s{};
  ASSERT_EQ(QUEUE_STATS(zeb::mask({1, 2, 3}), &q, &s, -1), 0);
  EXPECT_EQ(s.elapsed, 1500);
  EXPECT_EQ(s.inserts, 3);
  EXPECT_EQ(s.removes, 2);
  ASSERT_EQ(QUEUE_STATS(zeb::mask({1, 2}), &q, &s), 0);
  EXPECT_EQ(s.elapsed, 0);
  EXPECT_EQ(s.inserts, 0);
  EXPECT_EQ(s.removes, 0);
  EXPECT_EQ(count_of(&q), 1);
  zeb::platform::clock_advance(20);
  ASSERT_EQ(QUEUE_STATS(zeb::mask({1, 2}), &q, &s), 0);
  EXPECT_EQ(s.elapsed, 20);
  zeb::platform::clock_release();
}

TEST_F(QueueTest, StatisticsChecksItsParameters) {
  QueueStats s{};
  EXPECT_EQ(QUEUE_STATS(zeb::mask({2}), nullptr, &s), err::kMissingParameter);
  EXPECT_EQ(QUEUE_STATS(zeb::mask({1, 2, 4}), &q, &s, 0), err::kInvalidOperation);
}

}  // namespace
