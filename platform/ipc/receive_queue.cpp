// $RECEIVE on Linux (see receive_queue.h): one queue per host, fed by the private
// channel from a library parent, by the connections of other processes to a
// named process's socket, and by the conversation the platform plays for a
// program started from a shell.
#include "platform/ipc/receive_queue.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/name_lock.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

constexpr int16_t kNoOutstanding = 26;  // AWAITIO with no outstanding operation
constexpr int16_t kTooManyNowait = 28;  // a read is already outstanding

enum class Source { kNone, kShell, kChannel, kStranger };

// A connection of another process (an opener of a named process), held for
// as long as it stays open: there is no count of them but the process's
// descriptors.
struct Stranger {
  int fd = -1;
  int16_t handle[10];
};

// What each descriptor the queue waits on is called in the event interface:
// the listening socket, the parent's channel, and each stranger by a number
// of its own (never reused, so an event of a stranger that has gone since
// finds nobody, never a newcomer on the same descriptor).
constexpr uint64_t kListenerKey = 0;
constexpr uint64_t kChannelKey = 1;
constexpr uint64_t kFirstStrangerKey = 2;
// Events taken from the kernel at once, and connections accepted at once:
// a batch, served one message a descriptor before the next is asked for.
constexpr int kBatch = 64;

struct Queue {
  bool open = false;
  int16_t filenum = -1;
  int16_t nowait_depth = 0;
  std::deque<ShellMessage> shell;  // the shell-started conversation still to come
  int listen_fd = -1;              // a named process's socket
  // The strangers, and the descriptors the queue waits on: the event
  // instance, with the listener and each stranger added once, as they come.
  std::unordered_map<uint64_t, Stranger> strangers;
  uint64_t next_key = kFirstStrangerKey;
  int events_fd = -1;
  int watched_channel = -1;  // the parent's channel, once added
  bool accepting = false;    // the listener is among the events
  // A spare descriptor, given up for a moment to accept an opener when the
  // process has no other left, so that the opener is told (61) instead of
  // waiting in the queue of connections until its time runs out.
  int spare_fd = -1;
  // The ready events of the last wait not served yet, in the kernel's
  // order: each ready descriptor is served once before the kernel is asked
  // again, so no opener starves while others keep sending.
  std::deque<ReadyEvent> ready;
  // The outstanding read.
  bool read_pending = false;
  void* buffer = nullptr;
  int16_t read_count = 0;
  int16_t count_read = 0;
  // The message awaiting its reply.
  Source reply_to = Source::kNone;
  int reply_fd = -1;
  uint64_t reply_key = 0;  // the stranger that awaits it
  int16_t reply_max = 0;
  bool have_info = false;
  int16_t info[17] = {};
};

// The parent's channel, read ahead and answered in batches. A library
// parent sends the messages of a start-up conversation ahead of their
// replies: what the channel holds is read with one call and handed out one
// message at a time, and the replies are collected and sent with one call.
// A reply waits only while the next message of the parent's is already in
// hand; the replies go with the reply to the last message read ahead,
// before the queue would wait, when the queue closes and when the process
// ends (STOP, ABEND, exit), so the parent never waits for a reply held
// back while the process waits for it. What was read ahead and not handed
// out outlives an open of the queue, as the channel does.
constexpr size_t kAhead = 64;  // records read with one call, at most
constexpr size_t kRecordSize = kFrameHeader + kMaxMessage;

struct ChannelAhead {
  // kAhead places of the largest record each, mapped at the first read
  // (only the pages a record lands in are ever touched); one place of its
  // own when they cannot be mapped.
  char* places = nullptr;
  size_t capacity = 0;
  char one[kRecordSize];
  size_t lengths[kAhead] = {};
  size_t next = 0;   // the next record to hand out
  size_t count = 0;  // records read
  // The replies not sent yet, back to back, where each ends, and the
  // channel they go to.
  std::vector<char> replies;
  std::vector<size_t> ends;
  int fd = -1;

  ChannelAhead() = default;
  ChannelAhead(const ChannelAhead&) = delete;
  ChannelAhead& operator=(const ChannelAhead&) = delete;
  ~ChannelAhead() {
    // Unmapping what was mapped cannot fail in a way that matters here.
    if (places != nullptr) (void)syscalls().munmap(places, kAhead * kRecordSize);
  }

