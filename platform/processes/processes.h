// Internal interface of the process room: the host's processes as the
// library sees them (identifiers, names, cpu-and-pin words), this process,
// process creation and processes opened as files. The procedures of
// newprocess.h, procinfo.h and this_process.h are adapters over these
// typed calls. Not part of the library's public interface.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/status.h"

namespace zeb::platform {

// The system number of this host (keep in step with PROCESSORTYPE's node).
constexpr int16_t kSystemNumber = 0;

// --- The host's processes (process_table.cpp) -----------------------------

// The 4-word process identifier of a host process (layout in procinfo.h);
// the living process an identifier names (0: none); the living process of a
// name ("$NAME") other than this one, the lowest pid when several carry it
// (0: none; this process when the name is its own); the parent of a process
// (0 when unknown).
void process_identifier_of(long pid, int16_t* process_id);
// The same for a process whose name ("" when unnamed) is known already, such
// as a child this process has just made.
void process_identifier_named(long pid, const std::string& name, int16_t* process_id);
long pid_of_identifier(const int16_t* process_id);
long find_named_process(const std::string& name);
long parent_of(long pid);
bool process_alive(long pid);
// Whether a process lives on and is not on its way out (a process that
// ends closes its descriptors before it is gone: a hang-up from one that is
// ending is its end, not a choice it made).
bool process_lives_on(long pid);

// This process's cpu-and-pin word; the living process that answers to a
// word (this one when the word is its own, else the lowest pid; 0: none).
int16_t own_cpupin();
long process_of_cpupin(int16_t word);

// The real and effective user of a process; 11 when it ended meanwhile.
struct ProcessUsers {
  long real = 0;
  long effective = 0;
};
Result<ProcessUsers> process_users(long pid);

// The internal name (24 bytes) of the program a process runs.
std::array<char, 24> program_internal_name(long pid);

// A host file or directory name as a part of a program file's internal name
// on the host's own file system: upper case, letters and digits only,
// starting with a letter ("Z" put in front otherwise), at most 8 characters.
std::string program_name_part(const std::string& text);

// The group and user names (8 bytes each, blank padded) of a user id; 11
// when the user database does not know it.
Result<std::array<char, 16>> user_group_names(long uid);

// --- This process (self.cpp) ----------------------------------------------

// The home terminal's name, the host path of the program file, and the
// process's swap file (named by its swap volume alone; 14 without one).
std::string home_terminal_name();
std::string program_path();
Result<std::string> swap_file_name();

// --- Process creation (creation.cpp) --------------------------------------

// What NEWPROCESS is asked. program is a 24-byte internal name; priority -1
// keeps this process's; name, when given, the new process's name ("$NAME",
// blank padded to 6 bytes).
struct CreateRequest {
  const char* program = nullptr;
  int16_t priority = -1;
  const char* name = nullptr;
};
// A process made: its 4-word identifier (a named one carries its name).
struct Created {
  std::array<int16_t, 4> id{};
  long pid = 0;  // the host process
};
// Starts a process that this one can talk to over a private channel. The
// error is a creation error word (newprocess.h), except when no channel
// could be made: then this process's own file-system error (34, 30, 31),
// below any word (a word is 0x200 or more), and nothing was started.
Result<Created> create_process(const CreateRequest& request);

// A new descriptor for this process's end of the private channel of a child
// made by create_process that has not been reaped; -1 otherwise.
int dup_child_channel(long pid);

// The pid of a living child made by create_process under the process name
// name (as process_name_from gives it), not reaped yet; 0 when there is
// none. Names are unique (create_process refuses one in use), so this is
// the process find_named_process would find when it is a child of this
// one, found without a search of the host's processes.
long named_child(const std::string& name);

// Ends a child made by create_process that has not been reaped (SIGKILL)
// and returns once it has been reaped and what was kept for it is closed,
// so that no process of that pid is left. Nothing happens for any other
// pid.
void end_child(long pid);

// This process's creator's pid, fixed at the first use (0: not known).
long creator_pid();

// The identifier of this process's creator while it lives; nothing once it
// has ended or when it is not known.
std::optional<std::array<int16_t, 4>> creator_identifier();

// A named process ("$NAME", blank padded) as LOOKUPPROCESSNAME gives it:
// its cpu-and-pin word and its parent's identifier (zeros when the parent
// has ended or is init). 14 when no process carries the name.
struct NamedProcess {
  int16_t cpupin = 0;
  std::array<int16_t, 4> parent{};
};
Result<NamedProcess> lookup_process_name(const std::string& name);

// The parts of a process handle (layout in receive.h): 22 when it names no
// living process.
struct HandleParts {
  long pid = 0;
  int16_t cpu = 0;
  int16_t pin = 0;
  std::string process_name;  // empty for an unnamed process
  int64_t sequence = 0;      // the process's start time
};
Result<HandleParts> decompose_handle(const int16_t* handle);

// Process pairs: no process of this host has a backup or an ancestor, so a
// pair is one named process. The pair a name gives (11 when no process
// carries it), and this process's (7 when it is unnamed: it is no pair).
struct ProcessPair {
  std::string name;
  std::array<int16_t, 10> primary{};  // the primary's process handle
};
Result<ProcessPair> named_pair(const std::string& name);
Result<ProcessPair> own_pair();
// Whether a handle is the null handle or this process's own.
bool null_or_own_handle(const int16_t* handle);

// The node number of a node name (any case); 18 for a node other than this
// host's.
Result<int32_t> node_number(std::string_view name);

// The living process a handle names: true with its pid in *pid.
bool handle_pid(const int16_t* handle, long* pid);

// The command-line arguments after the program's name, from
// /proc/self/cmdline (shellstart.cpp).
std::vector<std::string> command_arguments();

// The node's name ("\" and up to 7 letters or digits).
std::string node_name();

// --- Processes as files (process_files.cpp) --------------------------------
// (is_process_name and open_process_by_name are declared for the file
// table in platform/ipc/connection.h.)

// A process opened as a file of the file table, for the layers above that
// talk to a process they made: closed (with "close") when the object goes.
class ProcessFileHandle {
 public:
  ProcessFileHandle() = default;
  explicit ProcessFileHandle(int16_t filenum) : filenum_(filenum) {}
  ProcessFileHandle(ProcessFileHandle&& other) noexcept : filenum_(other.release()) {}
  ProcessFileHandle& operator=(ProcessFileHandle&& other) noexcept;
  ~ProcessFileHandle();

