// lumora-dump over any bytes: the tree, the JSON or the check of a stream.
//
// The first byte chooses how: bits 0-1 the file version (current, 11924, 11903, 10001), bit 2
// the 32-bit float flag, bit 3 little-endian numbers, bits 4-5 the form (tree with offsets,
// JSON, tree two chunks deep, --check), bit 6 --id 132. Checked on every run: the exit status is
// 0 or 1; the JSON's brackets balance outside its strings; and a stream the dump takes whole is
// one that skipping value by value takes whole too. Every input but --check's is also dumped as
// the plain tree twice, from memory (each value read piece by piece) and from a file (values
// decoded where they lie in the read buffer, those across its edge piece by piece): the two
// must agree byte for byte.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lumora.h"
#include "lumora_dump.h"

namespace {

struct Balance {
  long depth = 0;
  bool inString = false;
  bool escaped = false;
  bool negative = false;
};

void Count(const char* bytes, size_t n, void* data) {
  Balance* b = static_cast<Balance*>(data);
  for (size_t i = 0; i < n; ++i) {
    const char c = bytes[i];
    if (b->inString) {
      if (b->escaped)
        b->escaped = false;
      else if (c == '\\')
        b->escaped = true;
      else if (c == '"')
        b->inString = false;
      continue;
    }
    if (c == '"') b->inString = true;
    if (c == '[' || c == '{') ++b->depth;
    if (c == ']' || c == '}') --b->depth;
    if (b->depth < 0) b->negative = true;
  }
}

void Discard(const char*, size_t, void*) {}

void Append(const char* bytes, size_t n, void* data) {
  static_cast<std::string*>(data)->append(bytes, n);
}

// The plain tree of the bytes from memory and from a file in memory (memfd) agree.
bool FileAndMemoryAgree(const uint8_t* data, size_t size, const lumdump::Options& how) {
  static const int fd = memfd_create("dump_fuzz", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  lumdump::Options o;
  o.fileVersion = how.fileVersion;
  o.float32 = how.float32;
  o.littleEndian = how.littleEndian;
  lumora::Filename memory;
  memory.SetMemoryData(data, static_cast<lumora::Int64>(size), false);
  std::string fromMemory, fromFile, errMemory, errFile;
  const int a = lumdump::Run(memory, "s", o, {Append, &fromMemory}, {Append, &errMemory});
  const int b =
      lumdump::Run(lumora::Filename(path), "s", o, {Append, &fromFile}, {Append, &errFile});
  return a == b && fromMemory == fromFile && errMemory == errFile;
}

// Skips the stream value by value as a reader that understands none of it would.
bool SkipsWhole(const lumora::Filename& name, const lumdump::Options& o) {
  lumora::HyperFile hf;
  hf.SetFileVersion(o.fileVersion);
  hf.SetFloat32Mode(o.float32);
  if (!hf.Open(name, lumora::FILEOPEN_READ)) return false;
  if (o.littleEndian) hf.SetByteOrder(lumora::BYTEORDER_INTEL);
  while (hf.GetPosition() < hf.GetLength()) {
    lumora::HYPERFILEVALUE kind;
    if (!hf.ReadValueHeader(&kind)) return false;
    if (kind == lumora::HYPERFILEVALUE_CHUNKSTART) {
      if (!hf.ReadChunkStart(nullptr, nullptr)) return false;
    } else if (kind != lumora::HYPERFILEVALUE_CHUNKEND && !hf.SkipValue(kind)) {
      return false;
    }
    if (hf.GetChunkDepth() < 0) return false;
  }
  return hf.GetChunkDepth() == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const lumora::Int32 versions[4] = {lumora::HYPERFILE_CURRENT_VERSION, 11924, 11903, 10001};
  lumdump::Options o;
  o.fileVersion = versions[data[0] & 3];
  o.float32 = (data[0] & 4) != 0;
  o.littleEndian = (data[0] & 8) != 0;
  switch ((data[0] >> 4) & 3) {
    case 0:
      o.offsets = true;
      break;
    case 1:
      o.json = true;
      break;
    case 2:
      o.depth = 2;
      break;
    default:
      o.check = true;
      break;
  }
  if ((data[0] & 64) != 0 && !o.check) {
    o.onlyId = true;
    o.id = lumora::HYPERFILEVALUE_CONTAINER;
  }
  lumora::Filename name;
  name.SetMemoryData(data + 1, static_cast<lumora::Int64>(size - 1), false);
  Balance balance;
  const int status = lumdump::Run(name, "fuzz", o, {Count, &balance}, {Discard, nullptr});
  if (status != 0 && status != 1) std::abort();
  if (o.json && (balance.depth != 0 || balance.negative || balance.inString)) std::abort();
  if (status == 0 && !o.check && !SkipsWhole(name, o)) std::abort();
  if (!o.check && !FileAndMemoryAgree(data + 1, size - 1, o)) std::abort();
  return 0;
}