  bool used_up() const { return next == count; }
  char* place(size_t i) { return capacity == 1 ? one : places + i * kRecordSize; }
  // A record read ahead, cut to the largest message as a read cuts it.
  std::span<const char> record(size_t i) { return {place(i), std::min(lengths[i], kRecordSize)}; }
};

void close_queue(Queue* q, ChannelAhead* ahead);

// The queue and what outlives one open of it, owned by the host. A host
// that goes closes its queue as FILE_CLOSE_ would: a message left without
// its reply is answered, and the socket, lock and connections go.
struct QueueState {
  Queue queue;
  ChannelAhead ahead;
  bool conversation_played = false;  // the shell conversation comes once per host
  bool parent_open = false;          // the parent has the process open on the private channel
  bool parent_done = false;          // the parent closed its first open: the start-up is over
  std::vector<int16_t> shell_replies;
  QueueState() = default;
  QueueState(const QueueState&) = delete;
  QueueState& operator=(const QueueState&) = delete;
  ~QueueState() { close_queue(&queue, &ahead); }
};

QueueState& state() { return host().state<QueueState>(); }

uint16_t get16(const char* p) {
  return static_cast<uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                               static_cast<unsigned char>(p[1]));
}

void close_fd(int* fd) {
  // A socket or lock file that ends: close has nothing to lose.
  if (*fd >= 0) syscalls().close(*fd);
  *fd = -1;
}

void stop_listening(Queue* q) {
  if (q->listen_fd >= 0) {
    close_fd(&q->listen_fd);
    // The socket goes with the queue; the name stays this process's for as
    // long as it lives (name_lock.h).
    remove_name_socket();
  }
  for (auto& [key, s] : q->strangers) close_fd(&s.fd);
  q->strangers.clear();
  q->ready.clear();
  close_fd(&q->spare_fd);
  close_fd(&q->events_fd);
}

// Hands one message to the outstanding read.
int16_t deliver(Source source, int fd, const int16_t* handle, bool system, const char* data,
                size_t length, int16_t reply_max) {
  Queue& q = state().queue;
  size_t n = std::min(length, static_cast<size_t>(q.read_count));
  if (n > 0) std::memcpy(q.buffer, data, n);
  q.count_read = static_cast<int16_t>(n);
  q.read_pending = false;
  q.reply_to = source;
  q.reply_fd = fd;
  q.reply_max = reply_max;
  std::fill(q.info, q.info + 17, int16_t{0});
  q.info[0] = system ? 0 : 3;
  q.info[1] = reply_max;
  std::copy(handle, handle + 10, q.info + 6);
  q.have_info = true;
  return system ? err::kSystemMessage : 0;
}

// Sends one reply record; false when the sender is gone or does not read.
bool send_reply(int fd, int16_t error, const void* data, size_t length) {
  char frame[kReplyHeader + kMaxMessage];
  frame[0] = static_cast<char>((static_cast<uint16_t>(error) >> 8) & 0xFF);
  frame[1] = static_cast<char>(static_cast<uint16_t>(error) & 0xFF);
  if (length > 0) std::memcpy(frame + kReplyHeader, data, length);
  long sent = syscalls().send(fd, frame, kReplyHeader + length, false);
  return sent == static_cast<long>(kReplyHeader + length);
}

enum class Got { kMessage, kNothing, kHangup, kRefused };

// Reads one message record from fd, whose event gave revents, into frame
// (header included). A read of 0 bytes is a hang-up only when the event
// said so; otherwise it was an empty record, which is no message (should
// the sender have gone in between, the next event says so).
Got read_frame(int fd, short revents, std::vector<char>* frame) {
  // The record lands on the stack and only its bytes are kept: a frame
  // made the largest size first would be cleared whole for every message.
  char record[kFrameHeader + kMaxMessage];
  long n = syscalls().recv(fd, record, sizeof record, false);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Got::kNothing;
  // A sender that shut its side for writing sends nothing more: as good as
  // gone (its empty reads would otherwise wake the queue for ever).
  if (n < 0 || (n == 0 && (revents & (POLLHUP | POLLERR | EPOLLRDHUP)) != 0)) return Got::kHangup;
  // A longer record was cut to the largest message.
  frame->assign(record, record + std::min(static_cast<size_t>(n), sizeof record));
  if (n < kFrameHeader || ((*frame)[0] != kFrameData && (*frame)[0] != kFrameSystem)) {
    // Not a message of this protocol: the sender learns so at once, if it
    // is still there to be told.
    send_reply(fd, err::kInvalidOperation, nullptr, 0);
    return Got::kRefused;
  }
  return Got::kMessage;
}

