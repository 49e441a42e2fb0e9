// A named echo server on $RECEIVE under load, against a one-thread epoll
// echo server on a plain AF_UNIX SOCK_SEQPACKET socket (listen backlog
// 4096), in the same run: N requesters at once (1, 16, 64, 256, 1,000), each
// opening the server and sending 64-byte messages, every reply checked. The
// library's requesters use FILE_OPEN_, WRITEREADX and FILE_CLOSE_; the raw
// ones connect, send and recv. Reported: round trips per second (all
// requesters together, from the moment all are open), p50 and p99 of the
// round trip, and the server's processor time per message. The stretch
// case: 10,000 openers (100 processes opening the server 100 times each).
//
// The servers are this binary, started with ZEB_LOAD_BENCH_SERVER=zeb or
// raw; each writes one byte to the descriptor ZEB_LOAD_BENCH_READY once it
// listens, and answers the message "cpu?" with its processor time.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <zeb/zeb.h>
#include "platform/ipc/connection.h"
#include "platform/ipc/messages.h"

extern char** environ;

namespace {

constexpr int kMessageSize = 64;
constexpr char kCpuQuery[] = "cpu?";

int64_t now_ns(clockid_t clock = CLOCK_MONOTONIC) {
  timespec t;
  clock_gettime(clock, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void raise_descriptor_limit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

void signal_ready() {
  const char* ready = std::getenv("ZEB_LOAD_BENCH_READY");
  if (ready != nullptr && write(std::atoi(ready), "r", 1) != 1) std::_Exit(3);
}

// The library's echo server: the READUPDATE/REPLY loop of a named process.
[[noreturn]] void zeb_server() {
  int16_t fnum = -1;
  if (FILE_OPEN_(zeb::mask({1, 2, 3}), "$RECEIVE", 8, &fnum) != 0) std::_Exit(1);
  signal_ready();
  char buffer[600];
  for (;;) {
    int16_t count = 0;
    const int16_t error = READUPDATE(zeb::mask({1, 2, 3, 4}), fnum, buffer, 596, &count);
    if (error != 0 && error != 6) std::_Exit(2);
    if (error == 0 && count == 4 && std::memcmp(buffer, kCpuQuery, 4) == 0) {
      const int64_t cpu = now_ns(CLOCK_PROCESS_CPUTIME_ID);
      REPLY(zeb::mask({1, 2}), &cpu, sizeof cpu);
      continue;
    }
    REPLY(zeb::mask({1, 2}), buffer, count);
  }
}

// The raw echo server: one thread, epoll, one record in, the same record out.
[[noreturn]] void raw_server(const char* path) {
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
  unlink(path);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4096) != 0) {
    std::_Exit(1);
  }
  const int ep = epoll_create1(0);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listener;
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &event);
  signal_ready();
  epoll_event events[64];
  char buffer[600];
  for (;;) {
    const int n = epoll_wait(ep, events, 64, -1);
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == listener) {
        int c;
        while ((c = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
          epoll_event e{};
          e.events = EPOLLIN;
          e.data.fd = c;
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &e);
        }
        continue;
      }
      const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got <= 0) {
        if (got == 0 || errno != EAGAIN) close(fd);
        continue;
      }
      if (got == 4 && std::memcmp(buffer, kCpuQuery, 4) == 0) {
        const int64_t cpu = now_ns(CLOCK_PROCESS_CPUTIME_ID);
        send(fd, &cpu, sizeof cpu, MSG_NOSIGNAL);
        continue;
      }
      send(fd, buffer, static_cast<size_t>(got), MSG_NOSIGNAL);
    }
  }
}

std::string g_socket_dir;

struct Server {
  pid_t pid = -1;
};

Server start_server(const char* kind) {
  int ready[2];
  if (pipe(ready) != 0) return {};
  std::vector<std::string> entries = {std::string("ZEB_LOAD_BENCH_SERVER=") + kind,
                                      "ZEB_LOAD_BENCH_READY=" + std::to_string(ready[1]),
                                      "ZEB_PROCESS_NAME=$LECHO"};
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  char exe[] = "/proc/self/exe";
  char* argv[] = {exe, nullptr};
  Server server;
  if (posix_spawn(&server.pid, exe, nullptr, nullptr, argv, envp.data()) != 0) server.pid = -1;
  close(ready[1]);
  char byte;
  if (server.pid > 0 && read(ready[0], &byte, 1) != 1) server.pid = -1;
  close(ready[0]);
  return server;
}

