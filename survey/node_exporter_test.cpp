// vorn's metrics file as a fleet reads it: a real node exporter on the
// loopback interface, its textfile collector pointed at the file vorn
// wrote, scraped once. Skipped where no exporter is installed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Runs argv with env added, standard error to err_fd (-1: left alone);
// returns the child's process id.
pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& env, int err_fd) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    if (err_fd >= 0) dup2(err_fd, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

std::string exporter_path() {
  for (const char* path : {"/usr/bin/prometheus-node-exporter", "/usr/local/bin/node_exporter",
                           "/usr/bin/node_exporter"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

TEST(NodeExporter, ServesTheMetricsVornWrote) {
  const std::string exporter = exporter_path();
  if (exporter.empty()) GTEST_SKIP() << "no prometheus-node-exporter installed";
  char dir_template[] = "/tmp/zeb-vorn-exporter-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;

  pid_t vorn = start({VORN_PATH, "--quiet", "--prometheus", dir + "/vorn.prom"},
                     {"ZEB_VOLUMES=$S72=sim:rpm=7200,clock=virtual"}, -1);
  int status = -1;
  ASSERT_EQ(waitpid(vorn, &status, 0), vorn);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // Port 0: the kernel gives a free port, which the exporter's "Listening
  // on" line names once it listens.
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  pid_t pid = start({exporter, "--web.listen-address=127.0.0.1:0", "--collector.disable-defaults",
                     "--collector.textfile", "--collector.textfile.directory=" + dir},
                    {}, err[1]);
  close(err[1]);
  // The port of the exporter's line `msg="Listening on" address=127.0.0.1:PORT`
  // once the log holds it whole; empty until then.
  auto listening_port = [](const std::string& log) {
    const std::string mark = "msg=\"Listening on\" address=127.0.0.1:";
    size_t at = log.find(mark);
    if (at == std::string::npos) return std::string();
    at += mark.size();
    size_t end = log.find_first_not_of("0123456789", at);
    if (end == std::string::npos || end == at) return std::string();
    return log.substr(at, end - at);
  };
  std::string log, port;
  while ((port = listening_port(log)).empty()) {
    pollfd p{err[0], POLLIN, 0};
    if (poll(&p, 1, 30000) != 1) break;  // a bound, not an ordering
    char buffer[512];
    ssize_t n = read(err[0], buffer, sizeof buffer);
    if (n <= 0) break;
    log.append(buffer, static_cast<size_t>(n));
  }
  std::string response;
  if (!port.empty()) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{10, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
      if (write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = read(s, buffer, sizeof buffer)) > 0;) {
          response.append(buffer, static_cast<size_t>(n));
        }
      }
    }
    close(s);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  close(err[0]);
  std::filesystem::remove_all(dir);

  ASSERT_FALSE(port.empty()) << log;
  EXPECT_EQ(response.rfind("HTTP/1.0 200", 0), 0u) << response.substr(0, 200);
  const std::string labels = "{device=\"\",mountpoint=\"\",volume=\"$S72\"";
  for (const std::string& line :
       {"vorn_effective_rpm" + labels + "} 7200", "vorn_volume_error" + labels + "} 0",
        "vorn_rewrite_seconds" + labels + ",quantile=\"0.5\"} 0.008333",
        "vorn_rewrite_seconds_count" + labels + "} 60",
        std::string("node_textfile_scrape_error 0")}) {
    EXPECT_NE(response.find("\n" + line + "\n"), std::string::npos) << line;
  }
}

}  // namespace
