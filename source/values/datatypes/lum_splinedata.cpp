// Spline curves (see lum_splinedata.h).
#include "values/datatypes/lum_splinedata.h"

#include <cmath>
#include <utility>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Float64 kPi = 3.14159265358979323846;

// The fewest bytes one knot of the first knot block takes in a stream: a Bool and a Vector of
// 32-bit floats, each with its kind byte.
constexpr Int64 kMinKnotBytes = 2 + 13;

// Flags and id word of knot i when ids are assigned: id i + 1 in the high 16 bits.
Int32 IdWord(Int32 i, Int32 flags) {
  return static_cast<Int32>((static_cast<UInt32>(i + 1) << 16) |
                            (static_cast<UInt32>(flags) & 0xFFFFu));
}

iSpline* Object(CustomDataType* data) { return static_cast<iSpline*>(SplineData::From(data)); }
const iSpline* Object(const CustomDataType* data) {
  return static_cast<const iSpline*>(SplineData::From(data));
}

bool ReadKnotDetails(HyperFile* hf, CustomSplineKnot* k) {
  return hf->ReadBool(&k->bKnotSwitch) && hf->ReadVector(&k->vTangentLeft) &&
         hf->ReadVector(&k->vTangentRight) && hf->ReadInt32(&k->lFlagID) &&
         hf->ReadInt32(&k->lKnotValue);
}

// Range, extra values and switches of levels 6 and later.
bool ReadRange(HyperFile* hf, Int32 level, iSpline* s) {
  if (level <= 8) {
    bool mode = false;
    if (!hf->ReadBool(&mode)) return false;
    s->rangeMode = mode ? 1 : 0;
  } else if (!hf->ReadInt32(&s->rangeMode)) {
    return false;
  }
  if (!hf->ReadFloat(&s->xMin) || !hf->ReadFloat(&s->xMax) || !hf->ReadFloat(&s->yMin) ||
      !hf->ReadFloat(&s->yMax) || !hf->ReadFloat(&s->valueB) || !hf->ReadFloat(&s->valueD) ||
      !hf->ReadFloat(&s->valueC) || !hf->ReadFloat(&s->valueE)) {
    return false;
  }
  if (level > 6 && !(hf->ReadBool(&s->s1) && hf->ReadBool(&s->s2) && hf->ReadBool(&s->s3))) {
    return false;
  }
  return level <= 7 || hf->ReadBool(&s->legacySwitch);
}

}  // namespace

// ---- SplineData ----

bool SplineData::MakeAbsCosSpline(Int32 count) {
  return static_cast<iSpline*>(this)->MakeAbsCosSpline(count);
}

void SplineData::Flip() { static_cast<iSpline*>(this)->Flip(); }

void SplineData::SetRange(Float64 xMin, Float64 xMax, Float64 xStep, Float64 yMin, Float64 yMax,
                          Float64 yStep) {
  static_cast<iSpline*>(this)->SetRange(xMin, xMax, xStep, yMin, yMax, yStep);
}

Int32 SplineData::GetKnotCount() const {
  return static_cast<const iSpline*>(this)->knots.GetCount();
}

CustomSplineKnot* SplineData::GetKnot(Int32 index) {
  iSpline* s = static_cast<iSpline*>(this);
  return index >= 0 && index < s->knots.GetCount() ? &s->knots[index] : nullptr;
}

const CustomSplineKnot* SplineData::GetKnot(Int32 index) const {
  const iSpline* s = static_cast<const iSpline*>(this);
  return index >= 0 && index < s->knots.GetCount() ? &s->knots[index] : nullptr;
}

// ---- iSpline ----

bool iSpline::Assign(const iSpline& src) {
  if (&src == this) return true;
  if (!knots.CopyFrom(src.knots)) return false;
  valueA = src.valueA;
  xMin = src.xMin;
  yMin = src.yMin;
  xMax = src.xMax;
  yMax = src.yMax;
  xStep = src.xStep;
  yStep = src.yStep;
  valueB = src.valueB;
  valueC = src.valueC;
  valueD = src.valueD;
  valueE = src.valueE;
  s1 = src.s1;
  s2 = src.s2;
  s3 = src.s3;
  rangeMode = src.rangeMode;
  formula = src.formula;
  legacySwitch = src.legacySwitch;
  s4 = src.s4;
  return formula.GetLength() == src.formula.GetLength();  // the text could not be copied
}

