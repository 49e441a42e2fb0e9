// Checked intrusive queues: circular, doubly linked lists whose header and
// elements belong to the caller.
//
// Every element begins with three link words (QueueLinks): forward, backward
// and the queue it lies on (null once removed). The header begins with the
// same three words, its queue link pointing at itself, so the ring passes
// through the header: walk with QUEUE_NEXT from the header until the header
// comes back. Every changing operation first verifies the links it is about
// to change and refuses with 300 when they disagree, changing nothing.
// Queues live in the caller's memory (stack, heap or pool), so the links are
// native addresses. One thread; nothing is locked; nothing allocates.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The three link words at the start of every element and every header.
struct QueueLinks {
  void* forward;   // next element, or the header after the last
  void* backward;  // previous element, or the header before the first
  void* queue;     // the header of the queue the element lies on; null when off
};

// A queue header. Valid from QUEUE_INIT on: its queue link is itself.
struct QueueHeader {
  QueueLinks links;    // first and last element, and the header itself as the queue
  int32_t count;       // number of elements
  int32_t reserved;    // not used
  int64_t reset_time;  // processor clock at the last statistics reset
  int64_t inserts;     // successful inserts since the reset
  int64_t removes;     // successful removes since the reset
};

// The queue statistics record that QUEUE_STATS fills.
struct QueueStats {
  int64_t elapsed;  // microseconds since the last reset
  int64_t inserts;  // successful inserts since the reset
  int64_t removes;  // successful removes since the reset
};
static_assert(sizeof(QueueStats) == 24);

// Makes an empty queue and restarts its statistics. Returns 0.
ZEB_EXPORT int16_t QUEUE_INIT(QueueHeader* queue);

// The forward / backward link of an element or header (nothing is checked).
ZEB_EXPORT void* QUEUE_NEXT(const void* element);
ZEB_EXPORT void* QUEUE_PREV(const void* element);

// The queue link of an element: its queue's header, or null once removed.
ZEB_EXPORT void* QUEUE_HEAD(const void* element);

// Stores the number of elements in *count. Returns 0 or 300.
ZEB_EXPORT int16_t QUEUE_COUNT(const QueueHeader* queue, int32_t* count);

// True (-1) when the queue holds no element, else false (0). Checks nothing.
ZEB_EXPORT int16_t QUEUE_EMPTY(const QueueHeader* queue);

// Links element right after after, which is an element on a queue or a queue
// header (after a header: at the front). Returns 0 or 300 (also when after is
// not on a queue).
ZEB_EXPORT int16_t QUEUE_INSERT(void* after, void* element);

// Links element at the front / at the back of the queue. Returns 0 or 300.
ZEB_EXPORT int16_t QUEUE_ENQUEUE(QueueHeader* queue, void* element);
ZEB_EXPORT int16_t QUEUE_ENQUEUETAIL(QueueHeader* queue, void* element);

// Unlinks element from the queue it lies on and zeroes its three link words.
// Returns 0 or 300 (also when the element is on no queue).
ZEB_EXPORT int16_t QUEUE_DELETE(void* element);

// Unlinks the first / last element, zeroes its links and stores its address
// in *element. Returns 0, 300, or 301 when the queue is empty (*element is
// then not written).
ZEB_EXPORT int16_t QUEUE_DEQUEUE(QueueHeader* queue, void** element);
ZEB_EXPORT int16_t QUEUE_DEQUEUETAIL(QueueHeader* queue, void** element);

// Parameter 1 queue (required), 2 stats (filled when present), 3 reset
// (when present and non-zero, inserts and removes restart from 0 and the
// elapsed time from now; the count stays). Returns 0, 29 without the queue,
// 300 for a header that is not valid, 2 for mask bits beyond parameter 3.
ZEB_EXPORT int16_t QUEUE_STATS(uint32_t mask, QueueHeader* queue = nullptr,
                               QueueStats* stats = nullptr, int16_t reset = 0);
