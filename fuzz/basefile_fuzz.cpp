// Reads typed values from arbitrary bytes through a memory file. The bytes themselves steer the
// reads (which value, seeks, raw reads, short reads); every integer read is written back through
// a second, writing memory file in the same order, and what that file collects must equal the
// input bytes the integers came from.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lumora.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  BYTEORDER order = (data[0] & 1) != 0 ? BYTEORDER_MOTOROLA : BYTEORDER_INTEL;
  Filename in;
  if (!in.SetMemoryData(data + 1, static_cast<Int64>(size - 1), (data[0] & 2) != 0)) return 0;
  Filename out;
  out.SetMemoryTarget();

  BaseFile r, w;
  if (!r.Open(in, FILEOPEN_READ, FILEDIALOG_NONE, order)) std::abort();
  if (!w.Open(out, FILEOPEN_WRITE, FILEDIALOG_NONE, order)) std::abort();
  if (r.GetLength() != static_cast<Int64>(size - 1)) std::abort();

  std::vector<uint8_t> expect;
  const uint8_t* body = data + 1;
  for (int step = 0; step < 4096 && r.GetError() == FILEERROR_NONE; ++step) {
    UChar op;
    if (!r.ReadUChar(&op)) break;
    Int64 at = r.GetPosition();
    Int64 width = 0;
    bool ok = true;
    switch (op % 12) {
      case 0: {
        Char v;
        if ((ok = r.ReadChar(&v))) w.WriteChar(v), width = 1;
        break;
      }
      case 1: {
        Int16 v;
        if ((ok = r.ReadInt16(&v))) w.WriteInt16(v), width = 2;
        break;
      }
      case 2: {
        UInt16 v;
        if ((ok = r.ReadUInt16(&v))) w.WriteUInt16(v), width = 2;
        break;
      }
      case 3: {
        Int32 v;
        if ((ok = r.ReadInt32(&v))) w.WriteInt32(v), width = 4;
        break;
      }
      case 4: {
        UInt32 v;
        if ((ok = r.ReadUInt32(&v))) w.WriteUInt32(v), width = 4;
        break;
      }
      case 5: {
        Int64 v;
        if ((ok = r.ReadInt64(&v))) w.WriteInt64(v), width = 8;
        break;
      }
      case 6: {
        Float32 v;
        ok = r.ReadFloat32(&v);
        if (ok && v != v) std::abort();  // NaN never comes out
        break;
      }
      case 7: {
        Float64 v;
        ok = r.ReadFloat64(&v);
        if (ok && (v != v || v - v != 0.0)) std::abort();  // neither NaN nor infinity
        break;
      }
      case 8: {
        Char d;
        if (!r.ReadChar(&d)) break;
        Int64 before = r.GetPosition();
        bool moved = r.Seek(d, FILESEEK_RELATIVE);
        Int64 target = before + d;
        if (moved != (target >= 0 && target <= static_cast<Int64>(size - 1))) std::abort();
        break;
      }
      case 9: {
        UChar n;
        if (!r.ReadUChar(&n)) break;
        uint8_t buf[256];
        Int64 pos = r.GetPosition();
        Int64 got = r.ReadBytes(buf, n, true);
        Int64 left = static_cast<Int64>(size - 1) - pos;
        if (got != (n < left ? n : left) || std::memcmp(buf, body + pos, static_cast<size_t>(got)))
          std::abort();
        break;
      }
      case 10:
        if (r.GetLength() != static_cast<Int64>(size - 1)) std::abort();
        break;
      default: {
        UChar n;
        if (!r.ReadUChar(&n)) break;
        uint8_t buf[256];
        r.ReadBytes(buf, n % 16, false);  // short reads record the error and end the loop
        break;
      }
    }
    if (ok && width > 0) expect.insert(expect.end(), body + at, body + at + width);
    if (!ok && r.GetError() != FILEERROR_READ) std::abort();
  }
  if (!w.Close()) std::abort();
  const void* bytes;
  Int64 n;
  if (!out.CollectMemoryData(&bytes, &n)) return 0;  // out of memory
  if (n != static_cast<Int64>(expect.size()) ||
      (n > 0 && std::memcmp(bytes, expect.data(), static_cast<size_t>(n)) != 0))
    std::abort();
  return 0;
}
