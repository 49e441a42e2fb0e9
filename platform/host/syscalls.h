// The seam through which the platform reaches the host.
//
// Every system call the platform makes and every host file it reads (/proc,
// /sys, the user database), and the clocks, go through this one table. A
// test replaces an entry inside a SyscallOverride scope and drives the real
// code path: the thirtieth write fails with EIO, /proc/stat holds counters
// of its choosing, the clock stands still. The scope puts the whole table
// back when it ends.
//
// Conventions of the entries: a failure returns -1 (null for mmap) with
// errno set, as the system call does; calls interrupted by a signal are
// restarted inside the entry, so no caller sees EINTR. Every descriptor an
// entry opens is close-on-exec and above 2, so a standard descriptor that is
// closed is never taken by a file of the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

struct pollfd;
struct termios;

namespace zeb::platform {

// What fstat and stat tell of a file.
struct FileStatus {
  uint64_t device = 0;  // st_dev
  uint64_t inode = 0;   // st_ino
  int64_t size = 0;     // bytes
  uint32_t mode = 0;    // st_mode: type and permission bits
  uint32_t uid = 0;     // owner
  bool is_directory() const { return (mode & 0170000u) == 0040000u; }
  bool is_regular() const { return (mode & 0170000u) == 0100000u; }
};

// One event of the kernel's event interface: what happened (EPOLLIN,
// EPOLLHUP, ...) and the data given when the descriptor was added.
struct ReadyEvent {
  uint32_t events = 0;
  uint64_t data = 0;
};

struct Syscalls {
  // Descriptors and files.
  std::function<int(const char* path, int flags, unsigned mode)> open;
  std::function<int(int dirfd, const char* path, int flags, unsigned mode)> openat;
  std::function<int(int fd)> close;
  std::function<long(int fd, void* buf, size_t count)> read;
  std::function<long(int fd, const void* buf, size_t count)> write;
  std::function<long(int fd, void* buf, size_t count, long long offset)> pread;
  std::function<long(int fd, const void* buf, size_t count, long long offset)> pwrite;
  std::function<int(int fd, FileStatus* status)> fstat;
  std::function<int(int fd, long long length)> ftruncate;
  std::function<int(int fd)> fsync;
  // Reserves the blocks of [offset, offset + length) (posix_fallocate).
  std::function<int(int fd, long long offset, long long length)> fallocate;
  // A new descriptor for the same open file (F_DUPFD_CLOEXEC, above 2).
  std::function<int(int fd)> dup;
  // An anonymous in-memory file.
  std::function<int(const char* name)> memfd_create;
  std::function<void*(void* addr, size_t length, int prot, int flags, int fd, long long offset)>
      mmap;
  std::function<int(void* addr, size_t length)> munmap;
  // Advice on a mapped range (madvise: MADV_RANDOM, MADV_WILLNEED, ...).
  std::function<int(void* addr, size_t length, int advice)> madvise;
  // The largest file the process may write, in bytes (RLIMIT_FSIZE's soft
  // limit); -1 when there is none. Files are sized against it beforehand, so
  // the limit is an error and never SIGXFSZ.
  std::function<long long()> file_size_limit;

  // Directories and names.
  std::function<int(const char* path, FileStatus* status)> stat;   // follows links
  std::function<int(const char* path, FileStatus* status)> lstat;  // does not
  std::function<int(const char* path, int how)> access;            // F_OK, R_OK, ...
  std::function<int(const char* path, unsigned mode)> mkdir;
  std::function<int(const char* path)> rmdir;
  std::function<int(const char* path)> unlink;
  std::function<int(int dirfd, const char* path, int flags)> unlinkat;
  // Renames from to to, replacing what to names (rename).
  std::function<int(const char* from, const char* to)> rename;
  // Gives the open file fd, made unnamed (O_TMPFILE), the name path
  // (linkat through /proc/self/fd); -1 with errno EEXIST when path exists.
  std::function<int(int fd, const char* path)> link_open_file;
  std::function<int(const char* path, std::string* target)> readlink;
  // The text of the link path names relative to dirfd; an empty path reads
  // the link dirfd itself is (opened with O_PATH | O_NOFOLLOW).
  std::function<int(int dirfd, const char* path, std::string* target)> readlinkat;
  std::function<int(const char* path, std::string* resolved)> realpath;
  // The names in a directory, without "." and "..".
  std::function<int(const char* path, std::vector<std::string>* names)> list_directory;

  // Host reads: the whole of a (small) file such as /proc/stat, the kernel
  // release, clock ticks per second, process and user identity.
  std::function<int(const char* path, std::string* text)> read_system_file;
  std::function<int(std::string* release)> kernel_release;
  std::function<long()> clock_ticks;
  std::function<long()> getpid;
  std::function<long()> getuid;
  std::function<long()> geteuid;
  // The user's name and the name of the user's primary group (its number
  // when it has none); -1 with errno ENOENT when the uid has no entry.
  std::function<int(long uid, std::string* user, std::string* group)> user_names;

