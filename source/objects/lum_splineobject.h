// SplineObject: a point object whose segments and tangents live in tags, with its settings in
// the container (entries 1000 to 1005). Stored under its own type 5101: its point data has no
// plug-in data chunk and writes its selection chunks directly among the object's chunks.
#ifndef LUM_SPLINEOBJECT_H
#define LUM_SPLINEOBJECT_H

#include "objects/lum_pointobject.h"

namespace lumora {

class SplineObject : public PointObject {
 public:
  // Type 5101 with the default settings in the container.
  SplineObject();
  ~SplineObject() override = default;

  // The point selections among the object's chunks reach the node data; a spline without a
  // name after its node chunk is named "Spline".
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // The node data's chunks, the object, and the node data's chunks once more.
  bool Write(HyperFile* hf) override;
  Int32 GetDiskType() const override { return TYPE_SPLINEOBJECT; }
};

}  // namespace lumora

#endif  // LUM_SPLINEOBJECT_H