int16_t deliver_frame(Source source, int fd, const int16_t* handle, std::span<const char> frame) {
  bool system = frame[0] == kFrameSystem;
  int16_t reply_max = static_cast<int16_t>(get16(frame.data() + 2) & 0x7FFF);
  return deliver(source, fd, handle, system, frame.data() + kFrameHeader,
                 frame.size() - kFrameHeader, reply_max);
}

bool is_message(std::span<const char> record) {
  return record.size() >= static_cast<size_t>(kFrameHeader) &&
         (record[0] == kFrameData || record[0] == kFrameSystem);
}

// Sends the replies collected for the parent, as many as one call takes
// each time. False when one could not go (the parent has gone, or takes no
// more now): it and those after it are dropped, as a reply that cannot go
// always is.
bool send_replies(ChannelAhead* a) {
  bool all = true;
  for (size_t at = 0; at < a->ends.size();) {
    std::span<const char> records[kAhead];
    const size_t count = std::min(a->ends.size() - at, kAhead);
    for (size_t i = 0; i < count; ++i) {
      const size_t begin = at + i == 0 ? 0 : a->ends[at + i - 1];
      records[i] = std::span<const char>(a->replies.data() + begin, a->ends[at + i] - begin);
    }
    const long sent = syscalls().send_records(a->fd, records, count);
    if (sent <= 0) {
      all = false;
      break;
    }
    at += static_cast<size_t>(sent);
  }
  a->replies.clear();
  a->ends.clear();
  return all;
}

void add_reply(ChannelAhead* a, int fd, int16_t error, std::span<const char> data) {
  a->fd = fd;
  a->replies.push_back(static_cast<char>((static_cast<uint16_t>(error) >> 8) & 0xFF));
  a->replies.push_back(static_cast<char>(static_cast<uint16_t>(error) & 0xFF));
  a->replies.insert(a->replies.end(), data.begin(), data.end());
  a->ends.push_back(a->replies.size());
}

// Records read ahead that are no messages are refused (2) in their turn,
// among the replies.
void refuse_records_ahead(ChannelAhead* a, int fd) {
  while (!a->used_up() && !is_message(a->record(a->next))) {
    add_reply(a, fd, err::kInvalidOperation, {});
    ++a->next;
  }
}

// The replies held for the parent go now: the process is ending, and a
// reply it gave must reach the parent.
void send_replies_at_exit() {
  if (QueueState* st = host().find_state<QueueState>(); st != nullptr && !st->ahead.ends.empty()) {
    // At the end nobody is left to be told of a reply that could not go.
    (void)send_replies(&st->ahead);
  }
}

// Answers a message of the parent's channel: held while the next message
// read ahead is there, else sent at once with those held. A reply that
// goes on (0, or 70 "continue") can wait, since the parent sent the next
// message without waiting for it and needs that one's reply as well,
// which the process gives with it. Any other reply may end the parent's
// conversation, and the process that gave it may never read again: it
// goes at once. False when a reply that went now could not.
bool answer_parent(ChannelAhead* a, int fd, int16_t error, std::span<const char> data) {
  constexpr int16_t kContinue = 70;
  add_reply(a, fd, error, data);
  refuse_records_ahead(a, fd);
  if (a->used_up() || (error != 0 && error != kContinue)) return send_replies(a);
  // A program that returns from main or calls exit with a reply held still
  // gives it (STOP and ABEND send it through receive_at_exit).
  static const bool registered = std::atexit([] { send_replies_at_exit(); }) == 0;
  (void)registered;
  return true;
}

void close_queue(Queue* q, ChannelAhead* ahead) {
  // A message left without its reply is answered, so that its sender does
  // not wait for ever. A sender that has gone needs no answer.
  if (q->reply_to == Source::kChannel) {
    add_reply(ahead, q->reply_fd, err::kPathDown, {});
  } else if (q->reply_to == Source::kStranger) {
    send_reply(q->reply_fd, err::kPathDown, nullptr, 0);
  }
  q->reply_to = Source::kNone;
  // The replies held go before the queue closes; what was read ahead and
  // not handed out comes at the next open.
  if (!ahead->ends.empty()) (void)send_replies(ahead);
  stop_listening(q);
}