  // Processes. spawn starts the program at path with argv and envp (a child
  // that shares this process's memory until it runs exec, as posix_spawn
  // makes one; its signal handlers are the default ones before any signal
  // can reach it): inherit_fd, when not -1, stays open in the child under its own
  // number, every other descriptor above 2 is closed on exec, and
  // nice_increment is added to the child's nice value where the host allows
  // it (a refusal is ignored). Returns the child's pid, or -1 with errno
  // saying why no child runs the program (EAGAIN, ENOENT, EACCES, ENOEXEC,
  // ...); a child that could not run it has already been reaped.
  std::function<long(const char* path, char* const* argv, char* const* envp, int inherit_fd,
                     int nice_increment)>
      spawn;
  // A descriptor referring to the process pid (pidfd_open).
  std::function<int(long pid)> pidfd_open;
  // Reaps the process once it has ended: through its pidfd, or by its pid
  // where pidfd is -1. With wait it waits for the end; without, it returns
  // 1 when the process is still running.
  std::function<int(int pidfd, long pid, bool wait)> wait_exit;
  // Ends a child that has not been reaped with SIGKILL: through its pidfd,
  // or by its pid where pidfd is -1.
  std::function<int(int pidfd, long pid)> kill_child;
  // Runs work on a new thread of this process, detached: it ends when work
  // returns. -1 with errno (EAGAIN) when the host gives no thread.
  std::function<int(std::function<void()> work)> start_thread;
  // A connected pair of Unix packet sockets (SOCK_SEQPACKET).
  std::function<int(int* fds)> socketpair;

  // Extended attributes and permissions of open files: the value of the
  // attribute name (-1 with ENODATA when there is none; ENOTSUP where the
  // file system keeps none), setting it, and setting the permission bits.
  std::function<int(int fd, const char* name, std::string* value)> fgetxattr;
  std::function<int(int fd, const char* name, const std::string& value)> fsetxattr;
  std::function<int(int fd, unsigned mode)> fchmod;
  // Processes and Unix sockets (the message queue and its channels).
  // Sockets are AF_UNIX of the given type (SOCK_SEQPACKET, ...); accept
  // gives non-blocking connections. send never raises SIGPIPE; with wait
  // false neither it nor recv blocks (-1 with EAGAIN instead). recv returns
  // the record's whole length even when it was cut to count (MSG_TRUNC).
  std::function<int(int type)> unix_socket;
  std::function<int(int fd, const char* path)> bind_unix;
  std::function<int(int fd, int backlog)> listen;
  std::function<int(int fd)> accept;
  std::function<int(int fd, const char* path)> connect_unix;
  std::function<long(int fd, const void* buf, size_t count, bool wait)> send;
  std::function<long(int fd, void* buf, size_t count, bool wait)> recv;
  // Sends up to count records (each one span) in one call (sendmmsg),
  // without blocking or raising SIGPIPE: the number sent, at least 1, or -1
  // with errno (EAGAIN when not even the first fits now).
  std::function<long(int fd, const std::span<const char>* records, size_t count)> send_records;
  // Receives up to count records in one call (recvmmsg), without blocking:
  // record i into records[i], and its whole length, even when it was cut
  // to that buffer (MSG_TRUNC), into lengths[i]. The number received, at
  // least 1, or -1 with errno (EAGAIN when none is there). Once the peer
  // has hung up, every place after what it sent holds a record of length
  // 0: as with recv, poll tells an empty record from a hang-up.
  std::function<long(int fd, const std::span<char>* records, size_t count, size_t* lengths)>
      receive_records;
  // Gives the processor to another thread or process that is ready to run,
  // if any (sched_yield).
  std::function<void()> yield_processor;
  // Connects like connect_unix, but while the listener's queue of
  // connections is full it waits for room, up to timeout_ms (-1: without
  // limit), whatever the socket's blocking mode, which stays as it was; -1
  // with EAGAIN when the time ran out first.
  std::function<int(int fd, const char* path, int timeout_ms)> connect_unix_waiting;
  // The kernel's event interface (epoll), for a waiter on many descriptors:
  // a new instance (close-on-exec, above 2); adding (EPOLL_CTL_ADD),
  // changing or removing (EPOLL_CTL_DEL) the events of fd, handed back with
  // data when they happen; and waiting up to timeout_ms (-1: without limit)
  // for at most max ready events, resumed with the time that is left when
  // interrupted. epoll_wait returns the number of events stored.
  std::function<int()> epoll_create;
  std::function<int(int epfd, int op, int fd, uint32_t events, uint64_t data)> epoll_ctl;
  std::function<int(int epfd, ReadyEvent* ready, int max, int timeout_ms)> epoll_wait;
  // The process and user at the other end of a Unix socket (SO_PEERCRED).
  std::function<int(int fd, long* pid, long* uid)> peer_credentials;
  // The socket's domain and type; -1 when fd is not a socket.
  std::function<int(int fd, int* domain, int* type)> socket_kind;
  // Takes an exclusive lock on the file without waiting (flock); -1 with
  // EWOULDBLOCK when another open file description holds it.
  std::function<int(int fd)> try_lock;
  // Takes an exclusive lock on the file, waiting while another open file
  // description holds it (flock). Only for locks held for a few file-system
  // calls, never across a wait for another process.
  std::function<int(int fd)> lock;
  // 1 when the socket is listening for connections (SO_ACCEPTCONN), 0 when
  // not; -1 when fd is not a socket.
  std::function<int(int fd)> socket_listening;
  std::function<int(int fd, bool on)> set_cloexec;
  std::function<int(const char* path, unsigned mode)> chmod;
  std::function<int(std::string* dir)> getcwd;
  std::function<long()> getppid;
  // Ends the process at once with status (_exit after the caller's own
  // clean-up), once the C library's output streams are flushed (what exit
  // would flush, without running exit's handlers); never returns.
  std::function<void(int status)> exit_process;
  // Keeping SIGPIPE away from a write to a pipe or socket, around the write
  // entry: hold_sigpipe blocks SIGPIPE in the calling thread and tells
  // whether it was blocked already and, if so, whether one was pending;
  // release_sigpipe takes back a SIGPIPE that the write raised (when
  // discard, and none was pending before) and unblocks SIGPIPE unless it was
  // blocked before. The program's dispositions and its own pending signal
  // stay as they were. A hold that cannot change the mask reports SIGPIPE
  // blocked and pending, so the release changes nothing. Neither entry
  // changes errno.
  struct SigpipeHold {
    bool was_blocked = false;
    bool was_pending = false;
  };
  std::function<void(SigpipeHold* hold)> hold_sigpipe;
  std::function<void(const SigpipeHold& hold, bool discard)> release_sigpipe;
  // The process's environment as it stands, NAME=VALUE entries in order.
  // The configuration (config.h) reads it once; a child is given it as it
  // stands when the child starts.
  std::function<std::vector<std::string>()> environment;

