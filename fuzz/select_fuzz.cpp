// Reads any byte string as a stored selection, then edits, copies and writes what was read.
//
// The first byte chooses the reader: bits 0-1 the chunk form of BaseSelect, its chunkless API
// form, the block selection (WriteSelectBlock's form) or a SelectBitArray; bit 7 an older file
// version (memory blocks instead of typed arrays). Runs read from a file are kept as stored,
// out of order or overlapping ones included, so the edits below run on whatever came in.
#include <cstddef>
#include <cstdint>

#include "lumora.h"

using namespace lumora;

namespace {

// Indices near the first stored runs, and a few far away; taken before any edit, since the
// edits move the runs.
struct Probes {
  Int32 v[16 * 6 + 5];
  Int32 n = 0;
  explicit Probes(const BaseSelect& sel) {
    Int32 runs = sel.GetSegments() < 16 ? sel.GetSegments() : 16;
    for (Int32 i = 0; i < runs; ++i) {
      const BaseSelectData& r = sel.GetData()[i];
      for (Int64 x : {Int64(r.first) - 1, Int64(r.first), Int64(r.first) + 1, Int64(r.last) - 1,
                      Int64(r.last), Int64(r.last) + 1})
        if (x >= -0x7FFFFFFFll - 1 && x <= 0x7FFFFFFF) v[n++] = Int32(x);
    }
    for (Int32 x : {0, -1, 0x7FFFFFFF, -0x7FFFFFFF - 1, 12345}) v[n++] = x;
  }
  template <typename Visit>
  void Each(Visit visit) const {
    for (Int32 i = 0; i < n; ++i) visit(v[i]);
  }
};

void WriteBack(const BaseSelect& sel, const SelectBlockArray* blocks) {
  Filename name;
  name.SetMemoryTarget();
  HyperFile out;
  if (!out.Open(name, FILEOPEN_WRITE)) return;
  sel.Write(&out);
  sel.Write_API(&out);
  if (blocks != nullptr) WriteSelectBlock(&out, blocks);
  out.Close();
}

void Exercise(BaseSelect& sel) {
  (void)sel.GetCount();
  BaseSelect copy;
  sel.CopyTo(&copy);
  SelectBlockArray blocks;
  blocks.CopyFrom(&sel);
  const Probes probes(sel);
  probes.Each([&](Int32 v) {
    Int32 run;
    sel.FindNum(v, &run);
    (void)blocks.IsSelected(v);
  });
  probes.Each([&](Int32 v) {
    copy.Select(v);
    blocks.Select(v);
  });
  probes.Each([&](Int32 v) {
    copy.Deselect(v);
    blocks.Deselect(v);
  });
  Int32 cursor = 0, first, last, seen = 0;
  while (blocks.GetBlockRange(&cursor, &first, &last) && seen++ < 100000) {
  }
  blocks.GetRange(blocks.GetSegments() / 2, &first, &last);
  blocks.CopyTo(&copy);
  WriteBack(copy, &blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const UInt8 mode = data[0];
  Filename name;
  if (!name.SetMemoryData(data + 1, Int64(size - 1), false)) return 0;
  HyperFile hf;
  hf.SetFileVersion((mode & 0x80) != 0 ? 11000 : HYPERFILE_CURRENT_VERSION);
  if (!hf.Open(name, FILEOPEN_READ)) return 0;
  switch (mode & 3) {
    case 0: {
      HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
      Int32 id = 0, level = 0;
      BaseSelect sel;
      if (hf.ReadValueHeader(&kind) && kind == HYPERFILEVALUE_CHUNKSTART &&
          hf.ReadChunkStart(&id, &level) && sel.Read(&hf, id, level))
        Exercise(sel);
      break;
    }
    case 1: {
      BaseSelect sel;
      if (sel.Read_API(&hf)) Exercise(sel);
      break;
    }
    case 2: {
      SelectBlockArray blocks;
      if (ReadSelectBlock(&hf, &blocks)) {
        BaseSelect flat;
        if (blocks.CopyTo(&flat)) Exercise(flat);
      }
      break;
    }
    default: {
      SelectBitArray bits, copy;
      if (bits.Read(&hf)) {
        bits.CopyTo(&copy);
        Filename target;
        target.SetMemoryTarget();
        HyperFile out;
        if (out.Open(target, FILEOPEN_WRITE)) copy.Write(&out);
      }
      break;
    }
  }
  return 0;
}