// Reads what the parent's channel holds now into the places (the replies
// held go first, so the parent can send more meanwhile). kMessage when a
// record came; kNothing when none is there; kHangup when the parent has
// gone.
Got read_ahead(ChannelAhead* a, int channel) {
  if (!a->ends.empty()) (void)send_replies(a);  // a reply that cannot go is no news here
  if (a->capacity == 0) {
    void* mapped = syscalls().mmap(nullptr, kAhead * kRecordSize, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped != nullptr) a->places = static_cast<char*>(mapped);
    a->capacity = a->places != nullptr ? kAhead : 1;
  }
  std::span<char> places[kAhead];
  for (size_t i = 0; i < a->capacity; ++i) places[i] = std::span<char>(a->place(i), kRecordSize);
  a->next = a->count = 0;
  long n = syscalls().receive_records(channel, places, a->capacity, a->lengths);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? Got::kNothing : Got::kHangup;
  // Once the parent has gone, every place after what it sent holds a
  // record of length 0. Empty records at the end are its hang-up when poll
  // says so; those before them are handed out first, and the next read
  // meets the hang-up again.
  size_t end = static_cast<size_t>(n);
  while (end > 0 && a->lengths[end - 1] == 0) --end;
  if (end < static_cast<size_t>(n)) {
    pollfd look = {channel, POLLIN | POLLRDHUP, 0};
    const short revents = syscalls().poll(&look, 1, 0) == 1 ? look.revents : 0;
    if ((revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0) {
      if (end == 0) return Got::kHangup;
      n = static_cast<long>(end);
    }
  }
  a->count = static_cast<size_t>(n);
  return Got::kMessage;
}

// The next message of the parent's channel into *record (valid until the
// next read ahead): from what was read ahead, else from what the channel
// holds now. Records that are no messages are refused in their turn.
Got next_from_channel(ChannelAhead* a, int channel, std::span<const char>* record) {
  for (;;) {
    refuse_records_ahead(a, channel);
    if (!a->used_up()) {
      *record = a->record(a->next++);
      return Got::kMessage;
    }
    if (const Got got = read_ahead(a, channel); got != Got::kMessage) return got;
  }
}

int64_t monotonic_ms() { return syscalls().monotonic_ns() / 1000000; }

// Forgets a stranger: out of the events first (its descriptor may live on
// in a child that shares it), then closed.
void drop_stranger(Queue* q, uint64_t key) {
  auto it = q->strangers.find(key);
  if (it == q->strangers.end()) return;
  // Removal fails only for a descriptor that is not there; the close
  // ends the connection in any case.
  (void)syscalls().epoll_ctl(q->events_fd, EPOLL_CTL_DEL, it->second.fd, 0, 0);
  close_fd(&it->second.fd);
  q->strangers.erase(it);
  // A descriptor is free again: a listener put aside for want of them
  // takes connections again.
  if (!q->accepting && q->listen_fd >= 0 &&
      syscalls().epoll_ctl(q->events_fd, EPOLL_CTL_MOD, q->listen_fd, EPOLLIN, kListenerKey) == 0) {
    q->accepting = true;
  }
}

// Tells an opener that it is not taken, with one reply record (what its
// "open" reads), and closes its connection. Nothing is read from it.
void refuse(int fd, int16_t error) {
  // An opener that has gone needs no answer.
  send_reply(fd, error, nullptr, 0);
  syscalls().close(fd);
}

// The process has no descriptor left for the next opener (if one waits: a
// full table is reported before the queue is looked at): the spare is
// given up to take it and tell it so, then made again. True when an opener
// was refused. Without a spare (one could not be made again) the listener
// is put aside until a stranger leaves, so that a connection the process
// cannot take does not wake it for ever; openers then wait their turn or
// their time.
bool refuse_for_want_of_descriptors(Queue* q) {
  if (q->spare_fd >= 0) {
    close_fd(&q->spare_fd);
    const int fd = syscalls().accept(q->listen_fd);
    if (fd >= 0) refuse(fd, err::kNoMoreOpens);
    q->spare_fd = syscalls().dup(q->listen_fd);
    if (q->spare_fd >= 0) return fd >= 0;
  }
  if (syscalls().epoll_ctl(q->events_fd, EPOLL_CTL_MOD, q->listen_fd, 0, kListenerKey) == 0) {
    q->accepting = false;
  }
  return false;
}

// Takes the openers waiting in the queue of connections, a batch at a
// time. An opener of another user is refused (48) before anything is read
// from it, and one whose credentials cannot be read (no process of this
// host) is closed at once: the socket directory is this user's alone, but
// the check does not rely on it. The user is the effective one, whose
// socket directory it is; root is no exception.
void accept_openers(Queue* q) {
  const long self = syscalls().geteuid();
  for (int i = 0; i < kBatch; ++i) {
    const int fd = syscalls().accept(q->listen_fd);
    if (fd < 0) {
      if ((errno == EMFILE || errno == ENFILE) && refuse_for_want_of_descriptors(q)) continue;
      // Nobody waits (EAGAIN), or the opener gave up meanwhile
      // (ECONNABORTED): the listener says when there is more.
      return;
    }
    long pid = 0, uid = -1;
    if (syscalls().peer_credentials(fd, &pid, &uid) != 0) {
      syscalls().close(fd);
      continue;
    }
    if (uid != self) {
      refuse(fd, err::kSecurityViolation);
      continue;
    }
    const uint64_t key = q->next_key++;
    if (syscalls().epoll_ctl(q->events_fd, EPOLL_CTL_ADD, fd, EPOLLIN | EPOLLRDHUP, key) != 0) {
      // The kernel keeps no more events for this user (max_user_watches):
      // the opener is not taken, and hears so.
      refuse(fd, err::kNoMoreOpens);
      continue;
    }
    Stranger s;
    s.fd = fd;
    process_handle_of(pid, s.handle);
    q->strangers.emplace(key, s);
  }
}

// Adds the parent's channel to the events when it is there and not yet
// added (it is adopted at its first use, and dropped when it hangs up).
int16_t watch_channel(Queue* q, int channel) {
  if (channel < 0 || channel == q->watched_channel) return 0;
  if (syscalls().epoll_ctl(q->events_fd, EPOLL_CTL_ADD, channel, EPOLLIN | EPOLLRDHUP,
                           kChannelKey) != 0 &&
      errno != EEXIST) {
    return error_from_errno(errno);
  }
  q->watched_channel = channel;
  return 0;
}

// Waits for the next message for the outstanding read, at most limit_ms
// milliseconds (-1: no limit). The conversation a shell-started program
// receives comes first, without waiting; then the parent's channel, which
// is always looked at before the strangers so that they cannot crowd the
// parent out; then the strangers in turn.
int16_t wait_message(int64_t limit_ms) {
  QueueState& st = state();
  Queue& q = st.queue;
  int16_t mother[10];
  mother_handle(mother);
  if (!q.shell.empty()) {
    ShellMessage m = std::move(q.shell.front());
    q.shell.pop_front();
    return deliver(Source::kShell, -1, mother, m.system, m.bytes.data(), m.bytes.size(), 0);
  }
  if (parent_channel_broken() && !st.parent_done) {
    // The parent's channel was dead on arrival: the start-up is over.
    st.parent_done = true;
    return err::kPathDown;
  }
  const int64_t deadline = limit_ms < 0 ? -1 : monotonic_ms() + limit_ms;
  std::vector<char> frame;
  // What a read of the parent's channel comes to: a message delivered, a
  // hang-up reported, or nothing yet.
  auto from_channel = [&](int channel) -> std::optional<int16_t> {
    std::span<const char> record;
    const Got got = next_from_channel(&st.ahead, channel, &record);
    if (got == Got::kMessage) {
      if (record[0] == kFrameSystem && record.size() >= kFrameHeader + 2) {
        int16_t code = static_cast<int16_t>(get16(record.data() + kFrameHeader));
        if (code == kOpenCode) st.parent_open = true;
        if (code == kCloseCode && st.parent_open) {
          st.parent_open = false;
          st.parent_done = true;
        }
      }
      return deliver_frame(Source::kChannel, channel, mother, record);
    }
    if (got == Got::kHangup) {
      // Out of the events before it goes (a failure leaves an entry the
      // close removes).
      (void)syscalls().epoll_ctl(q.events_fd, EPOLL_CTL_DEL, channel, 0, 0);
      q.watched_channel = -1;
      drop_private_channel();
      // A parent that goes away before its conversation is over (before
      // "open" included) leaves the process without its environment, and
      // nobody will send it: say so at once. One that goes after is no
      // news.
      if (!st.parent_done || st.parent_open) {
        st.parent_open = false;
        st.parent_done = true;
        return err::kPathDown;
      }
    }
    return std::nullopt;
  };
  // A message of the parent's that is there already (the parent sends the
  // conversation ahead of its replies) is taken without a wait: the parent
  // comes first in any case.
  if (const int channel = private_channel(); channel >= 0) {
    if (std::optional<int16_t> result = from_channel(channel)) return *result;
  }
  if (int16_t error = watch_channel(&q, private_channel()); error != 0) return error;
  for (;;) {
    while (!q.ready.empty()) {
      const ReadyEvent event = q.ready.front();
      q.ready.pop_front();
      if (event.data == kChannelKey) {
        const int channel = private_channel();
        if (channel < 0) continue;
        if (std::optional<int16_t> result = from_channel(channel)) return *result;
        continue;
      }
      if (event.data == kListenerKey) {
        if (q.listen_fd >= 0) accept_openers(&q);
        continue;
      }
      auto it = q.strangers.find(event.data);
      if (it == q.strangers.end()) continue;  // gone since
      const Got got = read_frame(it->second.fd, static_cast<short>(event.events), &frame);
      if (got == Got::kMessage) {
        const int16_t result =
            deliver_frame(Source::kStranger, it->second.fd, it->second.handle, frame);
        q.reply_key = it->first;
        return result;
      }
      if (got == Got::kHangup) drop_stranger(&q, it->first);
    }
    // Nothing is held back from the parent while the queue waits.
    if (!st.ahead.ends.empty()) (void)send_replies(&st.ahead);
    int timeout = -1;
    if (deadline >= 0) {
      int64_t left = std::max<int64_t>(0, deadline - monotonic_ms());
      timeout = static_cast<int>(std::min<int64_t>(left, 1 << 30));
    }
    ReadyEvent events[kBatch];
    const int n = syscalls().epoll_wait(q.events_fd, events, kBatch, timeout);
    if (n < 0) return error_from_errno(errno);
    if (n == 0) {
      if (deadline >= 0 && monotonic_ms() >= deadline) return err::kTimedOut;
      continue;
    }
    // The parent's channel goes ahead of the strangers.
    for (int i = 0; i < n; ++i) {
      if (events[i].data == kChannelKey) {
        q.ready.push_front(events[i]);
      } else {
        q.ready.push_back(events[i]);
      }
    }
  }
}

// Makes the queue's event instance, with the listener in it and the spare
// descriptor of a named process.
int16_t start_events(Queue* q) {
  q->events_fd = syscalls().epoll_create();
  if (q->events_fd < 0) return error_from_errno(errno);
  if (q->listen_fd >= 0) {
    if (syscalls().epoll_ctl(q->events_fd, EPOLL_CTL_ADD, q->listen_fd, EPOLLIN, kListenerKey) !=
        0) {
      return error_from_errno(errno);
    }
    q->accepting = true;
    q->spare_fd = syscalls().dup(q->listen_fd);
    if (q->spare_fd < 0) return error_from_errno(errno);
  }
  return 0;
}

}  // namespace