  // Clocks, in nanoseconds.
  std::function<int64_t()> monotonic_ns;     // CLOCK_MONOTONIC
  std::function<int64_t()> realtime_ns;      // CLOCK_REALTIME (since 1970, UTC)
  std::function<int64_t()> process_time_ns;  // CLOCK_PROCESS_CPUTIME_ID
  // Local civil time minus UTC, in seconds, at the given Unix time.
  std::function<long(int64_t unix_seconds)> local_offset_s;
  // Returns when the monotonic clock reads at least the given time, as
  // soon after it as the host allows.
  std::function<int(int64_t monotonic_ns)> sleep_until_ns;

  // Terminals. poll waits at most timeout_ms (-1: without limit); an
  // interrupted poll is resumed with the time that is left.
  std::function<int(struct pollfd* fds, unsigned long nfds, int timeout_ms)> poll;
  std::function<int(int fd, struct termios* settings)> tcgetattr;
  // tcsetattr makes the change with SIGTTOU blocked in the calling thread:
  // a process in the background changes the settings instead of being
  // stopped.
  std::function<int(int fd, int actions, const struct termios* settings)> tcsetattr;
  // A new pseudo-terminal: the master's descriptor (above 2, close-on-exec,
  // non-blocking) and the path of its slave.
  std::function<int(int* master, std::string* slave_path)> openpty;
  // Starts argv[0] (looked up in PATH) with the terminal at slave_path as
  // its controlling terminal and standard descriptors, and the process's
  // environment with the NAME=VALUE entries of env added or replaced;
  // returns its pid.
  std::function<long(const char* slave_path, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env)>
      spawn_on_terminal;
  // Waits for a child to end; returns its pid, 0 when nohang and it still
  // runs. *status is the exit status, or 128 + the signal that ended it.
  std::function<long(long pid, int* status, bool nohang)> waitpid;
};

// The live table. Only the platform calls through it; tests may assign to it.
Syscalls& syscalls();

// The table of the host's own calls.
const Syscalls& real_syscalls();
void reset_syscalls();

// Replaces the live table for one scope and restores it afterwards. saved()
// is the table as it stood when the scope began, for entries that handle
// some calls themselves and hand the rest on.
class SyscallOverride {
 public:
  SyscallOverride() : saved_(syscalls()) {}
  ~SyscallOverride() { syscalls() = saved_; }
  SyscallOverride(const SyscallOverride&) = delete;
  SyscallOverride& operator=(const SyscallOverride&) = delete;
  const Syscalls& saved() const { return saved_; }

 private:
  Syscalls saved_;
};

// Makes read_system_file answer path with text; other paths go on to the entry in
// place before. The reader form gives the text, or -1 with errno set.
void serve_file(const std::string& path, std::string text);
void serve_file(const std::string& path, std::function<int(std::string* text)> reader);

// The file-system error number nearest to an errno value (one table, in
// errno_map.cpp).
int16_t error_from_errno(int e);

// The Linux text (strerror) of the first errno value the table turns into
// error, or null when the number stands for no Linux error (0, and the
// numbers the library also gives for its own reasons: 2, 22, the internal
// error). For messages that give both vocabularies.
const char* host_error_text(int16_t error);

}  // namespace zeb::platform
