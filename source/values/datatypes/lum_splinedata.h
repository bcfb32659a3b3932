// Spline curves: the custom data type CUSTOMDATATYPE_SPLINE.
//
// A user-editable function curve held in a parameter: knots with tangents inside a rectangular
// value range, a formula text and a few display settings. The value stores, copies, compares
// and writes the curve and offers three edits (the |cos| preset, a vertical flip, setting the
// range); nothing here evaluates it. doc/value-format.md describes the bytes of every level.
//
// A GeData of kind CUSTOMDATATYPE_SPLINE owns an iSpline; SplineData::From turns the opaque
// CustomDataType* of GeData::GetCustomDataType into the public face.
#ifndef LUM_SPLINEDATA_H
#define LUM_SPLINEDATA_H

#include "foundation/lum_string.h"
#include "lum_array.h"
#include "lum_math.h"
#include "lum_types.h"
#include "values/lum_gedata.h"

namespace lumora {

struct CustomSplineKnot {
  Vector64 vPos;  // x, y in range coordinates (z 0)
  // Low 16 bits: flags; high 16 bits: the knot's id (knot i gets i + 1 when ids are assigned).
  Int32 lFlagID = 0;
  bool bKnotSwitch = false;
  Vector64 vTangentLeft;   // offset from the position
  Vector64 vTangentRight;  // offset from the position
  Int32 lKnotValue = 0;
};

class iSpline;

// The public face of a spline value; every operation forwards to the iSpline behind it.
class SplineData {
 public:
  // The curve a CUSTOMDATATYPE_SPLINE value holds (GeData::GetCustomDataType), or null.
  static SplineData* From(CustomDataType* data) { return reinterpret_cast<SplineData*>(data); }
  static const SplineData* From(const CustomDataType* data) {
    return reinterpret_cast<const SplineData*>(data);
  }

  // The |cos| curve over the range. count > 0 replaces the knots by count new ones (2 for a
  // count of 1) with ids 1, 2, ...; count <= 0 reshapes the knots there are. False only when
  // the new knots cannot be allocated (the curve is then unchanged).
  bool MakeAbsCosSpline(Int32 count);
  // Mirrors the knots vertically about the middle of their lowest and highest y (about the
  // knot itself for a single knot); the tangents' y change sign.
  void Flip();
  // Stores the range and its grid steps and sets the range mode to 1.
  void SetRange(Float64 xMin, Float64 xMax, Float64 xStep, Float64 yMin, Float64 yMax,
                Float64 yStep);

  // The following accessors are this library's additions.
  Int32 GetKnotCount() const;
  // Null for an index outside 0 .. count - 1.
  CustomSplineKnot* GetKnot(Int32 index);
  const CustomSplineKnot* GetKnot(Int32 index) const;

 protected:
  SplineData() = default;
  ~SplineData() = default;
  SplineData(const SplineData&) = default;
  SplineData& operator=(const SplineData&) = default;
};

class iSpline : public SplineData {
 public:
  iSpline() = default;
  iSpline(const iSpline&) = delete;
  // Use Assign, which reports a failed allocation.
  iSpline& operator=(const iSpline&) = delete;

  // The knots are replaced by a copy of src's, then every member is copied. False when memory
  // runs out (this curve may then be partly copied).
  bool Assign(const iSpline& src);
  // Every member but the knot array's capacity, floats by IEEE equality (NaN never equal).
  bool IsEqual(const iSpline& other) const;

  bool Write(HyperFile* hf) const;
  // Reads the layout of the given chunk level (0 .. 9 and later). A knot count the rest of the
  // stream cannot hold fails with FILEERROR_READ before anything is allocated.
  bool Read(HyperFile* hf, Int32 level);

  bool MakeAbsCosSpline(Int32 count);
  void Flip();
  void SetRange(Float64 xMin, Float64 xMax, Float64 xStep, Float64 yMin, Float64 yMax,
                Float64 yStep);

  BaseArray<CustomSplineKnot> knots;
  Float64 valueA = 1.0;
  Float64 xMin = 0.0, yMin = 0.0;
  Float64 xMax = 1.0, yMax = 1.0;
  Float64 xStep = 0.1, yStep = 0.1;  // never written
  Float64 valueB = 0.0, valueC = 0.0;
  Float64 valueD = 1.0, valueE = 1.0;
  bool s1 = false, s2 = false, s3 = false;
  Int32 rangeMode = 0;
  String formula{"sin(x * pi)"};
  // Set on reading a curve whose value A is below 1 or that comes from a file older than
  // version 12606.
  bool legacySwitch = false;
  bool s4 = false;  // never written
};

// The six operations of the spline data type.
class SplineDataTypeClass {
 public:
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  // False when either is null or memory runs out.
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // 0 when both exist and are equal (iSpline::IsEqual), 1 otherwise.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
};

}  // namespace lumora

#endif  // LUM_SPLINEDATA_H
