// DescID: the address of one parameter of a node, as a path of levels.
//
// The first level is the parameter's id in the node's container; further levels reach into
// sub-containers or pick a vector component (BaseContainer::GetParameter walks them). A level
// whose id is 0 ends the path: GetDepth counts the levels before it, equality and the file form
// ignore what follows it.
//
// File form: a chunk with id 1 and level 2 holding Int32 depth and, per level, Int32 id, Int32
// dataType, Int32 creatorId. Level-1 chunks carry no creator ids; the reader takes the fields it
// knows by chunk level and skips the rest of the chunk.
#ifndef LUM_DESCID_H
#define LUM_DESCID_H

#include "lum_types.h"
#include "values/lum_desclevel.h"

namespace lumora {

class HyperFile;

class DescID {
 public:
  // No levels.
  DescID() = default;
  // One level with that id, type 0 and creator 0.
  DescID(Int32 id);
  DescID(const DescLevel& level);
  DescID(const DescLevel& first, const DescLevel& second);
  // Deep copies. When the levels cannot be allocated the copy has none.
  DescID(const DescID& src);
  DescID& operator=(const DescID& src);
  // Takes the levels of src, which is left empty.
  DescID(DescID&& src) noexcept;
  DescID& operator=(DescID&& src) noexcept;
  ~DescID();

  // Appends one level (the array grows by exactly one). False, and nothing changed, when out
  // of memory.
  bool PushId(const DescLevel& level);
  // Removes every level.
  void Clear();

  // The level at i, or a shared zero level when i is outside the array. i = -1 is the last
  // level whose id is not 0 (trailing zero ids are passed over; the first level counts even
  // when its id is 0).
  const DescLevel& operator[](Int32 i) const;
  // The number of levels held, zero-id levels included.
  Int32 GetCount() const { return _count; }
  // The number of leading levels whose id is not 0.
  Int32 GetDepth() const;

  // Level by level with DescLevel equality up to and including the first position where
  // other's level has id 0 or is missing; missing levels count as the zero level. So (5)
  // equals (5, 0, 7), (5, 10) does not equal (5), and (5) does not equal (5, 10).
  bool operator==(const DescID& other) const;
  bool operator!=(const DescID& other) const { return !(*this == other); }

  // Empties this id, then reads the chunk form. Fails on a missing chunk start or a chunk id
  // other than 1 (the file's error tells why). Levels from the first zero id on are read but not
  // kept, and a level that cannot be allocated is skipped. The result is that of skipping to
  // the chunk's end.
  bool Read(HyperFile* hf);
  // Writes GetDepth() levels in the current chunk form.
  bool Write(HyperFile* hf) const;

 private:
  Int32 _count = 0;
  DescLevel* _levels = nullptr;
};

// The two-level id of one component of a vector parameter: (parameter, DTYPE_VECTOR),
// (component, DTYPE_FLOAT), e.g. VectorComponentID(ID_BASEOBJECT_REL_POSITION, VECTOR_X),
// the id an animation track of the x position carries.
inline DescID VectorComponentID(Int32 parameter, Int32 component) {
  return DescID(DescLevel(parameter, DTYPE_VECTOR, 0), DescLevel(component, DTYPE_FLOAT, 0));
}

}  // namespace lumora

#endif  // LUM_DESCID_H