bool iSpline::IsEqual(const iSpline& o) const {
  if (knots.GetCount() != o.knots.GetCount() || valueA != o.valueA) return false;
  for (Int32 i = 0; i < knots.GetCount(); ++i) {
    const CustomSplineKnot& a = knots[i];
    const CustomSplineKnot& b = o.knots[i];
    if (a.vPos != b.vPos || a.vTangentLeft != b.vTangentLeft ||
        a.vTangentRight != b.vTangentRight || a.bKnotSwitch != b.bKnotSwitch ||
        a.lFlagID != b.lFlagID || a.lKnotValue != b.lKnotValue) {
      return false;
    }
  }
  return xMin == o.xMin && yMin == o.yMin && xMax == o.xMax && yMax == o.yMax && xStep == o.xStep &&
         yStep == o.yStep && rangeMode == o.rangeMode && formula.Compare(o.formula) == 0 &&
         legacySwitch == o.legacySwitch && valueB == o.valueB && valueC == o.valueC &&
         valueD == o.valueD && valueE == o.valueE && s1 == o.s1 && s2 == o.s2 && s3 == o.s3 &&
         s4 == o.s4;
}

bool iSpline::Write(HyperFile* hf) const {
  const Int32 n = knots.GetCount();
  if (!hf->WriteInt32(n) || !hf->WriteFloat(valueA)) return false;
  for (const CustomSplineKnot& k : knots) {
    if (!hf->WriteBool(true) || !hf->WriteVector(k.vPos)) return false;
  }
  for (Int32 i = 0; i < n; ++i) {
    if (!hf->WriteInt32(0)) return false;
  }
  if (!hf->WriteString(formula)) return false;
  for (const CustomSplineKnot& k : knots) {
    if (!hf->WriteBool(k.bKnotSwitch) || !hf->WriteVector(k.vTangentLeft) ||
        !hf->WriteVector(k.vTangentRight) || !hf->WriteInt32(k.lFlagID) ||
        !hf->WriteInt32(k.lKnotValue)) {
      return false;
    }
  }
  return hf->WriteInt32(0) && hf->WriteInt32(rangeMode) && hf->WriteFloat(xMin) &&
         hf->WriteFloat(xMax) && hf->WriteFloat(yMin) && hf->WriteFloat(yMax) &&
         hf->WriteFloat(valueB) && hf->WriteFloat(valueD) && hf->WriteFloat(valueC) &&
         hf->WriteFloat(valueE) && hf->WriteBool(s1) && hf->WriteBool(s2) && hf->WriteBool(s3) &&
         hf->WriteBool(legacySwitch);
}

