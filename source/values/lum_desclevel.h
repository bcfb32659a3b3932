// DescLevel: one step of a parameter path (DescID).
//
// id is the parameter or component id (0 ends a path); dataType the data type of the level
// (0: not given; parameter paths act on 1 transparent, 5 sub-container and 23 vector);
// creatorId the plug-in or node type that defined the level (0: not given).
#ifndef LUM_DESCLEVEL_H
#define LUM_DESCLEVEL_H

#include "lum_types.h"

namespace lumora {

// Level data types: the ones path access acts on (1, 5, 23), and the value kinds a level
// names (the GeData kinds, values/lum_gedata.h).
enum : Int32 {
  DTYPE_NONE = 0,
  DTYPE_SUBCONTAINER_TRANSPARENT = 1,  // the walk stays in the same container
  DTYPE_SUBCONTAINER = 5,
  DTYPE_INT32 = 15,
  DTYPE_FLOAT = 19,
  DTYPE_TIME = 22,
  DTYPE_VECTOR = 23,
  DTYPE_MATRIX = 25,
  DTYPE_STRING = 130,
  DTYPE_FILENAME = 131,
  DTYPE_CONTAINER = 132,
  DTYPE_LINK = 133,
};

// Component ids of a vector level.
enum : Int32 {
  VECTOR_X = 1000,
  VECTOR_Y = 1001,
  VECTOR_Z = 1002,
};

struct DescLevel {
  Int32 id = 0;
  Int32 dataType = 0;
  Int32 creatorId = 0;

  DescLevel() = default;
  DescLevel(Int32 levelId) : id(levelId) {}
  DescLevel(Int32 levelId, Int32 type, Int32 creator)
      : id(levelId), dataType(type), creatorId(creator) {}

  // Equal ids, and for dataType and creatorId either side 0 or both equal: 0 is a wildcard.
  // Symmetric, but not transitive ((5,0,0) equals both (5,23,0) and (5,5,0)).
  bool operator==(const DescLevel& o) const {
    return id == o.id && (dataType == 0 || o.dataType == 0 || dataType == o.dataType) &&
           (creatorId == 0 || o.creatorId == 0 || creatorId == o.creatorId);
  }
  bool operator!=(const DescLevel& o) const { return !(*this == o); }
};

}  // namespace lumora

#endif  // LUM_DESCLEVEL_H
