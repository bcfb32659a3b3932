// VertexMapTag (see lum_vertexmaptag.h).
#include "objects/lum_vertexmaptag.h"

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kLastFloat32ArrayVersion = 11924;

}  // namespace

bool VertexMapTag::WriteData(HyperFile* hf) {
  if (!hf->WriteChunkStart(GetType(), 0) || !hf->WriteInt32(_count)) return false;
  if (_count > 0 && !hf->WriteArray(_data, HYPERFILEARRAY_FLOAT32, 4, _count)) return false;
  return hf->WriteChunkEnd();
}

bool VertexMapTag::ReadData(HyperFile* hf, Int32, Int32) {
  if (hf->GetFileVersion() > kLastFloat32ArrayVersion) {
    Int32 n = 0;
    if (!hf->ReadInt32(&n)) return false;
    if (n > 0) {
      if (!CheckCount(hf, n, 4)) return false;
      void* block = AllocElements(hf, n, _elementSize);
      if (block == nullptr) return false;
      if (!hf->ReadArray(block, HYPERFILEARRAY_FLOAT32, 4, n)) {
        MemFree(block);
        return false;
      }
      Adopt(block, n, _elementSize);
    }
  } else {
    if (GetType() != TAG_OLDVERTEXMAP) {
      String name;
      if (!hf->ReadString(&name)) return false;
      if (hf->Before8()) SetName(name);
    }
    Float32* weights = nullptr;
    Int32 n = 0;
    if (!hf->ReadFloat32ArrayEx(&weights, &n)) return false;
    Adopt(weights, n, _elementSize);
  }
  return hf->SkipToEndChunk();
}

bool VertexMapTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return CopyElementsTo(static_cast<VertexMapTag*>(dest));
}

}  // namespace lumora
