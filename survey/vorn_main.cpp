// vorn: surveys the effective rotational speed of every disk volume.
//
// The survey takes no arguments; --help and --version answer without
// measuring anything, and anything else is refused before the library starts.
#include <cstring>
#include <string>

#include <zeb/zeb.h>
#include "format/format_core.h"
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "survey/survey.h"

#ifndef VORN_VERSION
#define VORN_VERSION "unknown"
#endif

namespace {

constexpr int kUsageStatus = 2;

const char* const kUsage = "Usage: vorn [--help | --version]";

const char* const kHelp[] = {
    kUsage,
    "",
    "Reports the effective RPM of every disk volume: for each volume vorn",
    "rewrites the first 512-byte block of a scratch file sixty times, drops the",
    "ten fastest and ten slowest passes and prints 60,000,000 divided by the",
    "average of the other forty pass times in microseconds.",
    "",
    "  --help      print this text and exit",
    "  --version   print the version and exit",
    "",
    "Environment:",
    "  ZEB_VOLUMES  the volumes to measure instead of every mounted block device:",
    "               $NAME=DIRECTORY or $NAME=sim:rpm=N[,subtype=N][,fail=K][,ldev=N],",
    "               separated by ';'",
    "  ZEB_SWAPVOL  the volume that holds the library's swap file",
    "  TMPDIR       the temporary directory (default /tmp)",
    "",
    "Exit status: 0 the survey ran to its end, 2 bad arguments, 3 the library",
    "could not start or the report could not be written. See vorn(1).",
};

// Writes lines to standard output without starting the library; 0 or, when
// a line could not be written, 3 after saying so on standard error.
int print_lines(const char* const* lines, size_t count) {
  zeb::platform::Result<int16_t> fnum = zeb::platform::open_file("$ZOUT");
  int16_t error = fnum.code();
  for (size_t i = 0; i < count && error == 0; ++i) {
    error = zeb::platform::write_file(*fnum, std::string_view(lines[i])).code();
  }
  // Every line has been written or its error kept: the close of a duplicate
  // of standard output has nothing more to report.
  if (fnum.ok()) zeb::platform::close_file(*fnum).ignore();
  if (error == 0) return 0;
  char text[160];
  const size_t length =
      zeb::format::format_into(text, "vorn: write error on standard output: error \\e\\", {&error});
  zeb::platform::write_error_line(std::string(text, length));
  return zeb::kAbendStatus;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) TEST();
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    return print_lines(kHelp, sizeof kHelp / sizeof kHelp[0]);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    const char* version[] = {"vorn (zeb) " VORN_VERSION};
    return print_lines(version, 1);
  }
  zeb::platform::write_error_line(std::string("vorn: unexpected argument \"") + argv[1] + "\"; " +
                                  kUsage);
  return kUsageStatus;
}