bool iSpline::Read(HyperFile* hf, Int32 level) {
  Int32 n = 0;
  if (!hf->ReadInt32(&n) || !hf->ReadFloat(&valueA)) return false;
  if (level > 0 && n > 0) {
    if (!hf->CheckRemaining(Int64(n) * kMinKnotBytes)) return false;
    knots.Flush();
    if (!knots.Resize(n)) {
      hf->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
    for (CustomSplineKnot& k : knots) {
      if (!hf->ReadBool(nullptr) || !hf->ReadVector(&k.vPos)) return false;
    }
  }
  if (level > 1) {
    for (Int32 i = 0; i < n; ++i) {
      if (!hf->ReadInt32(nullptr)) return false;
    }
  }
  bool more = true;
  if (level <= 2) {
    // Files of these levels carry no knot ids.
    for (Int32 i = 0; i < knots.GetCount(); ++i) knots[i].lFlagID = IdWord(i, knots[i].lFlagID);
  }
  if (level < 4) {
    formula = String();
    more = false;
  } else if (!hf->ReadString(&formula)) {
    return false;
  }
  if (more && level >= 5) {
    for (CustomSplineKnot& k : knots) {
      if (!ReadKnotDetails(hf, &k)) return false;
    }
    if (!hf->ReadInt32(nullptr)) return false;
    if (level > 5 && !ReadRange(hf, level, this)) return false;
  }
  const Int32 version = hf->GetFileVersion();
  if (valueA < 1.0 || (version > 0 && version < 12606)) legacySwitch = true;
  return true;
}

bool iSpline::MakeAbsCosSpline(Int32 count) {
  if (count > 0) {
    BaseArray<CustomSplineKnot> fresh;
    if (!fresh.Resize(count == 1 ? 2 : count)) return false;
    for (Int32 i = 0; i < fresh.GetCount(); ++i) fresh[i].lFlagID = IdWord(i, 0);
    knots = std::move(fresh);
  }
  const Int32 n = knots.GetCount();
  if (n == 1) {
    knots[0].vPos = Vector64(0.0, 1.0, 0.0);
    return true;
  }
  const Float64 dx = xMax - xMin;
  const Float64 dy = yMax - yMin;
  for (Int32 i = 0; i < n; ++i) {
    CustomSplineKnot& k = knots[i];
    const Float64 t = Float64(i) / Float64(n - 1);
    const Float64 a = kPi * t;
    const Float64 y = std::fabs(std::cos(a));
    k.lKnotValue = 0;
    k.vPos.z = 0.0;
    if (n % 2 == 1 && i == n / 2) {
      k.vTangentLeft.x = -0.05 * dx;
      k.vTangentLeft.y = 0.05 * kPi * std::sin(a) * dy;
      k.vTangentRight.x = 0.05 * dx;
      k.vTangentRight.y = 0.05 * kPi * std::sin(a) * dy;
    } else {
      const Float64 g = t < 0.5 ? -kPi * std::sin(a) : kPi * std::sin(a);
      const Float64 h = 5.0 / Float64(n);
      k.vTangentLeft = Vector64(-0.05 * h * dx, -0.05 * h * g * dy, 0.0);
      k.vTangentRight = Vector64(-k.vTangentLeft.x, -k.vTangentLeft.y, -k.vTangentLeft.z);
    }
    k.vPos.x = xMin + t * dx;
    k.vPos.y = yMin + y * dy;
  }
  return true;
}

void iSpline::Flip() {
  const Int32 n = knots.GetCount();
  if (n < 1) return;
  Float64 lo = knots[0].vPos.y, hi = knots[0].vPos.y;
  for (const CustomSplineKnot& k : knots) {
    if (k.vPos.y < lo) lo = k.vPos.y;
    if (k.vPos.y > hi) hi = k.vPos.y;
  }
  const Float64 s = lo + hi;  // 2 y0 for a single knot
  for (CustomSplineKnot& k : knots) {
    k.vPos.y = s - k.vPos.y;
    k.vTangentLeft.y = -k.vTangentLeft.y;
    k.vTangentRight.y = -k.vTangentRight.y;
  }
}

void iSpline::SetRange(Float64 x0, Float64 x1, Float64 xs, Float64 y0, Float64 y1, Float64 ys) {
  xMin = x0;
  xMax = x1;
  xStep = xs;
  yMin = y0;
  yMax = y1;
  yStep = ys;
  rangeMode = 1;
}

// ---- SplineDataTypeClass ----

CustomDataType* SplineDataTypeClass::AllocData() {
  iSpline* s = NewObj<iSpline>();
  if (s != nullptr && s->formula.GetLength() == 0) DeleteObj(s);  // the formula's text failed
  return reinterpret_cast<CustomDataType*>(static_cast<SplineData*>(s));
}

void SplineDataTypeClass::FreeData(CustomDataType* data) {
  iSpline* s = Object(data);
  DeleteObj(s);
}

bool SplineDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans*) {
  if (src == nullptr || dest == nullptr) return false;
  return Object(dest)->Assign(*Object(src));
}

Int32 SplineDataTypeClass::Compare(const CustomDataType* a, const CustomDataType* b) {
  if (a == nullptr || b == nullptr) return 1;
  return Object(a)->IsEqual(*Object(b)) ? 0 : 1;
}

bool SplineDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  return data != nullptr && Object(data)->Write(hf);
}

bool SplineDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32 level) {
  return data != nullptr && Object(data)->Read(hf, level);
}

}  // namespace lumora
