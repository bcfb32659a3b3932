// Gradients: the custom data type CUSTOMDATATYPE_GRADIENT.
//
// A gradient is a list of knots (a colour with a brightness at a position, a bias, an id and an
// interpolation code), kept in insertion order, and an optional child gradient that carries a
// grey (value-only) channel. It is stored and exchanged in its container form: the knots become
// a container of knot containers, and that container is what the file holds (doc/value-format.md
// describes the bytes). Nothing here evaluates a gradient.
//
// A GeData of kind CUSTOMDATATYPE_GRADIENT owns an iGradient; GetCustomDataType hands it out as
// the opaque CustomDataType*, which Gradient::From turns into the public face.
#ifndef LUM_GRADIENT_H
#define LUM_GRADIENT_H

#include "lum_array.h"
#include "lum_math.h"
#include "lum_types.h"
#include "values/lum_basecontainer.h"
#include "values/lum_gedata.h"

namespace lumora {

// Ids of the container form.
enum : Int32 {
  GRADIENT_INTERPOLATION = 1000,  // Int32, the dominant interpolation of the knots
  GRADIENT_KNOT = 1001,           // container of knot containers, each under id 0
  GRADIENT_MODE = 1002,           // SetData only: 0 colour, 1 value only, 2 colour and grey child
  GRADIENT_UNCLAMPED = 1003,      // SetData only: accepted and ignored

  GRADIENTKNOT_COLOR = 1000,          // Vector
  GRADIENTKNOT_BRIGHTNESS = 1001,     // Float
  GRADIENTKNOT_POSITION = 1002,       // Float
  GRADIENTKNOT_BIAS = 1003,           // Float
  GRADIENTKNOT_ID = 1004,             // Int32
  GRADIENTKNOT_INTERPOLATION = 1005,  // Int32
};

struct GradientKnot {
  Vector64 col{1.0, 1.0, 1.0};
  Float64 brightness = 1.0;
  Float64 pos = 0.0;
  Float64 bias = 0.5;
  Int32 index = 0;  // unique within the gradient, >= 1 once assigned
  Int32 interpolation = 2;
};

class iGradient;

// The public face of a gradient value; every operation forwards to the iGradient behind it.
class Gradient {
 public:
  // The gradient a CUSTOMDATATYPE_GRADIENT value holds (GeData::GetCustomDataType), or null.
  static Gradient* From(CustomDataType* data) { return reinterpret_cast<Gradient*>(data); }
  static const Gradient* From(const CustomDataType* data) {
    return reinterpret_cast<const Gradient*>(data);
  }

  // Appends a knot. In value-only mode its colour becomes white and its brightness is scaled
  // by the value of the given colour. Its index becomes 1 + the largest index of all knots,
  // its own incoming index included. The new knot's array index, or -1 when out of memory.
  Int32 InsertKnot(const GradientKnot& knot);
  // Knot count 0; the storage is kept.
  void FlushKnots();
  // iGradient::iSetData.
  bool SetData(Int32 id, const GeData& data);

  // The following accessors are this library's additions.
  Int32 GetKnotCount() const;
  // Null for an index outside 0 .. count - 1.
  const GradientKnot* GetKnot(Int32 index) const;
  // The grey child gradient, or null.
  Gradient* GetChild();
  const Gradient* GetChild() const;
  bool IsValueOnly() const;

 protected:
  Gradient() = default;
  ~Gradient() = default;
  Gradient(const Gradient&) = default;
  Gradient& operator=(const Gradient&) = default;
};

class iGradient : public Gradient {
 public:
  iGradient() = default;
  // Frees the child.
  ~iGradient();
  iGradient(const iGradient&) = delete;
  iGradient& operator=(const iGradient&) = delete;

  // Copies both knot arrays, valueOnly, scale and the two flags, and replaces the child by a
  // deep copy of src's (or none). False when memory runs out; this gradient may then hold part
  // of src.
  bool CopyFrom(const iGradient& src);

  // The container form of gradient into *result (emptied first): id 1001 the knots, id 1000 the
  // dominant interpolation. In value-only mode every colour is written white. False when
  // memory runs out (the result is then incomplete).
  static bool GradientToContainer(const iGradient& gradient, BaseContainer* result);
  // Appends the knots of bc's sub-container 1001 to gradient (old interpolation codes mapped:
  // 1 -> 3, 4 -> 3 with bias 0.5). flag tells whether a knot used interpolation 6 or 7. True
  // also when there is no sub-container 1001; false when a knot cannot be appended.
  static bool ContainerToGradient(const BaseContainer& bc, iGradient* gradient, bool& flag);
  // Repairs bc before it is turned into a gradient: knots with index 0 get one above every
  // other index. With isChild and oldFile, each knot's brightness is scaled by its red
  // component and its colour becomes white. False when memory runs out.
  static bool CheckContainer(BaseContainer* bc, bool isChild, bool oldFile);

  Int32 InsertKnot(const GradientKnot& knot);
  void FlushKnots() { knots.Resize(0); }
  // 1001: the knots are replaced by those of a container value. 1002: the mode (0 colour,
  // 1 value only, 2 colour with a value-only child; other modes change nothing). 1003: nothing.
  // False for another id, a value of the wrong kind, or when memory runs out.
  bool iSetData(Int32 id, const GeData& data);

  // The file form (the gradient's container, whether a child follows, the child's container,
  // valueOnly) and its reader. level 0 and below read nothing; valueOnly is read only from
  // level 2 on.
  bool Write(HyperFile* hf) const;
  bool Read(HyperFile* hf, Int32 level);

  iGradient* child = nullptr;
  BaseArray<GradientKnot> knots;
  // Copied and freed with the gradient; never written or read.
  BaseArray<GradientKnot> spareKnots;
  bool valueOnly = false;
  Float64 scale = 1.0;  // copied, never written
  // Set when the gradient was read from a file of version 11004 or older.
  bool legacyFlag = false;
  // Set when a knot with interpolation 6 or 7 was taken from a container.
  bool newInterpolationFlag = false;
};

// The six operations of the gradient data type.
class GradientDataTypeClass {
 public:
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  // False when either is null or memory runs out.
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // Always 1: two gradient values never compare equal.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  // A failure that is not the stream's own records FILEERROR_OUTOFMEMORY on it.
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
  // The level the value's chunk is written under: 1, or 2 when the gradient is value-only
  // (level 1 has no room for that flag, and a reader would drop it).
  static Int32 GetWriteLevel(const CustomDataType* data);
};

}  // namespace lumora

#endif  // LUM_GRADIENT_H
