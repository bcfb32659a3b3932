// BaseList4D: a named node with the tree operations typed for its own kind (objects build on
// it).
#ifndef LUM_BASELIST4D_H
#define LUM_BASELIST4D_H

#include "scene/lum_baselist2d.h"

namespace lumora {

class BaseList4D : public BaseList2D {
 public:
  explicit BaseList4D(Int32 typeId = 0) : BaseList2D(typeId) {}
  ~BaseList4D() override = default;

  bool IsInstanceOf(Int32 id) const override { return BaseList2D::IsInstanceOf(id); }
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override {
    return BaseList2D::HandleSubChunk(hf, id, level);
  }
  bool Write(HyperFile* hf) override { return BaseList2D::Write(hf); }
  GeToolNode2D* Remove() override { return BaseList2D::Remove(); }

  BaseList4D* GetNext() const { return static_cast<BaseList4D*>(GeListNode::GetNext()); }
  BaseList4D* GetPred() const { return static_cast<BaseList4D*>(GeListNode::GetPred()); }
  BaseList4D* GetUp() const { return static_cast<BaseList4D*>(GeListNode::GetUp()); }
  BaseList4D* GetDown() const { return static_cast<BaseList4D*>(GeListNode::GetDown()); }
  bool InsertBefore(BaseList4D* other) { return GeListNode::InsertBefore(other); }
  bool InsertAfter(BaseList4D* other) { return GeListNode::InsertAfter(other); }
  bool InsertUnder(BaseList4D* parent) { return GeListNode::InsertUnder(parent); }
  bool InsertUnderLast(BaseList4D* parent) { return GeListNode::InsertUnderLast(parent); }
};

}  // namespace lumora

#endif  // LUM_BASELIST4D_H
