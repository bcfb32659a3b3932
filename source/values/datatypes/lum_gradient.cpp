// Gradients (see lum_gradient.h).
#include "values/datatypes/lum_gradient.h"

#include <utility>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

const Vector64 kWhite(1.0, 1.0, 1.0);

// The brightness a colour stands for in value-only mode: its smallest component when the
// colour is (nearly) grey, its largest otherwise, 0 for a colour without a positive component.
Float64 ColorValue(const Vector64& c) {
  Float64 hi = c.x, lo = c.x;
  if (c.y > hi) hi = c.y;
  if (c.z > hi) hi = c.z;
  if (c.y < lo) lo = c.y;
  if (c.z < lo) lo = c.z;
  if (!(hi > 0.0)) return 0.0;
  if (1.0 - lo / hi < 0.001) return lo;
  return hi;
}

// What value-only mode does to a knot that is added.
void MakeValueOnly(GradientKnot* k) {
  k->brightness *= ColorValue(k->col);
  k->col = kWhite;
}

// One above top, at least 1. An index at the top of the Int32 range stays there rather than
// overflowing.
Int32 NextIndex(Int32 top) {
  if (top < 1) return 1;
  return top == 0x7FFFFFFF ? top : top + 1;
}

// The interpolation the knots use most; among equally used ones the one that appears at the
// lowest position; 2 when no knot uses one of 0..7.
Int32 DominantInterpolation(const Int32 count[8], const Float64 lowest[8]) {
  Int32 best = 2, bestCount = 0;
  Float64 bestPos = 2.0;
  if (count[0] > 0) {
    best = 0;
    bestCount = count[0];
    bestPos = lowest[0];
  }
  for (Int32 s = 1; s < 8; ++s) {
    if (count[s] > bestCount || (count[s] > 0 && count[s] == bestCount && lowest[s] < bestPos)) {
      best = s;
      bestCount = count[s];
      bestPos = lowest[s];
    }
  }
  return best;
}

// Appends the knots of a knots container (entries that hold no container are passed over).
bool AppendKnots(const BaseContainer& knotsBc, Int32 defaultInterpolation, bool valueOnly,
                 BaseArray<GradientKnot>* knots, bool* flag) {
  BrowseContainer browse(&knotsBc);
  GeData* entry = nullptr;
  while (browse.GetNext(nullptr, &entry)) {
    if (entry->GetType() != VALUETYPE_CONTAINER) continue;
    const BaseContainer& kc = *entry->GetContainer();
    GradientKnot k;
    k.col = kc.GetVector(GRADIENTKNOT_COLOR, Vector64());
    k.brightness = kc.GetFloat(GRADIENTKNOT_BRIGHTNESS, 0.0);
    k.pos = kc.GetFloat(GRADIENTKNOT_POSITION, 0.0);
    k.bias = kc.GetFloat(GRADIENTKNOT_BIAS, 0.0);
    k.index = kc.GetInt32(GRADIENTKNOT_ID, 0);
    k.interpolation = kc.GetInt32(GRADIENTKNOT_INTERPOLATION, defaultInterpolation);
    // Codes of older files.
    if (k.interpolation == 6 || k.interpolation == 7) {
      *flag = true;
    } else if (k.interpolation == 1) {
      k.interpolation = 3;
    } else if (k.interpolation == 4) {
      k.interpolation = 3;
      k.bias = 0.5;
    }
    if (valueOnly) MakeValueOnly(&k);
    if (!knots->Append(k)) return false;
  }
  return true;
}

bool OutOfMemory(HyperFile* hf) {
  hf->SetError(FILEERROR_OUTOFMEMORY);
  return false;
}

iGradient* Object(CustomDataType* data) { return static_cast<iGradient*>(Gradient::From(data)); }
const iGradient* Object(const CustomDataType* data) {
  return static_cast<const iGradient*>(Gradient::From(data));
}

}  // namespace

// ---- Gradient ----

Int32 Gradient::InsertKnot(const GradientKnot& knot) {
  return static_cast<iGradient*>(this)->InsertKnot(knot);
}

void Gradient::FlushKnots() { static_cast<iGradient*>(this)->FlushKnots(); }

bool Gradient::SetData(Int32 id, const GeData& data) {
  return static_cast<iGradient*>(this)->iSetData(id, data);
}

Int32 Gradient::GetKnotCount() const {
  return static_cast<const iGradient*>(this)->knots.GetCount();
}

