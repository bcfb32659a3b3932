// lumora-dump: shows what a scene-file stream holds (see lumora_dump.h; doc/lumora-dump.1 is the
// manual).
#include <cstdio>

#include "lum_version.h"
#include "lumora_dump.h"

namespace {

void ToFile(const char* bytes, size_t n, void* data) {
  std::fwrite(bytes, 1, n, static_cast<std::FILE*>(data));
}

}  // namespace

int main(int argc, char** argv) {
  lumdump::Sink out{ToFile, stdout};
  lumdump::Sink err{ToFile, stderr};
  lumdump::Options options;
  const char* file = nullptr;
  switch (lumdump::ParseCommandLine(argc, argv, &options, &file, err)) {
    case lumdump::Request::kRun:
      break;
    case lumdump::Request::kHelp:
      std::printf("%s\n%s", lumdump::kUsage, lumdump::kHelp);
      return lumdump::kExitOk;
    case lumdump::Request::kVersion:
      std::printf("lumora-dump (lumora) %s\n", LUMORA_VERSION);
      return lumdump::kExitOk;
    case lumdump::Request::kUsageError:
      return lumdump::kExitUsage;
  }
  const int status = lumdump::Run(lumora::Filename(file), file, options, out, err);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "lumora-dump: cannot write the output\n");
    return lumdump::kExitFault;
  }
  return status;
}
