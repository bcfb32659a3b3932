// lumora-dump: the command line, its usage and help texts (see lumora_dump.h).
#include <charconv>
#include <climits>
#include <cstring>

#include "lumora_dump.h"

namespace lumdump {

using lumora::Int32;

const char* const kUsage =
    "usage: lumora-dump [--json] [--offsets] [--depth N] [--id ID] [--check]\n"
    "                   [--file-version N] [--float32] [--little-endian] FILE\n";

const char* const kHelp =
    "Shows what the scene-file stream FILE holds: one line per chunk (id, name when known,\n"
    "level) and per value (kind and value), indented by the chunks it lies in. Long strings,\n"
    "memory blocks and arrays are shown by their size and first elements; a container's values\n"
    "are marked with their roles (container id, entry id, type). A malformed stream is shown up\n"
    "to the fault, then one line on stderr gives the offset and what was expected there. Exit\n"
    "status: 0 for a whole stream, 1 for a fault (or a list --check finds different), 2 for a\n"
    "wrong command line.\n"
    "\n"
    "  --json            the same tree as JSON: an array of objects, one per chunk and value\n"
    "  --offsets         show the byte offset of each chunk and value\n"
    "  --depth N         show nothing nested deeper than N chunks\n"
    "  --id ID           show only chunks with that id, and what they hold\n"
    "  --check           read each list of nodes with the library's node classes, write it back\n"
    "                    into memory and say whether the bytes are identical (link and goal\n"
    "                    identities aside), or where they first differ\n"
    "  --file-version N  the file version the stream was written with (default: current)\n"
    "  --float32         the stream was written in 32-bit float mode\n"
    "  --little-endian   the stream's numbers are little-endian\n"
    "  --help            print this help and exit\n"
    "  --version         print the version and exit\n"
    "  --                end of options: the next argument is FILE\n";

namespace {

void Say(Sink err, const char* a, const char* b) {
  if (err.write == nullptr) return;
  err.write("lumora-dump: ", 13, err.data);
  err.write(a, std::strlen(a), err.data);
  err.write(b, std::strlen(b), err.data);
  err.write("\n", 1, err.data);
  err.write(kUsage, std::strlen(kUsage), err.data);
}

// A whole decimal Int32 (an optional sign, digits, nothing else).
bool ParseInt32(const char* s, Int32* out) {
  const char* end = s + std::strlen(s);
  if (*s == '+') ++s;
  long long v = 0;
  auto r = std::from_chars(s, end, v);
  // No digits at all is an error of from_chars.
  if (r.ec != std::errc() || r.ptr != end || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<Int32>(v);
  return true;
}

}  // namespace

Request ParseCommandLine(int argc, char** argv, Options* options, const char** file, Sink err) {
  *file = nullptr;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnd && arg[0] == '-' && arg[1] != '\0') {
      Int32* number = nullptr;
      if (std::strcmp(arg, "--") == 0) {
        optionsEnd = true;
      } else if (std::strcmp(arg, "--help") == 0) {
        return Request::kHelp;
      } else if (std::strcmp(arg, "--version") == 0) {
        return Request::kVersion;
      } else if (std::strcmp(arg, "--json") == 0) {
        options->json = true;
      } else if (std::strcmp(arg, "--offsets") == 0) {
        options->offsets = true;
      } else if (std::strcmp(arg, "--check") == 0) {
        options->check = true;
      } else if (std::strcmp(arg, "--float32") == 0) {
        options->float32 = true;
      } else if (std::strcmp(arg, "--little-endian") == 0) {
        options->littleEndian = true;
      } else if (std::strcmp(arg, "--depth") == 0) {
        number = &options->depth;
      } else if (std::strcmp(arg, "--id") == 0) {
        number = &options->id;
        options->onlyId = true;
      } else if (std::strcmp(arg, "--file-version") == 0) {
        number = &options->fileVersion;
      } else {
        Say(err, "unknown option ", arg);
        return Request::kUsageError;
      }
      if (number != nullptr) {
        if (i + 1 >= argc) {
          Say(err, arg, " needs a number");
          return Request::kUsageError;
        }
        if (!ParseInt32(argv[++i], number) || (number == &options->depth && *number < 0)) {
          Say(err, "not a valid number: ", argv[i]);
          return Request::kUsageError;
        }
      }
      continue;
    }
    if (*file != nullptr) {
      Say(err, "more than one FILE: ", arg);
      return Request::kUsageError;
    }
    *file = arg;
  }
  if (*file == nullptr) {
    Say(err, "no FILE", "");
    return Request::kUsageError;
  }
  if (options->check && (options->json || options->onlyId || options->depth >= 0)) {
    Say(err, "--check takes none of --json, --id, --depth", "");
    return Request::kUsageError;
  }
  return Request::kRun;
}

}  // namespace lumdump