const GradientKnot* Gradient::GetKnot(Int32 index) const {
  const iGradient* g = static_cast<const iGradient*>(this);
  return index >= 0 && index < g->knots.GetCount() ? &g->knots[index] : nullptr;
}

Gradient* Gradient::GetChild() { return static_cast<iGradient*>(this)->child; }

const Gradient* Gradient::GetChild() const { return static_cast<const iGradient*>(this)->child; }

bool Gradient::IsValueOnly() const { return static_cast<const iGradient*>(this)->valueOnly; }

// ---- iGradient ----

iGradient::~iGradient() { DeleteObj(child); }

bool iGradient::CopyFrom(const iGradient& src) {
  if (&src == this) return true;
  if (!knots.CopyFrom(src.knots) || !spareKnots.CopyFrom(src.spareKnots)) return false;
  valueOnly = src.valueOnly;
  scale = src.scale;
  DeleteObj(child);
  if (src.child != nullptr) {
    child = NewObj<iGradient>();
    if (child == nullptr || !child->CopyFrom(*src.child)) return false;
  }
  legacyFlag = src.legacyFlag;
  newInterpolationFlag = src.newInterpolationFlag;
  return true;
}

bool iGradient::GradientToContainer(const iGradient& gradient, BaseContainer* result) {
  if (result == nullptr) return false;
  result->FlushAll();
  result->SetId(-1);
  BaseContainer* knotsBc = result->InsContainer(GRADIENT_KNOT, BaseContainer());
  if (knotsBc == nullptr) return false;
  Int32 count[8] = {};
  Float64 lowest[8] = {2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0};
  for (const GradientKnot& k : gradient.knots) {
    BaseContainer* kc = knotsBc->InsContainer(0, BaseContainer());
    if (kc == nullptr || !kc->SetVector(GRADIENTKNOT_COLOR, gradient.valueOnly ? kWhite : k.col) ||
        !kc->SetFloat(GRADIENTKNOT_BRIGHTNESS, k.brightness) ||
        !kc->SetFloat(GRADIENTKNOT_POSITION, k.pos) || !kc->SetFloat(GRADIENTKNOT_BIAS, k.bias) ||
        !kc->SetInt32(GRADIENTKNOT_ID, k.index) ||
        !kc->SetInt32(GRADIENTKNOT_INTERPOLATION, k.interpolation)) {
      return false;
    }
    if (k.interpolation >= 0 && k.interpolation < 8) {
      ++count[k.interpolation];
      if (k.pos < lowest[k.interpolation]) lowest[k.interpolation] = k.pos;
    }
  }
  return result->SetInt32(GRADIENT_INTERPOLATION, DominantInterpolation(count, lowest));
}

bool iGradient::ContainerToGradient(const BaseContainer& bc, iGradient* gradient, bool& flag) {
  if (gradient == nullptr) return false;
  const BaseContainer* knotsBc = bc.GetContainerInstance(GRADIENT_KNOT);
  if (knotsBc == nullptr) return true;
  flag = false;
  return AppendKnots(*knotsBc, bc.GetInt32(GRADIENT_INTERPOLATION, 0), gradient->valueOnly,
                     &gradient->knots, &flag);
}

bool iGradient::CheckContainer(BaseContainer* bc, bool isChild, bool oldFile) {
  BaseContainer* knotsBc = bc != nullptr ? bc->GetContainerInstance(GRADIENT_KNOT) : nullptr;
  if (knotsBc == nullptr) return true;
  Int32 top = 0;
  BrowseContainer browse(knotsBc);
  GeData* entry = nullptr;
  while (browse.GetNext(nullptr, &entry)) {
    const BaseContainer* kc =
        entry->GetType() == VALUETYPE_CONTAINER ? entry->GetContainer() : nullptr;
    if (kc != nullptr && kc->GetInt32(GRADIENTKNOT_ID, 0) > top)
      top = kc->GetInt32(GRADIENTKNOT_ID, 0);
  }
  browse.Reset();
  while (browse.GetNext(nullptr, &entry)) {
    BaseContainer* kc = entry->GetType() == VALUETYPE_CONTAINER ? entry->GetContainer() : nullptr;
    if (kc == nullptr) continue;
    if (kc->GetInt32(GRADIENTKNOT_ID, 0) == 0) {
      // Each repaired knot takes the next free index, so that the indices stay unique.
      top = NextIndex(top);
      if (!kc->SetInt32(GRADIENTKNOT_ID, top)) return false;
    }
    if (isChild && oldFile) {
      const Vector64 col = kc->GetVector(GRADIENTKNOT_COLOR, Vector64());
      if (!kc->SetFloat(GRADIENTKNOT_BRIGHTNESS,
                        kc->GetFloat(GRADIENTKNOT_BRIGHTNESS, 0.0) * col.x) ||
          !kc->SetVector(GRADIENTKNOT_COLOR, kWhite)) {
        return false;
      }
    }
  }
  return true;
}

