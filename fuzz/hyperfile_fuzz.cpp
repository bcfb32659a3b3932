// Walks any byte string as a scene stream.
//
// The first byte chooses how the rest is read: bits 0-1 the file version (current, 11924,
// 11903, 10001), bit 2 the 32-bit float flag, bit 3 little-endian numbers, bits 4-6 which of
// the older or helper readers the second pass prefers. The first pass reads value headers,
// skips values, skips or keeps chunks (kept chunks are written back to a memory file); the
// second pass reads the same stream again with the typed reader of every kind the first pass
// met, as long as both passes agree on where the values start.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumora.h"

using namespace lumora;

namespace {

struct Seen {
  Int64 position;
  Int32 kind;
};

constexpr size_t kMaxValues = 4096;

struct Options {
  Int32 version;
  bool float32;
  BYTEORDER order;
  UInt8 prefer;
};

void Setup(HyperFile& hf, const Options& o) {
  hf.SetFileVersion(o.version);
  hf.SetFloat32Mode(o.float32);
}

// Raw numbers of the stream at data[pos], in its byte order.
UInt64 Raw(const UInt8* data, size_t size, size_t pos, int width, BYTEORDER order) {
  UInt64 v = 0;
  if (pos + width > size) return 0;
  for (int i = 0; i < width; ++i) {
    int shift = order == BYTEORDER_MOTOROLA ? 8 * (width - 1 - i) : 8 * i;
    v |= static_cast<UInt64>(data[pos + i]) << shift;
  }
  return v;
}

std::vector<Seen> FirstPass(const Filename& name, const Options& o) {
  std::vector<Seen> seen;
  HyperFile hf;
  Setup(hf, o);
  if (!hf.Open(name, FILEOPEN_READ)) return seen;
  hf.SetByteOrder(o.order);
  Filename outName;
  outName.SetMemoryTarget();
  HyperFile out;
  out.Open(outName, FILEOPEN_WRITE);
  while (seen.size() < kMaxValues) {
    Int64 pos = hf.GetPosition();
    HYPERFILEVALUE kind;
    if (!hf.ReadValueHeader(&kind)) break;
    seen.push_back({pos, kind});
    if (kind == HYPERFILEVALUE_CHUNKSTART) {
      Int32 id = 0, level = 0;
      if (!hf.ReadChunkStart(&id, &level)) break;
      switch (id & 3) {
        case 0:
          hf.SkipToEndChunk();
          break;
        case 1: {
          bool withoutEnd = (id & 4) != 0;
          void* bytes = nullptr;
          Int64 n = 0;
          if (hf.ReadUnknownChunk(&bytes, &n, withoutEnd)) {
            out.WriteChunkStart(id, level);
            out.WriteUnknownChunk(bytes, n, withoutEnd);
            if (withoutEnd) out.WriteChunkEnd();
          }
          MemFree(bytes);
          break;
        }
        default:  // walk into the chunk
          break;
      }
    } else if (kind == HYPERFILEVALUE_CHUNKEND) {
      hf.ReadChunkEnd();
    } else {
      hf.SkipValue(kind);
    }
    if (hf.GetError() != FILEERROR_NONE) break;
  }
  out.Close();
  return seen;
}

template <typename T>
void Release(T* block) {
  DeleteMem(block);
}

// Reads the typed array whose header starts at pos with the type and count it states.
void ReadStatedArray(HyperFile& hf, const UInt8* data, size_t size, size_t pos, const Options& o) {
  Int32 type;
  Int64 bytes;
  if (o.version <= 11903) {
    type = pos + 1 < size ? data[pos + 1] : 0;
    bytes = static_cast<Int32>(Raw(data, size, pos + 2, 4, o.order));
  } else {
    Int32 m = static_cast<Int32>(Raw(data, size, pos + 1, 4, o.order));
    type = pos + 5 < size ? data[pos + 5] : 0;
    bytes = m != 0 ? static_cast<Int64>(m) - 1
                   : static_cast<Int64>(Raw(data, size, pos + 6, 8, o.order));
  }
  static const Int32 sizes[8] = {0, 1, 2, 4, 8, 4, 8, 8};
  if (type < 1 || type > 7) type = 3;
  Int64 count = bytes / sizes[type];
  if (count < 0 || count > (1 << 16)) count = 1;
  // Floats may be asked for in the other width.
  if ((o.prefer & 1) != 0 && type == HYPERFILEARRAY_FLOAT32) type = HYPERFILEARRAY_FLOAT;
  Int32 stride = sizes[type] + ((o.prefer & 2) != 0 ? 4 : 0);
  std::vector<UInt8> buffer(static_cast<size_t>(count) * stride + 8);
  hf.ReadArray(buffer.data(), static_cast<HYPERFILEARRAY>(type), stride, static_cast<Int32>(count));
}

void ReadKind(HyperFile& hf, Int32 kind, const UInt8* data, size_t size, size_t pos,
              const Options& o) {
  switch (kind) {
    case HYPERFILEVALUE_CHUNKSTART:
      if (hf.CheckIt(HYPERFILEVALUE_CHUNKSTART)) hf.ReadChunkStart(nullptr, nullptr);
      return;
    case HYPERFILEVALUE_CHUNKEND:
      if (hf.CheckIt(HYPERFILEVALUE_CHUNKEND)) hf.ReadChunkEnd();
      return;
    case HYPERFILEVALUE_UCHAR:
      hf.ReadUChar(nullptr);
      return;
    case HYPERFILEVALUE_INT32:
      if ((o.prefer & 4) != 0) {
        Int32* ints = nullptr;
        Int32 n = 0;
        _HFReadArray(&hf, &ints, &n);
        Release(ints);
      } else {
        hf.ReadInt32(nullptr);
      }
      return;
    case HYPERFILEVALUE_UINT32:
      hf.ReadUInt32(nullptr);
      return;
    case HYPERFILEVALUE_INT64:
      hf.ReadInt64(nullptr);
      return;
    case HYPERFILEVALUE_FLOAT:
      if (o.version <= 11924)
        hf.ReadFloat32(nullptr);
      else
        hf.ReadFloat(nullptr);
      return;
    case HYPERFILEVALUE_FLOAT32:
      hf.ReadFloat32(nullptr);
      return;
    case HYPERFILEVALUE_FLOAT64:
      hf.ReadFloat64(nullptr);
      return;
    case HYPERFILEVALUE_BOOL:
      hf.ReadBool(nullptr);
      return;
    case HYPERFILEVALUE_TIME: {
      BaseTime t;
      hf.ReadTime(&t);
      return;
    }
    case HYPERFILEVALUE_VECTOR:
      hf.ReadVector(nullptr);
      return;
    case HYPERFILEVALUE_VECTOR32:
      hf.ReadVector32(nullptr);
      return;
    case HYPERFILEVALUE_VECTOR64:
      hf.ReadVector64(nullptr);
      return;
    case HYPERFILEVALUE_MATRIX:
      hf.ReadMatrix(nullptr);
      return;
    case HYPERFILEVALUE_STRING: {
      String s;
      hf.ReadString(&s);
      return;
    }
    case HYPERFILEVALUE_FILENAME: {
      Filename f;
      hf.ReadFilename(&f);
      return;
    }
    case HYPERFILEVALUE_MEMORY:
    case HYPERFILEVALUE_MEMORY64: {
      switch ((o.prefer >> 1) & 3) {
        case 1: {
          Int32* b = nullptr;
          Int32 n = 0;
          _HFReadMemoryL(&hf, &b, &n);
          Release(b);
          return;
        }
        case 2: {
          Int16* b = nullptr;
          Int32 n = 0;
          _HFReadMemoryW(&hf, &b, &n);
          Release(b);
          return;
        }
        case 3: {
          Vector64* b = nullptr;
          Int32 n = 0;
          _HFReadMemoryVectorArray(&hf, &b, &n);
          Release(b);
          return;
        }
        default: {
          void* b = nullptr;
          Int64 n = 0;
          hf.ReadMemory(&b, &n);
          MemFree(b);
          return;
        }
      }
    }
    case HYPERFILEVALUE_VECTORARRAY: {
      Vector64* b = nullptr;
      Int32 n = 0;
      hf.ReadVectorArrayEx(&b, &n);
      Release(b);
      return;
    }
    case HYPERFILEVALUE_POLYGONARRAY: {
      CPolygon* b = nullptr;
      Int32 n = 0;
      hf.ReadPolygonArrayEx(&b, &n);
      Release(b);
      return;
    }
    case HYPERFILEVALUE_UINT16ARRAY: {
      UInt16* b = nullptr;
      Int32 n = 0;
      hf.ReadUInt16ArrayEx(&b, &n);
      Release(b);
      return;
    }
    case HYPERFILEVALUE_FLOAT32ARRAY: {
      Float32* b = nullptr;
      Int32 n = 0;
      hf.ReadFloat32ArrayEx(&b, &n);
      Release(b);
      return;
    }
    case HYPERFILEVALUE_ARRAY:
      ReadStatedArray(hf, data, size, pos, o);
      return;
    default: {
      HYPERFILEVALUE k;
      if (hf.ReadValueHeader(&k)) hf.SkipValue(k);
      return;
    }
  }
}

void SecondPass(const Filename& name, const UInt8* data, size_t size, const Options& o,
                const std::vector<Seen>& seen) {
  HyperFile hf;
  Setup(hf, o);
  if (!hf.Open(name, FILEOPEN_READ)) return;
  hf.SetByteOrder(o.order);
  for (size_t i = 0; i < seen.size() && hf.GetError() == FILEERROR_NONE; ++i) {
    Int64 pos = hf.GetPosition();
    if (seen[i].position < pos) continue;  // consumed by a reader that took more
    if (seen[i].position != pos) break;    // the passes disagree from here on
    ReadKind(hf, seen[i].kind, data, size, static_cast<size_t>(pos), o);
  }
  hf.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  static const Int32 versions[4] = {HYPERFILE_CURRENT_VERSION, 11924, 11903, 10001};
  Options o;
  o.version = versions[bytes[0] & 3];
  o.float32 = (bytes[0] & 4) != 0;
  o.order = (bytes[0] & 8) != 0 ? BYTEORDER_INTEL : BYTEORDER_MOTOROLA;
  o.prefer = static_cast<UInt8>(bytes[0] >> 4);
  const UInt8* data = bytes + 1;
  size -= 1;
  Filename name;
  name.SetMemoryData(size > 0 ? data : nullptr, static_cast<Int64>(size), false);
  std::vector<Seen> seen = FirstPass(name, o);
  SecondPass(name, data, size, o, seen);
  return 0;
}
