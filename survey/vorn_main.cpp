// vorn: surveys the effective rotational speed of every disk volume.
//
// Without arguments the survey runs as it always has; options choose the
// volumes and the form of the report. --help and --version answer without
// measuring anything, and a bad command line is refused, with the reason,
// before the library starts.
#include <getopt.h>

#include <string>

#include <zeb/zeb.h>
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "survey/survey.h"

#ifndef VORN_VERSION
#define VORN_VERSION "unknown"
#endif

namespace {

constexpr int kUsageStatus = 2;

const char* const kUsage =
    "Usage: vorn [--quiet] [--verbose] [--json] [--prometheus FILE] [--volume DIR]... | --list "
    "[--volume DIR]... | --help | --version";

const char* const kHelp[] = {
    kUsage,
    "",
    "Reports the effective RPM of every disk volume: for each volume vorn",
    "rewrites the first 512-byte block of a scratch file sixty times, drops the",
    "ten fastest and ten slowest passes and prints 60,000,000 divided by the",
    "average of the other forty pass times in microseconds.",
    "",
    "  --volume DIR        measure the file system that holds DIR (repeatable;",
    "                      replaces ZEB_VOLUMES); $NAME=DIR or $NAME=sim:...",
    "                      names the volume as ZEB_VOLUMES does",
    "  --list              show the volumes that would be measured (name, mount",
    "                      point, device) and measure nothing",
    "  --quiet             leave out the banner",
    "  --verbose           add the spread of the pass times under each volume",
    "  --json              one JSON object per volume, one per line, no banner",
    "  --prometheus FILE   also write the figures to FILE for node_exporter's",
    "                      textfile collector (replaced atomically)",
    "  --help              print this text and exit",
    "  --version           print the version and exit",
    "",
    "Environment:",
    "  ZEB_VOLUMES  the volumes to measure instead of every mounted block device:",
    "               $NAME=DIRECTORY or",
    "               $NAME=sim:rpm=N[,subtype=N][,fail=K][,busy=K][,ldev=N][,clock=virtual|real],",
    "               separated by ';'",
    "  ZEB_SWAPVOL  the volume that holds the library's swap file",
    "  TMPDIR       the temporary directory (default /tmp)",
    "",
    "Exit status: 0 every volume measured, 1 some volumes could not be measured,",
    "2 bad arguments, 3 the library could not start or the report could not be",
    "written, 4 nothing was measured. See vorn(1).",
};

// Writes lines to standard output without starting the library; 0 or, when
// a line could not be written, 3 after saying so on standard error (a
// reader that went away ends it quietly).
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
  if (error != zeb::err::kPathDown) {
    zeb::platform::write_error_line("vorn: write error on standard output: " +
                                    zeb::error_words(error));
  }
  return zeb::kAbendStatus;
}

int refuse(const std::string& reason) {
  zeb::platform::write_error_line("vorn: " + reason + "; " + kUsage);
  return kUsageStatus;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) TEST();
  // Values above any character, so that a short option is never taken for
  // one of these.
  enum {
    kHelpOpt = 256,
    kVersionOpt,
    kQuietOpt,
    kVerboseOpt,
    kJsonOpt,
    kListOpt,
    kVolumeOpt,
    kPrometheusOpt
  };
  static const option kOptions[] = {
      {"help", no_argument, nullptr, kHelpOpt},
      {"version", no_argument, nullptr, kVersionOpt},
      {"quiet", no_argument, nullptr, kQuietOpt},
      {"verbose", no_argument, nullptr, kVerboseOpt},
      {"json", no_argument, nullptr, kJsonOpt},
      {"list", no_argument, nullptr, kListOpt},
      {"volume", required_argument, nullptr, kVolumeOpt},
      {"prometheus", required_argument, nullptr, kPrometheusOpt},
      {nullptr, 0, nullptr, 0},
  };
  zeb::SurveyOptions options;
  bool help = false, version = false;
  opterr = 0;  // the refusals below give the reason and the usage line
  // "+": options end at the first other argument, which is then refused.
  for (int c; (c = getopt_long(argc, argv, "+", kOptions, nullptr)) != -1;) {
    switch (c) {
      case kHelpOpt:
        // The first of --help and --version answers, as in other tools.
        help = help || !version;
        break;
      case kVersionOpt:
        version = version || !help;
        break;
      case kQuietOpt:
        options.quiet = true;
        break;
      case kVerboseOpt:
        options.verbose = true;
        break;
      case kJsonOpt:
        options.json = true;
        break;
      case kListOpt:
        options.list = true;
        break;
      case kVolumeOpt:
        options.volumes.emplace_back(optarg);
        break;
      case kPrometheusOpt:
        if (*optarg == '\0') return refuse("--prometheus needs a file name");
        options.prometheus = optarg;
        break;
      default: {
        const std::string given = argv[optind - 1];
        for (const option& o : kOptions) {
          if (o.name == nullptr || o.val != optopt) continue;
          return refuse(std::string("option \"--") + o.name + "\" " +
                        (o.has_arg == no_argument ? "takes no value" : "needs a value"));
        }
        return refuse("unknown or ambiguous option \"" + given + "\"");
      }
    }
  }
  if (optind < argc) return refuse(std::string("unexpected argument \"") + argv[optind] + "\"");
  if (help) return print_lines(kHelp, sizeof kHelp / sizeof kHelp[0]);
  if (version) {
    const char* text[] = {"vorn (zeb) " VORN_VERSION};
    return print_lines(text, 1);
  }
  if (options.list && (options.json || options.verbose || options.prometheus)) {
    return refuse("--list measures nothing and takes only --volume and --quiet");
  }
  zeb::run_survey(options);
}
