// PointObject and PointObjectData (see lum_pointobject.h).
#include "objects/lum_pointobject.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

bool PointObject::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_ANYOBJECT || id == TYPE_POINTOBJECT || id == GetType() ||
         id == GetInstanceType();
}

BaseObject* PointObjectData::GetObject() const {
  BaseList2D* node = GetNode();
  return node != nullptr && node->IsNodeClass(NODECLASS_OBJECT) ? static_cast<BaseObject*>(node)
                                                                : nullptr;
}

bool PointObjectData::WriteSelection(HyperFile* hf, Int32 id, const BaseSelect& sel) {
  if (sel.GetSegments() <= 0) return true;
  return hf->WriteChunkStart(id, 0) && sel.Write(hf) && hf->WriteChunkEnd();
}

// NodeData's own Write, Read and CopyToX do nothing (true, false, true): the data's begin with
// their own work.
bool PointObjectData::Write(HyperFile* hf) {
  return WriteSelection(hf, CHUNK_POINTSELECTION_A, _select[0]) &&
         WriteSelection(hf, CHUNK_POINTSELECTION_B, _select[1]);
}

bool PointObjectData::ReadSelection(HyperFile* hf, BaseSelect& sel) {
  HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
  if (!hf->ReadValueHeader(&kind)) return false;
  // An empty chunk: its end is read here and the selection stays as it is.
  if (kind == HYPERFILEVALUE_CHUNKEND) return hf->ReadChunkEnd();
  if (kind != HYPERFILEVALUE_CHUNKSTART) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  Int32 id = 0, level = 0;
  if (!hf->ReadChunkStart(&id, &level) || !sel.Read(hf, id, level)) return false;
  return hf->SkipToEndChunk();
}

bool PointObjectData::Read(HyperFile* hf, Int32 id, Int32) {
  switch (id) {
    case CHUNK_POINTSELECTION_A:
      return ReadSelection(hf, _select[0]);
    case CHUNK_POINTSELECTION_B:
      return ReadSelection(hf, _select[1]);
    default:
      return false;
  }
}

bool PointObjectData::CopyToX(PrivateChunk* dest, COPYFLAGS, AliasTrans*) {
  NodeData* d = static_cast<NodeData*>(dest);
  if (d == this || d->GetDiskType() != GetDiskType()) return true;
  PointObjectData* p = static_cast<PointObjectData*>(d);
  return _select[0].CopyTo(&p->_select[0]) && _select[1].CopyTo(&p->_select[1]);
}

}  // namespace lumora
