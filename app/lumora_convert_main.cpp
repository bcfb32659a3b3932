// lumora-convert: scene files to and from the formats Assimp knows.
//
//   lumora-convert [--format ID] [--triangulate] [--quiet] IN OUT
//   lumora-convert --list-formats | --help | --version
//
// The direction follows the names: a scene file (.lum) on one side, any format Assimp reads or
// writes on the other, or scene files on both to re-save. Exit 0 on success, 1 on a failed
// conversion (one line on stderr naming the file), 2 on a usage error.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "convert/lum_convert.h"
#include "lum_version.h"

using namespace lumora;

namespace {

const char kUsage[] =
    "usage: lumora-convert [--format ID] [--triangulate] [--quiet] IN OUT\n"
    "       lumora-convert --list-formats | --help | --version\n";

const char kHelp[] =
    "Converts a scene file (.lum) to any format Assimp writes, any format Assimp reads to a\n"
    "scene file, or a scene file to a scene file. The direction follows the file names.\n"
    "\n"
    "  --format ID     the export format where OUT's extension does not name one\n"
    "  --list-formats  the export formats (ID, extension, description)\n"
    "  --triangulate   split quadrangles and n-gons into triangles\n"
    "  --quiet         do not list what the conversion could not carry\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "\n"
    "Exit status: 0 done, 1 the conversion failed, 2 a wrong command line.\n";

// The progress line: shown on a terminal once the work has taken a second.
struct Progress {
  timespec start{};
  bool shown = false;
};

Float Seconds(const timespec& since) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return Float(now.tv_sec - since.tv_sec) + 1e-9 * Float(now.tv_nsec - since.tv_nsec);
}

void ShowProgress(void* user, Float done) {
  Progress* p = static_cast<Progress*>(user);
  if (!p->shown && Seconds(p->start) < 1.0) return;
  p->shown = true;
  std::fprintf(stderr, "\rlumora-convert: %3d%%", int(done * 100.0 + 0.5));
  std::fflush(stderr);
}

int Usage(const char* why) {
  std::fprintf(stderr, "lumora-convert: %s\n%s", why, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* format = nullptr;
  const char* files[2] = {nullptr, nullptr};
  int fileCount = 0;
  ConvertOptions options;
  bool quiet = false, dashes = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (dashes || a[0] != '-' || a[1] == 0) {
      if (fileCount == 2) return Usage("too many files");
      files[fileCount++] = a;
    } else if (std::strcmp(a, "--") == 0) {
      dashes = true;
    } else if (std::strcmp(a, "--help") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (std::strcmp(a, "--version") == 0) {
      std::printf("lumora-convert %s\n", LUMORA_VERSION);
      return 0;
    } else if (std::strcmp(a, "--list-formats") == 0) {
      ConvertFormat f;
      for (Int32 k = 0; GetExportFormat(k, f); ++k)
        std::printf("%-10s .%-8s %s\n", f.id, f.extension, f.description);
      return 0;
    } else if (std::strcmp(a, "--format") == 0) {
      if (i + 1 == argc) return Usage("--format needs an ID");
      format = argv[++i];
      bool known = false;
      ConvertFormat f;
      for (Int32 k = 0; GetExportFormat(k, f); ++k) known = known || std::strcmp(f.id, format) == 0;
      if (!known) return Usage("unknown format (see --list-formats)");
    } else if (std::strcmp(a, "--triangulate") == 0) {
      options.triangulate = true;
    } else if (std::strcmp(a, "--quiet") == 0) {
      quiet = true;
    } else {
      char why[256];
      std::snprintf(why, sizeof why, "unknown option %s", a);
      return Usage(why);
    }
  }
  if (fileCount != 2) return Usage("IN and OUT are needed");
  if (format != nullptr && IsSceneFile(files[1]))
    return Usage("--format names a format to write, and OUT is a scene file");

  Progress progress;
  if (isatty(STDERR_FILENO) && !quiet) {
    clock_gettime(CLOCK_MONOTONIC, &progress.start);
    options.progress = ShowProgress;
    options.progressUser = &progress;
  }
  ConvertReport report;
  const bool ok = ConvertFile(files[0], files[1], format, options, report);
  if (progress.shown) std::fputs("\r\033[K", stderr);
  if (!ok) {
    std::fprintf(stderr, "lumora-convert: %s\n", report.GetError());
    return 1;
  }
  if (!quiet) {
    char line[ConvertReport::LINE_SIZE];
    for (Int32 i = 0; i < report.GetLineCount(); ++i) {
      report.GetLine(i, line, sizeof line);
      std::fprintf(stderr, "lumora-convert: %s\n", line);
    }
  }
  return 0;
}
