// lumora-dump: shows what a scene-file stream holds, as an indented tree or as JSON, and checks
// whether the node classes of the library write the lists of nodes it holds back byte for byte.
//
// The stream is read through HyperFile::ReadAnyValue and the node classes only; this tool knows
// no byte of the format itself. Its own memory does not grow with the stream: long strings,
// memory blocks and arrays are shown by their size and first elements, and nothing of a chunk is
// kept (except by --check, which keeps one list of nodes at a time).
//
// Split from the entry point (app/lumora_dump_main.cpp) so that the tests, the fuzz target and
// the benchmark run the same code in their own process.
#ifndef LUMORA_DUMP_H
#define LUMORA_DUMP_H

#include <cstddef>

#include "lumora.h"

namespace lumdump {

// Where text goes: called with each block of output, in order.
struct Sink {
  void (*write)(const char* bytes, size_t n, void* data) = nullptr;
  void* data = nullptr;
};

struct Options {
  bool json = false;
  bool offsets = false;
  bool check = false;
  // Items nested deeper than depth chunks are not shown (-1: no limit).
  lumora::Int32 depth = -1;
  // Only chunks with this id, and what they hold.
  bool onlyId = false;
  lumora::Int32 id = 0;
  // How the stream was written (the stream does not say): file version, 32-bit float mode,
  // byte order of the numbers.
  lumora::Int32 fileVersion = lumora::HYPERFILE_CURRENT_VERSION;
  bool float32 = false;
  bool littleEndian = false;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFault = 1;  // malformed stream, unreadable file, or --check found a difference
constexpr int kExitUsage = 2;

// Dumps (or, with options.check, checks) the stream in name: the result on out, one line per
// fault on err (the byte offset and what was expected there). label names the stream in
// messages. Returns an exit status.
int Run(const lumora::Filename& name, const char* label, const Options& options, Sink out,
        Sink err);

// The --check part of Run.
int Check(const lumora::Filename& name, const char* label, const Options& options, Sink out,
          Sink err);

// The shortest text that reads back as v, as std::to_chars gives it, except that whole numbers
// below 10^15 are written in plain digits; at most 32 bytes at w. Returns the end.
char* Float(char* w, lumora::Float64 v);

// The decimal digits of v, as std::to_chars gives them; at most 20 bytes at w. Returns the end.
char* Integer(char* w, lumora::Int64 v);

// ---- names (app/lumora_dump_names.cpp) ----

// The name of a known chunk or node id, or null.
const char* ChunkName(lumora::Int32 id);
// The name of a tagged value's type id (the Int32 in front of a container entry), or null.
const char* ValueTypeName(lumora::Int32 type);
// Whether both tables are in strictly ascending order of the id (they are searched by halving).
bool NameTablesSorted();

// ---- command line (app/lumora_dump_main.cpp's parser, here for the tests) ----

enum class Request { kRun, kHelp, kVersion, kUsageError };
// Parses argv; on kRun *file is the stream's path. A usage error is reported on err.
Request ParseCommandLine(int argc, char** argv, Options* options, const char** file, Sink err);
extern const char* const kUsage;
extern const char* const kHelp;

}  // namespace lumdump

#endif  // LUMORA_DUMP_H
