// Checked intrusive queues. Each operation verifies the links it is about to
// change, in a fixed order, before it changes anything; a failed test
// returns 300 and leaves links, count and statistics as they were.
#include <zeb/containers/queue.h>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>

namespace {

namespace err = zeb::err;

QueueLinks* links(void* p) { return static_cast<QueueLinks*>(p); }
const QueueLinks* links(const void* p) { return static_cast<const QueueLinks*>(p); }

bool valid_header(const QueueHeader* q) { return q->links.queue == q; }

// Links element between pred and succ of queue q.
void link_between(QueueHeader* q, void* pred, void* succ, void* element) {
  QueueLinks* e = links(element);
  e->forward = succ;
  e->backward = pred;
  e->queue = q;
  links(pred)->forward = element;
  links(succ)->backward = element;
  ++q->count;
  ++q->inserts;
}

// Unlinks element from q and clears its three link words.
void unlink(QueueHeader* q, void* element) {
  QueueLinks* e = links(element);
  links(e->backward)->forward = e->forward;
  links(e->forward)->backward = e->backward;
  e->forward = nullptr;
  e->backward = nullptr;
  e->queue = nullptr;
  --q->count;
  ++q->removes;
}

// The two ends of a queue are handled by one procedure each, named by the
// link In that leads from the header to the end (forward to the head,
// backward to the tail) and its opposite Out, which leads back.
using Link = void* QueueLinks::*;

template <Link In, Link Out>
int16_t put_at_end(QueueHeader* queue, void* element) {
  if (queue == nullptr || element == nullptr) return err::kMissingParameter;
  if (!valid_header(queue) || element == queue) return err::kQueueLinks;
  void* end = queue->links.*In;
  if (links(end)->*Out != queue) return err::kQueueLinks;
  // The new element goes between the header and the old end.
  if constexpr (In == &QueueLinks::forward) {
    link_between(queue, queue, end, element);
  } else {
    link_between(queue, end, queue, element);
  }
  return err::kOk;
}

template <Link In, Link Out>
int16_t take_from_end(QueueHeader* queue, void** element) {
  if (queue == nullptr || element == nullptr) return err::kMissingParameter;
  if (!valid_header(queue)) return err::kQueueLinks;
  void* end = queue->links.*In;
  if (links(end)->*Out != queue) return err::kQueueLinks;
  if (queue->count == 0) return err::kEndOfQueue;
  // A count that claims elements on a ring that has none is inconsistent.
  if (end == queue) return err::kQueueLinks;
  void* next = links(end)->*In;
  if (links(next)->*Out != end) return err::kQueueLinks;
  unlink(queue, end);
  *element = end;
  return err::kOk;
}

constexpr Link kForward = &QueueLinks::forward;
constexpr Link kBackward = &QueueLinks::backward;

}  // namespace

int16_t QUEUE_INIT(QueueHeader* queue) {
  if (queue == nullptr) return err::kMissingParameter;
  queue->links.forward = queue;
  queue->links.backward = queue;
  queue->links.queue = queue;
  queue->count = 0;
  queue->reserved = 0;
  return QUEUE_STATS(zeb::mask({1, 3}), queue, nullptr, zeb::kTrue);
}

void* QUEUE_NEXT(const void* element) { return links(element)->forward; }
void* QUEUE_PREV(const void* element) { return links(element)->backward; }
void* QUEUE_HEAD(const void* element) { return links(element)->queue; }

int16_t QUEUE_COUNT(const QueueHeader* queue, int32_t* count) {
  if (queue == nullptr || count == nullptr) return err::kMissingParameter;
  if (!valid_header(queue)) return err::kQueueLinks;
  *count = queue->count;
  return err::kOk;
}

int16_t QUEUE_EMPTY(const QueueHeader* queue) {
  return queue->count == 0 ? zeb::kTrue : zeb::kFalse;
}

int16_t QUEUE_INSERT(void* after, void* element) {
  if (after == nullptr || element == nullptr) return err::kMissingParameter;
  // The queue comes from the element's own queue link; one that lies on no
  // queue (link 0) is refused rather than followed.
  auto* q = static_cast<QueueHeader*>(links(after)->queue);
  if (q == nullptr || !valid_header(q) || element == q) return err::kQueueLinks;
  void* succ = links(after)->forward;
  if (links(succ)->backward != after) return err::kQueueLinks;
  link_between(q, after, succ, element);
  return err::kOk;
}

int16_t QUEUE_ENQUEUE(QueueHeader* queue, void* element) {
  return put_at_end<kForward, kBackward>(queue, element);
}

int16_t QUEUE_ENQUEUETAIL(QueueHeader* queue, void* element) {
  return put_at_end<kBackward, kForward>(queue, element);
}

int16_t QUEUE_DELETE(void* element) {
  if (element == nullptr) return err::kMissingParameter;
  auto* q = static_cast<QueueHeader*>(links(element)->queue);
  // A header's queue link is itself: a header is never deleted from itself.
  if (q == nullptr || !valid_header(q) || element == q) return err::kQueueLinks;
  const QueueLinks* e = links(element);
  if (links(e->backward)->forward != element) return err::kQueueLinks;
  if (links(e->forward)->backward != element) return err::kQueueLinks;
  unlink(q, element);
  return err::kOk;
}

int16_t QUEUE_DEQUEUE(QueueHeader* queue, void** element) {
  return take_from_end<kForward, kBackward>(queue, element);
}

int16_t QUEUE_DEQUEUETAIL(QueueHeader* queue, void** element) {
  return take_from_end<kBackward, kForward>(queue, element);
}

int16_t QUEUE_STATS(uint32_t mask, QueueHeader* queue, QueueStats* stats, int16_t reset) {
  if (!zeb::mask_fits(mask, 3)) return err::kInvalidOperation;
  if (!zeb::present(mask, 1) || queue == nullptr) return err::kMissingParameter;
  if (!valid_header(queue)) return err::kQueueLinks;
  if (zeb::present(mask, 2) && stats != nullptr) {
    stats->elapsed = PROCESSOR_CLOCK() - queue->reset_time;
    stats->inserts = queue->inserts;
    stats->removes = queue->removes;
  }
  if (zeb::present(mask, 3) && reset != 0) {
    queue->reset_time = PROCESSOR_CLOCK();
    queue->inserts = 0;
    queue->removes = 0;
  }
  return err::kOk;
}