Int32 iGradient::InsertKnot(const GradientKnot& knot) {
  GradientKnot k = knot;
  if (valueOnly) MakeValueOnly(&k);
  Int32 top = k.index;
  for (const GradientKnot& other : knots) {
    if (other.index > top) top = other.index;
  }
  k.index = NextIndex(top);
  if (!knots.Append(k)) return -1;
  return knots.GetCount() - 1;
}

bool iGradient::iSetData(Int32 id, const GeData& data) {
  switch (id) {
    case GRADIENT_KNOT: {
      const BaseContainer* knotsBc =
          data.GetType() == VALUETYPE_CONTAINER ? data.GetContainer() : nullptr;
      if (knotsBc == nullptr) return false;
      // Built aside, so that a failure leaves the knots as they were.
      BaseArray<GradientKnot> rebuilt;
      bool flag = false;
      if (!AppendKnots(*knotsBc, 0, valueOnly, &rebuilt, &flag)) return false;
      knots = std::move(rebuilt);
      if (flag) newInterpolationFlag = true;
      return true;
    }
    case GRADIENT_MODE: {
      if (data.GetType() != VALUETYPE_INT32) return false;
      const Int32 mode = data.GetInt32();
      if (mode == 0 || mode == 1) {
        DeleteObj(child);
        valueOnly = mode == 1;
      } else if (mode == 2) {
        valueOnly = false;
        if (child == nullptr) child = NewObj<iGradient>();
        if (child == nullptr) return false;
        child->valueOnly = true;
      }
      return true;
    }
    case GRADIENT_UNCLAMPED:
      return true;
    default:
      return false;
  }
}

bool iGradient::Write(HyperFile* hf) const {
  BaseContainer bc;
  if (!GradientToContainer(*this, &bc)) return OutOfMemory(hf);
  if (!hf->WriteContainer(bc) || !hf->WriteBool(child != nullptr)) return false;
  if (child != nullptr) {
    if (!GradientToContainer(*child, &bc)) return OutOfMemory(hf);
    if (!hf->WriteContainer(bc)) return false;
  }
  return hf->WriteBool(valueOnly);
}

bool iGradient::Read(HyperFile* hf, Int32 level) {
  if (level <= 0) return true;
  BaseContainer bc;
  bool hasChild = false;
  if (!hf->ReadContainer(&bc, true) || !hf->ReadBool(&hasChild)) return false;
  bool flag = false;
  if (!CheckContainer(&bc, false, false) || !ContainerToGradient(bc, this, flag)) {
    return OutOfMemory(hf);
  }
  newInterpolationFlag = flag;
  if (hasChild) {
    valueOnly = false;
    if (child == nullptr) child = NewObj<iGradient>();
    if (child == nullptr) return OutOfMemory(hf);
    if (!hf->ReadContainer(&bc, true)) return false;
    flag = false;
    if (!CheckContainer(&bc, true, hf->GetFileVersion() < 11005) ||
        !ContainerToGradient(bc, child, flag)) {
      return OutOfMemory(hf);
    }
    if (flag) newInterpolationFlag = true;
  }
  if (hf->GetFileVersion() <= 11004) legacyFlag = true;
  return level <= 1 || hf->ReadBool(&valueOnly);
}

// ---- GradientDataTypeClass ----

CustomDataType* GradientDataTypeClass::AllocData() {
  return reinterpret_cast<CustomDataType*>(static_cast<Gradient*>(NewObj<iGradient>()));
}

void GradientDataTypeClass::FreeData(CustomDataType* data) {
  iGradient* g = Object(data);
  DeleteObj(g);
}

bool GradientDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans*) {
  if (src == nullptr || dest == nullptr) return false;
  return Object(dest)->CopyFrom(*Object(src));
}

Int32 GradientDataTypeClass::Compare(const CustomDataType*, const CustomDataType*) { return 1; }

bool GradientDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  return data != nullptr && Object(data)->Write(hf);
}

bool GradientDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32 level) {
  return data != nullptr && Object(data)->Read(hf, level);
}

Int32 GradientDataTypeClass::GetWriteLevel(const CustomDataType* data) {
  return data != nullptr && Object(data)->valueOnly ? 2 : 1;
}

}  // namespace lumora