Status receive_open(int16_t filenum, int16_t nowait_depth) {
  QueueState& st = state();
  if (st.queue.open) return Status::error(err::kFileInUse, "$RECEIVE is open");
  if (nowait_depth < 0 || nowait_depth > 1) return Status::error(err::kInvalidOperation);
  Queue q;
  q.filenum = filenum;
  q.nowait_depth = nowait_depth;
  if (!st.conversation_played && private_channel() < 0 && !parent_channel_broken()) {
    Result<std::vector<ShellMessage>> messages = shell_conversation();
    if (!messages.ok()) return messages.status();
    q.shell.assign(messages->begin(), messages->end());
  }
  std::string name = process_name();
  if (!name.empty()) {
    Result<int> taken = take_process_name(name);
    if (!taken.ok()) return taken.status();
    q.listen_fd = *taken;
  }
  if (int16_t error = start_events(&q); error != 0) {
    // Nothing of the open stays: the name is given back.
    close_queue(&q, &st.ahead);
    return Status::error(error);
  }
  st.conversation_played = true;
  q.open = true;
  st.queue = std::move(q);
  return Status();
}

void receive_at_exit() {
  // The process is ending: the replies held for the parent go, and its
  // name is given back (what cannot be removed is swept by the next
  // process that takes a name).
  send_replies_at_exit();
  release_name_at_exit();
}