  // Opens the process of a 24-byte name as open_process does.
  static Result<ProcessFileHandle> open(const char* name24);

  // Sends one message and waits for its reply; the status is the reply's
  // error, or the error that kept the message from its reply (201: the
  // process is gone).
  Status send(std::span<const char> message);

  int16_t filenum() const { return filenum_; }

 private:
  int16_t release() {
    int16_t f = filenum_;
    filenum_ = -1;
    return f;
  }
  int16_t filenum_ = -1;
};

// This process's $RECEIVE opened as a file of the file table, for the
// layers above that serve it with the queue's typed calls (ipc/receive_queue.h):
// closed when the object goes.
class ReceiveQueueHandle {
 public:
  ReceiveQueueHandle() = default;
  ReceiveQueueHandle(ReceiveQueueHandle&& other) noexcept : filenum_(other.filenum_) {
    other.filenum_ = -1;
  }
  ReceiveQueueHandle& operator=(ReceiveQueueHandle&& other) noexcept;
  ~ReceiveQueueHandle();

  // 12 when the queue is open already; 2 for a nowait depth above 1.
  static Result<ReceiveQueueHandle> open(int16_t nowait_depth);
  int16_t filenum() const { return filenum_; }

 private:
  explicit ReceiveQueueHandle(int16_t filenum) : filenum_(filenum) {}
  int16_t filenum_ = -1;
};

// One bound for a whole exchange with another process, on the monotonic
// clock: every wait of the exchange takes what is left of it, so a peer
// that answers each step just in time cannot stretch the exchange beyond
// it.
class Deadline {
 public:
  // The deadline ms milliseconds from now; the reply limit from now
  // (reply_limit_ms, connection.h).
  static Deadline after_ms(int ms);
  static Deadline reply_limit();
  // Milliseconds left (0 once it has passed), for a poll.
  int remaining_ms() const;
  // The earlier of the two.
  Deadline sooner(Deadline other) const { return at_ns_ <= other.at_ns_ ? *this : other; }

