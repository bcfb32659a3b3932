// SplineObject (see lum_splineobject.h).
#include "objects/lum_splineobject.h"

#include "stream/lum_hyperfile.h"

namespace lumora {

SplineObject::SplineObject() : PointObject(TYPE_SPLINEOBJECT) {
  BaseContainer* bc = GetDataInstance();
  bc->SetInt32(1000, 0);
  bc->SetInt32(1001, 3);
  bc->SetBool(1002, false);
  bc->SetInt32(1003, 8);
  bc->SetFloat(1004, 0.08726646259971647);  // 5 degrees
  bc->SetFloat(1005, 5.0);
}

bool SplineObject::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (PointObject::HandleSubChunk(hf, id, level)) {
    if (id == CHUNK_BASELIST2D && GetName().GetLength() == 0) SetName(String("Spline"));
    return true;
  }
  if (hf->GetError() != FILEERROR_NONE) return false;
  NodeData* data = GetNodeData();
  if ((id == CHUNK_POINTSELECTION_A || id == CHUNK_POINTSELECTION_B) && data != nullptr &&
      data->GetDiskType() == TYPE_POINTOBJECTDATA_DISK) {
    return data->Read(hf, id, level);
  }
  return false;
}

bool SplineObject::Write(HyperFile* hf) {
  NodeData* data = GetNodeData();
  if (data != nullptr && !data->Write(hf)) return false;
  if (!PointObject::Write(hf)) return false;
  return data == nullptr || data->Write(hf);
}

}  // namespace lumora