void receive_close(int16_t filenum) {
  QueueState& st = state();
  Queue& q = st.queue;
  if (!q.open || q.filenum != filenum) return;
  close_queue(&q, &st.ahead);
  q = Queue{};
}

bool receive_holds(int16_t filenum) {
  const Queue& q = state().queue;
  return q.open && q.filenum == filenum;
}

int16_t receive_filenum() {
  const Queue& q = state().queue;
  return q.open ? q.filenum : int16_t{-1};
}

void* receive_buffer() { return state().queue.buffer; }

std::vector<int16_t>& shell_replies() { return state().shell_replies; }

Result<Delivery> receive_read(std::span<char> buffer) {
  Queue& q = state().queue;
  if (q.reply_to != Source::kNone)
    return Status::error(err::kInvalidOperation, "unanswered message");
  if (q.read_pending) return Status::error(kTooManyNowait, "read outstanding");
  q.read_pending = true;
  q.buffer = buffer.data();
  q.read_count = static_cast<int16_t>(buffer.size());
  Delivery d;
  if (q.nowait_depth > 0) {
    d.pending = true;
    return d;
  }
  int16_t error = wait_message(-1);
  q.read_pending = false;
  if (error != 0 && error != err::kSystemMessage) return Status::error(error, "$RECEIVE read");
  d.system = error == err::kSystemMessage;
  d.count = q.count_read;
  return d;
}