  Deadline() = default;  // one that has passed

 private:
  explicit Deadline(int64_t at_ns) : at_ns_(at_ns) {}
  int64_t at_ns_ = 0;
};

// What a child answered: the error number of its reply, as sent (0, 70
// "continue", its own error, or a number below 0 that is no error number at
// all). A channel that broke is not an answer: it is the status of the
// Result that would have carried one (40 no reply in time, 201 the child
// has gone, 308 a record that is no reply).
struct ChildReply {
  int16_t error = 0;
};

// The parent's end of the private channel of a child made by
// create_process, for the conversation that starts it. Every wait for a
// reply takes what is left of the channel's one deadline. The descriptor
// ends with the object; "close" is sent only by close() or by send_all
// with then_close.
class ChildChannel {
 public:
  ChildChannel() = default;  // no channel
  ChildChannel(ChildChannel&& other) noexcept : fd_(other.fd_), deadline_(other.deadline_) {
    other.fd_ = -1;
  }
  ChildChannel& operator=(ChildChannel&&) = delete;
  ~ChildChannel();

  // A new descriptor of the child's channel, every wait on it bounded by
  // deadline: 201 when the child has no channel (it has gone).
  static Result<ChildChannel> connect(long pid, Deadline deadline);
  // "open" and the child's reply to it.
  Result<ChildReply> open();
  // One data message and the child's reply to it.
  Result<ChildReply> send(std::span<const char> message);
  // Data messages in order, up to kMessagesOnTheirWay of them sent before
  // their replies are read (several with one call). Each reply is given to
  // accepts; the first it does not accept ends the conversation at once
  // and is the answer: nothing more is sent or read, and the channel is
  // done with (its child is to be ended). With then_close, "close" follows
  // the last message, its reply read last: the answer is then the reply to
  // "close" and the connection ends; else 0.
  static constexpr size_t kMessagesOnTheirWay = 64;
  Result<ChildReply> send_all(std::span<const std::span<const char>> messages,
                              const std::function<bool(int16_t)>& accepts, bool then_close);
  // Sends "close" and waits for its reply; the connection ends either way.
  Result<ChildReply> close();

 private:
  ChildChannel(int fd, Deadline deadline) : fd_(fd), deadline_(deadline) {}
  Result<ChildReply> exchange(bool system, std::span<const char> message);
  int fd_ = -1;
  Deadline deadline_;
};

// One message to the named process ("$NAME") of this user and its reply,
// the way UTIL_CMON asks $CMON: "open", the message, "close", all of it
// within deadline. Up to reply.size() bytes of the reply go to reply
// (count in *reply_len), and its error number to *reply_error (the error
// the process answered "open" with, when that was not 0). The status is 0
// when the process answered; 14 when no process of the name listens (it
// cannot be reached); 40 when it took the connection but did not answer in
// time (it is hung: while it lives it is not asked again, and later
// exchanges give 40 at once); 201 when it went in between; 310 when it
// hung up on the message and lives on (it refused to answer); or the error
// that kept the message from it.
Status exchange_with_process(std::string_view name, std::span<const char> message,
                             std::span<char> reply, int16_t* reply_len, int16_t* reply_error,
                             Deadline deadline);

// Opens a process by its 24-byte name (a named process, an unnamed child by
// its identifier, or anything else as a file name) under a new file number.
Result<int16_t> open_process(const char* name24);

}  // namespace zeb::platform