void stop_server(Server* server) {
  if (server->pid <= 0) return;
  kill(server->pid, SIGKILL);
  waitpid(server->pid, nullptr, 0);
  server->pid = -1;
}

// One requester's connection, library or raw.
struct Link {
  bool zeb = false;
  int16_t filenum = -1;  // the library's
  zeb::platform::Connection connection;
  int fd = -1;  // raw
};

bool open_link(bool zeb, Link* link) {
  link->zeb = zeb;
  if (zeb) return FILE_OPEN_(zeb::mask({1, 2, 3}), "$LECHO", 6, &link->filenum) == 0;
  link->fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/raw", g_socket_dir.c_str());
  return connect(link->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// Many opens of one server from one process, through the typed calls (the
// file table of one process holds fewer files than that).
bool open_many(Link* link) {
  link->zeb = false;
  zeb::platform::Result<zeb::platform::Connection> made =
      zeb::platform::connect_named("$LECHO", 30000);
  if (!made.ok()) return false;
  link->fd = made->fd;
  const zeb::platform::Message open = zeb::platform::open_message();
  zeb::platform::Request request;
  request.message = open;
  request.system = true;
  request.timeout_ms = 30000;
  zeb::platform::Result<zeb::platform::Reply> got = zeb::platform::exchange(*made, request);
  return got.ok() && got->error == 0;
}

// One round trip; false when the reply is not the message. Links made by
// open_many speak the library's framing themselves.
bool round_trip(const Link& link, char* message, size_t size, bool framed) {
  char reply[600];
  if (link.zeb) {
    std::memcpy(reply, message, size);
    int16_t got = 0;
    return WRITEREADX(zeb::mask({1, 2, 3, 4, 5}), link.filenum, reply, static_cast<int16_t>(size),
                      static_cast<int16_t>(sizeof reply), &got) == 0 &&
           static_cast<size_t>(got) == size && std::memcmp(reply, message, size) == 0;
  }
  if (framed) {
    zeb::platform::Request request;
    request.message = std::span<const char>(message, size);
    request.reply_to = reply;
    zeb::platform::Result<zeb::platform::Reply> got =
        zeb::platform::exchange(zeb::platform::Connection{link.fd}, request);
    return got.ok() && static_cast<size_t>(got->length) == size &&
           std::memcmp(reply, message, size) == 0;
  }
  if (send(link.fd, message, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) return false;
  return recv(link.fd, reply, sizeof reply, 0) == static_cast<ssize_t>(size) &&
         std::memcmp(reply, message, size) == 0;
}

// The server's processor time, asked of it.
int64_t server_cpu_ns(bool zeb) {
  Link link;
  if (!open_link(zeb, &link)) return -1;
  int64_t cpu = -1;
  char query[4];
  std::memcpy(query, kCpuQuery, 4);
  char reply[600];
  int16_t got = 0;
  if (zeb) {
    std::memcpy(reply, query, 4);
    if (WRITEREADX(zeb::mask({1, 2, 3, 4, 5}), link.filenum, reply, 4, sizeof reply, &got) == 0) {
      std::memcpy(&cpu, reply, sizeof cpu);
    }
    FILE_CLOSE_(zeb::mask({1}), link.filenum);
  } else {
    if (send(link.fd, query, 4, MSG_NOSIGNAL) == 4 && recv(link.fd, reply, sizeof reply, 0) == 8) {
      std::memcpy(&cpu, reply, sizeof cpu);
    }
    close(link.fd);
  }
  return cpu;
}

// Results shared by the requesters with the parent.
struct Shared {
  int64_t failures;
  int64_t done_ns;      // the latest end of a requester's messages
  uint32_t latency[1];  // ns, processes * opens * messages of them
};

struct Load {
  bool zeb = false;
  int processes = 1;
  int opens = 1;     // per process (more than one: open_many)
  int messages = 1;  // per open
};

// One run: the requesters open the server, wait for all to be open, send
// their messages at once (the gate), and end. Round trips per second are
// counted from the gate to the last requester's end.
void run_load(benchmark::State& state, const Load& load) {
  Server server = start_server(load.zeb ? "zeb" : "raw");
  if (server.pid <= 0) {
    state.SkipWithError("the server did not start");
    return;
  }
  const size_t total = static_cast<size_t>(load.processes) * load.opens * load.messages;
  const size_t bytes = sizeof(Shared) + total * sizeof(uint32_t);
  void* area = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  Shared* shared = static_cast<Shared*>(area);
  double trips_per_s = 0, p50 = 0, p99 = 0, cpu_per_message = 0;
  for (auto _ : state) {
    std::memset(area, 0, bytes);
    int opened[2], gate[2], closing[2];
    if (pipe(opened) != 0 || pipe(gate) != 0 || pipe(closing) != 0) std::abort();
    std::vector<pid_t> pids;
    for (int p = 0; p < load.processes; ++p) {
      const pid_t pid = fork();
      if (pid == 0) {
        close(opened[0]);
        close(gate[1]);
        close(closing[1]);
        std::vector<Link> links(static_cast<size_t>(load.opens));
        bool ok = true;
        for (Link& link : links)
          ok = ok && (load.opens > 1 ? open_many(&link) : open_link(load.zeb, &link));
        if (write(opened[1], ok ? "o" : "x", 1) != 1) std::_Exit(2);
        char go;
        (void)!read(gate[0], &go, 1);
        uint32_t* mine = shared->latency + static_cast<size_t>(p) * load.opens * load.messages;
        char message[kMessageSize];
        int64_t failures = ok ? 0 : 1;
        for (int m = 0; ok && m < load.messages; ++m) {
          for (size_t l = 0; l < links.size(); ++l) {
            std::memset(message, 'a' + (m + p) % 26, sizeof message);
            std::snprintf(message, sizeof message, "%d %zu %d", p, l, m);
            const int64_t start = now_ns();
            if (!round_trip(links[l], message, sizeof message, load.opens > 1)) ++failures;
            *mine++ = static_cast<uint32_t>(std::min<int64_t>(now_ns() - start, UINT32_MAX));
          }
        }
        const int64_t end = now_ns();
        __atomic_fetch_add(&shared->failures, failures, __ATOMIC_SEQ_CST);
        int64_t seen = __atomic_load_n(&shared->done_ns, __ATOMIC_SEQ_CST);
        while (seen < end && !__atomic_compare_exchange_n(&shared->done_ns, &seen, end, false,
                                                          __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
        }
        // The closes come after the parent has asked the server's time, so
        // that it counts the messages alone.
        if (write(opened[1], "d", 1) != 1) std::_Exit(2);
        (void)!read(closing[0], &go, 1);
        for (Link& link : links) {
          if (link.zeb) {
            FILE_CLOSE_(zeb::mask({1}), link.filenum);
          } else if (load.opens > 1) {
            zeb::platform::close_process(link.fd);
          } else {
            close(link.fd);
          }
        }
        std::_Exit(0);
      }
      pids.push_back(pid);
    }
    close(opened[1]);
    close(gate[0]);
    close(closing[0]);
    char byte;
    int not_open = 0;
    for (int p = 0; p < load.processes; ++p) {
      if (read(opened[0], &byte, 1) != 1 || byte != 'o') ++not_open;
    }
    const int64_t cpu_before = server_cpu_ns(load.zeb);
    const int64_t start = now_ns();
    close(gate[1]);  // all send at once
    for (int p = 0; p < load.processes; ++p) {
      if (read(opened[0], &byte, 1) != 1) break;
    }
    const int64_t cpu_after = server_cpu_ns(load.zeb);
    close(opened[0]);
    close(closing[1]);  // all close
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
    if (not_open != 0 || shared->failures != 0) {
      state.SkipWithError(
          (std::to_string(not_open) + " not open, " + std::to_string(shared->failures) + " failed")
              .c_str());
      break;
    }
    const double seconds = static_cast<double>(shared->done_ns - start) / 1e9;
    state.SetIterationTime(seconds);
    trips_per_s = static_cast<double>(total) / seconds;
    std::vector<uint32_t> sorted(shared->latency, shared->latency + total);
    std::sort(sorted.begin(), sorted.end());
    p50 = sorted[total / 2] / 1000.0;
    p99 = sorted[std::min(total - 1, total * 99 / 100)] / 1000.0;
    // Less the two questions' own messages.
    cpu_per_message = static_cast<double>(cpu_after - cpu_before) / 1000.0 / (total + 2);
  }
  state.counters["trips/s"] = trips_per_s;
  state.counters["p50_us"] = p50;
  state.counters["p99_us"] = p99;
  state.counters["server_cpu_us/msg"] = cpu_per_message;
  munmap(area, bytes);
  stop_server(&server);
}

// About 40,000 round trips a run, however many requesters share them.
int messages_for(int requesters) { return std::max(20, 40000 / requesters); }

void BM_ZebEcho(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  run_load(state, {true, n, 1, messages_for(n)});
}
void BM_RawEcho(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  run_load(state, {false, n, 1, messages_for(n)});
}
// 100 processes opening the library's server 100 times each: 10,000
// openers, each sending 4 messages; against one opener sending 40,000.
void BM_ZebTenThousandOpeners(benchmark::State& state) { run_load(state, {true, 100, 100, 4}); }

#define ZEB_LOAD_ARGS ->Arg(1)->Arg(16)->Arg(64)->Arg(256)->Arg(1000)
BENCHMARK(BM_ZebEcho) ZEB_LOAD_ARGS->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawEcho) ZEB_LOAD_ARGS->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZebTenThousandOpeners)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Prints the library's figures as multiples of the raw server's.
class LoadReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      std::map<std::string, double>& figures = results_[run.benchmark_name()];
      for (const auto& [name, counter] : run.counters) figures[name] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf(
        "\n$RECEIVE echo server / raw epoll server (round trips per second: higher is "
        "better; p99: lower is better)\n");
    for (const char* n : {"1", "16", "64", "256", "1000"}) {
      auto ours = results_.find(std::string("BM_ZebEcho/") + n + "/iterations:1/manual_time");
      auto theirs = results_.find(std::string("BM_RawEcho/") + n + "/iterations:1/manual_time");
      if (ours == results_.end() || theirs == results_.end()) continue;
      auto& a = ours->second;
      auto& b = theirs->second;
      if (b["trips/s"] <= 0 || b["p99_us"] <= 0) continue;
      std::printf(
          "%5s requesters: round trips/s %.2fx, p99 %.2fx, server cpu/msg %.2fx\n", n,
          a["trips/s"] / b["trips/s"], a["p99_us"] / b["p99_us"],
          b["server_cpu_us/msg"] > 0 ? a["server_cpu_us/msg"] / b["server_cpu_us/msg"] : 0.0);
    }
    auto one = results_.find("BM_ZebEcho/1/iterations:1/manual_time");
    auto many = results_.find("BM_ZebTenThousandOpeners/iterations:1/manual_time");
    if (one != results_.end() && many != results_.end() && one->second["server_cpu_us/msg"] > 0) {
      std::printf("10,000 openers: server cpu per message %.2fx that of one opener\n",
                  many->second["server_cpu_us/msg"] / one->second["server_cpu_us/msg"]);
    }
    std::fflush(stdout);
  }

 private:
  std::map<std::string, std::map<std::string, double>> results_;
};

}  // namespace

int main(int argc, char** argv) {
  raise_descriptor_limit();
  if (const char* kind = std::getenv("ZEB_LOAD_BENCH_SERVER")) {
    const std::string dir = std::getenv("ZEB_SOCKET_DIR");
    if (std::string(kind) == "raw") raw_server((dir + "/raw").c_str());
    zeb_server();
  }
  char scratch[] = "/tmp/zeb-load-XXXXXX";
  if (mkdtemp(scratch) == nullptr) return 1;
  g_socket_dir = std::string(scratch) + "/s";
  setenv("ZEB_SOCKET_DIR", g_socket_dir.c_str(), 1);
  mkdir(g_socket_dir.c_str(), 0700);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  LoadReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ignored;  // a scratch directory left behind is no failure of the run
  std::filesystem::remove_all(scratch, ignored);
  return 0;
}