Result<Delivery> receive_await(int32_t limit) {
  Queue& q = state().queue;
  if (!q.read_pending) return Status::error(kNoOutstanding, "no read outstanding");
  int16_t error = wait_message(limit < 0 ? -1 : static_cast<int64_t>(limit) * 10);
  if (error == err::kTimedOut) {
    // A time limit of 0 only looks; any other cancels the read.
    if (limit != 0) q.read_pending = false;
    return Status::error(error, "$RECEIVE wait");
  }
  q.read_pending = false;
  if (error != 0 && error != err::kSystemMessage) return Status::error(error, "$RECEIVE wait");
  Delivery d;
  d.system = error == err::kSystemMessage;
  d.count = q.count_read;
  return d;
}

Result<int16_t> receive_reply(std::span<const char> data, int16_t error) {
  QueueState& st = state();
  Queue& q = st.queue;
  if (q.reply_to == Source::kNone)
    return Status::error(err::kInvalidOperation, "nothing to answer");
  size_t length =
      std::min<size_t>(data.size(), static_cast<size_t>(std::max<int16_t>(q.reply_max, 0)));
  Source source = q.reply_to;
  q.reply_to = Source::kNone;
  Status result;
  if (source == Source::kShell) {
    st.shell_replies.push_back(error);
  } else if (source == Source::kChannel) {
    // A reply held with others is reported by the reply that sends them:
    // the one to the last message read ahead.
    if (!answer_parent(&st.ahead, q.reply_fd, error, data.first(length))) {
      result = Status::error(err::kPathDown, "reply");
    }
  } else if (!send_reply(q.reply_fd, error, data.data(), length)) {
    result = Status::error(err::kPathDown, "reply");
    // A stranger that does not take its reply is dropped.
    if (source == Source::kStranger) drop_stranger(&q, q.reply_key);
  }
  q.reply_fd = -1;
  if (!result.ok()) return result;
  return static_cast<int16_t>(length);
}

Result<std::array<int16_t, 17>> receive_info() {
  const Queue& q = state().queue;
  if (!q.have_info) return Status::error(err::kInvalidOperation, "no message read");
  std::array<int16_t, 17> info;
  std::copy(q.info, q.info + 17, info.begin());
  return info;
}

}  // namespace zeb::platform
