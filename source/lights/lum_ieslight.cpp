// IESLight (see lum_ieslight.h): the photometric record, its intensity in a direction and
// power ratio, its file form, and the light object that holds it. Reading IES files is in
// lum_ieslight_parser.cpp.
#include "lights/lum_ieslight.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lights/lum_ieslight_private.h"
#include "lum_debug.h"
#include "lum_memory.h"
#include "scene/lum_baselist2d.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_basecontainer.h"

namespace lumora {

namespace {

// A light's table is null only for a count of 0 (see AdoptTables).
Float* DuplicateFloats(const Float* src, Int64 count, bool* ok) {
  if (count <= 0) return nullptr;
  Float* copy = AllocFloats(count);
  if (copy == nullptr) {
    *ok = false;
    return nullptr;
  }
  std::memcpy(copy, src, static_cast<size_t>(count) * sizeof(Float));
  return copy;
}

bool CopyText(String* dest, const String& src) {
  *dest = src;
  return dest->GetLength() == src.GetLength();
}

}  // namespace

// ---- IESLight ----

IESLight::IESLight() = default;

IESLight::~IESLight() {
  DeleteMem(_vertical);
  DeleteMem(_horizontal);
  DeleteMem(_candela);
}

IESLight* IESLight::Alloc() { return NewObj<IESLight>(); }

void IESLight::Free(IESLight*& light) { DeleteObj(light); }

void IESLight::AdoptTables(Int32 nv, Float* vertical, Int32 nh, Float* horizontal, Float* candela) {
  DeleteMem(_vertical);
  DeleteMem(_horizontal);
  DeleteMem(_candela);
  _nv = nv;
  _nh = nh;
  _vertical = vertical;
  _horizontal = horizontal;
  _candela = candela;
  _verticalAscending = Ascending(_vertical, _nv);
  _horizontalAscending = Ascending(_horizontal, _nh);
}

Int32 IESLight::ImportFromFile(const Filename& name) {
  BaseFile file;
  if (!file.Open(name, FILEOPEN_READ, FILEDIALOG_NONE, BYTEORDER_MOTOROLA)) return -1;
  // Only the head is looked at; the buffer is its size, not the file's.
  const Int64 count = std::min<Int64>(file.GetLength(), IESLightParser::kBlockSize);
  UChar* head = static_cast<UChar*>(MemAlloc(count > 0 ? count : 1));
  if (head == nullptr) return -3;
  if (count > 0 && file.ReadBytes(head, count) != count) {
    DeleteMem(head);
    return -5;
  }
  bool found = false;
  for (Int64 i = 0; i < count - 8 && !found; ++i) {
    Char four[4];
    for (int k = 0; k < 4; ++k) {
      const UChar c = head[i + k];
      four[k] = static_cast<Char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    found = std::memcmp(four, "IESN", 4) == 0 || std::memcmp(four, "TILT", 4) == 0;
  }
  DeleteMem(head);
  if (!found) return -2;
  file.Seek(0);  // back to the start of a file open for reading: cannot fail
  IESLightParser parser;
  return parser.ParseIESFile(&file, this) ? 1 : -5;
}

Float IESLight::ATan2(Float a, Float b) {
  if (a < 0) return -ATan2(-a, b);
  if (b < 0) return kPi - std::atan(a / -b);
  if (b > 0) return std::atan(a / b);
  return kPi * 0.5;
}

Float IESLight::RowValue(const Float* row, Int32 i0, Int32 i1, Float t) const {
  return HermiteRowValue(_vertical, _nv, row, i0, i1, t);
}

Float IESLight::ComputeLightIntensity(const Vector64& direction) const {
  const Float c = direction.z * -0.999999;
  Float theta = c >= 1 ? 0.0 : (c <= -1 ? kPi : std::acos(c));
  theta *= 180.0 / kPi;
  if (_nv == 0 || _nh == 0) return 0.0;
  const Float* v = _vertical;
  if (theta < v[0] || theta > v[_nv - 1]) return 0.0;

  Int32 i0 = FirstInterval(_nv, _verticalAscending, [&](Int32 i) { return theta < v[i]; });
  Int32 i1 = i0 + 1;
  if (i0 < 0) {
    i1 = _nv < 2 ? 0 : _nv - 1;
    i0 = _nv < 2 ? 0 : _nv - 2;
  }
  const Float dv = v[i1] - v[i0];
  const Float t = dv > 0 ? (theta - v[i0]) / dv : 1.0;

  const Float* hz = _horizontal;
  const Float h0 = hz[0];
  const Float span = hz[_nh - 1] - h0;
  Float p = 0.0;
  if (span >= 45) {
    // The horizontal angle only matters when the grid spans more than one plane.
    p = ATan2(direction.x, direction.y) * 180.0 / kPi;
    if (p < 0) p += 360.0;
    if (span < 135) {
      if (p <= 90) {
      } else if (p <= 180) {
        p = 180.0 - p;
      } else if (p <= 270) {
        p = p - 180.0;
      } else {
        p = 360.0 - p;
      }
    } else if (span < 225) {
      // The angle from the first plane, folded into 0 .. 180. Taken modulo 360 first, so that
      // a grid that starts below 0 (or at 360 and above) folds like one that starts at 0.
      p = std::fabs(p - h0);
      if (p >= 360) p = std::fmod(p, 360.0);
      if (p > 180) p = 360.0 - p;
    }
  }
  Int32 j0 = FirstInterval(_nh, _horizontalAscending, [&](Int32 j) { return p < hz[j] - h0; });
  Int32 j1 = j0 + 1;
  if (j0 < 0) {
    j1 = _nh < 2 ? 0 : _nh - 1;
    j0 = _nh < 2 ? 0 : _nh - 2;
  }
  const Float dh = hz[j1] - hz[j0];
  const Float s = dh > 0 ? (p - (hz[j0] - h0)) / dh : 1.0;

  const Float* table = _candela;
  const Float lower = RowValue(table + static_cast<Int64>(j0) * _nv, i0, i1, t);
  const Float upper = RowValue(table + static_cast<Int64>(j1) * _nv, i0, i1, t);
  Float intensity = s * upper + (1 - s) * lower;
  if (_maxCandela > 0) intensity /= _maxCandela;
  return intensity > 0 ? intensity : 0.0;
}

void IESLight::ComputePowerRatio() {
  const Int64 n = static_cast<Int64>(_nv) * _nh;
  _maxCandela = 0.0;
  if (n > 0) {
    _maxCandela = _candela[0];
    for (Int64 i = 1; i < n; ++i) _maxCandela = std::max(_maxCandela, _candela[i]);
  }
  Random random;
  random.Init(kPowerSeed);
  Float sum = 0.0;
  for (Int32 k = 0; k < kPowerSamples; ++k) {
    Float x, y, z;
    do {
      x = random.Get11();
      y = random.Get11();
      z = random.Get11();
    } while (x * x + y * y + z * z > 1.0);
    const Float length = std::sqrt(x * x + y * y + z * z);
    Vector64 direction;
    if (length != 0) direction = Vector64(x / length, y / length, z / length);
    sum += ComputeLightIntensity(direction);
  }
  _powerRatio = sum * 4.0 * kPi / kPowerSamples;
}

IESLight* IESLight::Copy() const {
  IESLight* copy = Alloc();
  if (copy == nullptr) return nullptr;
  bool ok = true;
  const Int64 cells = static_cast<Int64>(_nv) * _nh;
  Float* vertical = DuplicateFloats(_vertical, _nv, &ok);
  Float* horizontal = DuplicateFloats(_horizontal, _nh, &ok);
  Float* candela = DuplicateFloats(_candela, cells, &ok);
  for (Int32 i = 0; i < IESTEXT_COUNT && ok; ++i) ok = CopyText(&copy->_texts[i], _texts[i]);
  if (!ok) {
    DeleteMem(vertical);
    DeleteMem(horizontal);
    DeleteMem(candela);
    Free(copy);
    return nullptr;
  }
  copy->AdoptTables(_nv, vertical, _nh, horizontal, candela);
  copy->_format = _format;
  copy->_tilt = _tilt;
  copy->_shape = _shape;
  copy->_size = _size;
  copy->_maxCandela = _maxCandela;
  copy->_powerRatio = _powerRatio;
  return copy;
}

bool IESLight::Write(HyperFile* hf) const {
  if (hf == nullptr) return false;
  if (!hf->WriteInt32(IES_RECORD_VERSION) || !hf->WriteInt32(_format) || !hf->WriteInt32(_tilt) ||
      !hf->WriteFloat(_maxCandela) || !hf->WriteInt32(_nv) || !hf->WriteInt32(_nh))
    return false;
  for (Int32 i = 0; i < _nv; ++i) {
    if (!hf->WriteFloat(_vertical[i])) return false;
  }
  for (Int32 j = 0; j < _nh; ++j) {
    if (!hf->WriteFloat(_horizontal[j])) return false;
  }
  const Int64 cells = static_cast<Int64>(_nv) * _nh;
  for (Int64 c = 0; c < cells; ++c) {
    if (!hf->WriteFloat(_candela[c])) return false;
  }
  for (Int32 i = 0; i < IESTEXT_COUNT; ++i) {
    if (!hf->WriteString(_texts[i])) return false;
  }
  return hf->WriteInt32(_shape) && hf->WriteVector(_size) && hf->WriteFloat(_powerRatio);
}

namespace {}  // namespace

bool IESLight::Read(HyperFile* hf) {
  if (hf == nullptr) return false;
  Int32 version = 0, format = 0, tilt = 0, nv = 0, nh = 0;
  Float maxCandela = 0.0;
  if (!hf->ReadInt32(&version)) return false;
  auto readFloat = [hf, version](Float* value) {
    return version > 3 ? hf->ReadFloat(value) : hf->ReadFloat64(value);
  };
  if (!hf->ReadInt32(&format) || !hf->ReadInt32(&tilt) || !readFloat(&maxCandela) ||
      !hf->ReadInt32(&nv) || !hf->ReadInt32(&nh))
    return false;
  if (nv < 0 || nv > IES_MAX_ANGLES || nh < 0 || nh > IES_MAX_ANGLES) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  const Int64 cells = static_cast<Int64>(nv) * nh;
  const Int64 numbers = nv + nh + cells;
  if (!hf->CheckRemaining(numbers * (version > 3 ? kMinFloatBytes : kMinFloat64Bytes)))
    return false;
  Tables t;
  t.vertical = AllocFloats(nv);
  t.horizontal = AllocFloats(nh);
  t.candela = AllocFloats(cells);
  if ((nv > 0 && t.vertical == nullptr) || (nh > 0 && t.horizontal == nullptr) ||
      (cells > 0 && t.candela == nullptr)) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  for (Int32 i = 0; i < nv; ++i) {
    if (!readFloat(&t.vertical[i])) return false;
  }
  for (Int32 j = 0; j < nh; ++j) {
    if (!readFloat(&t.horizontal[j])) return false;
  }
  for (Int64 c = 0; c < cells; ++c) {
    if (!readFloat(&t.candela[c])) return false;
  }
  String texts[IESTEXT_COUNT];
  Int32 shape = _shape;
  Vector64 size = _size;
  Float powerRatio = 0.0;
  if (version > 1) {
    for (Int32 i = 0; i < IESTEXT_COUNT; ++i) {
      if (!hf->ReadString(&texts[i])) return false;
    }
    if (!hf->ReadInt32(&shape) || !hf->ReadVector(&size)) return false;
    if (version > 2 && !readFloat(&powerRatio)) return false;
  }
  // Everything is read: the light takes it over.
  if (version > 1) {
    for (Int32 i = 0; i < IESTEXT_COUNT; ++i) {
      if (!CopyText(&_texts[i], texts[i])) {
        hf->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
    }
  }
  _format = format;
  _tilt = tilt;
  _maxCandela = maxCandela;
  _shape = shape;
  _size = size;
  AdoptTables(nv, t.vertical, nh, t.horizontal, t.candela);
  t.vertical = t.horizontal = t.candela = nullptr;
  if (version > 2) {
    _powerRatio = powerRatio;
  } else {
    ComputePowerRatio();
  }
  return true;
}

// ---- applying a light to a light object ----

Float IESMetresPerUnit(Int32 unit) {
  static constexpr Float kMetres[] = {1,    1000,     1,      0.01,   0.001, 1e-6,
                                      1e-9, 1609.344, 0.9144, 0.3048, 0.0254};
  return unit >= 0 && unit <= 10 ? kMetres[unit] : 1.0;
}

Float IESSizeFactor(const Float* scale, Int32 unit) {
  // The light's own scale: 1.0 in unit 2 (metres).
  constexpr Float kLightScale = 1.0;
  constexpr Int32 kLightUnit = 2;
  if (scale == nullptr) return 1.0;
  if (*scale == kLightScale && unit == kLightUnit) return 1.0;
  const Float light = kLightScale * IESMetresPerUnit(kLightUnit);
  const Float document = *scale * IESMetresPerUnit(unit);
  if (light == document || document == 0) return 1.0;
  return light / document;
}

bool IESApplyToContainer(BaseContainer* bc, const IESLight& light, Float sizeFactor) {
  if (bc == nullptr) return false;
  bool ok = bc->SetBool(LIGHT_IES_ENABLED, true) && bc->SetBool(LIGHT_IES_APPLIED, true) &&
            bc->SetInt32(LIGHT_IES_MODE, 1) &&
            bc->SetFloat(LIGHT_IES_MAXCANDELA, light.GetMaxCandela());
  for (Int32 i = 0; i < IESTEXT_COUNT && ok; ++i)
    ok = bc->SetString(LIGHT_IES_TEXTS + i, light.GetText(IESTEXT(i)));
  const Vector64& size = light.GetOpeningSize();
  return ok && bc->SetInt32(LIGHT_AREA_SHAPE, light.GetShape() == -1 ? 1 : light.GetShape()) &&
         bc->SetFloat(LIGHT_AREA_SIZEX, size.x * sizeFactor) &&
         bc->SetFloat(LIGHT_AREA_SIZEY, size.y * sizeFactor) &&
         bc->SetFloat(LIGHT_AREA_SIZEZ, size.z * sizeFactor);
}

// ---- the light object ----

LightObjectData::~LightObjectData() { IESLight::Free(_ies); }

NodeData* LightObjectData::Alloc(Int32 type) { return NewObj<LightObjectData>(type); }

void LightObjectData::SetIESLight(IESLight* light) {
  if (light == _ies) return;
  IESLight::Free(_ies);
  _ies = light;
}

bool LightObjectData::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  LightObjectData* d = static_cast<LightObjectData*>(dest);
  if (d == this) return true;
  if (!RawNodeData::CopyToX(dest, flags, trans)) return false;
  IESLight* copy = nullptr;
  if (_ies != nullptr) {
    copy = _ies->Copy();
    if (copy == nullptr) return false;
  }
  d->SetIESLight(copy);
  d->SetIESValues(_iesHalfSize, _iesCount, _iesDistance);
  return true;
}

bool LightObjectData::SetDParameter(const DescID& id, const GeData& value) {
  BaseList2D* node = GetNode();
  if (node == nullptr || id[0].id != LIGHT_IES_FILE) return RawNodeData::SetDParameter(id, value);
  const Filename& name = value.GetFilename();
  node->GetDataInstance()->SetFilename(LIGHT_IES_FILE, name);
  if (name.GetPath().GetLength() == 0) return true;
  IESLight light;
  if (light.ImportFromFile(name) == 1) lumora::SetIESLight(node, &light, node->GetDocument());
  return true;
}

bool SetIESLight(BaseList2D* object, IESLight* light, BaseDocument* document) {
  if (object == nullptr || light == nullptr || object->GetType() != TYPE_LIGHTOBJECT) return false;
  LightObjectData* data = dynamic_cast<LightObjectData*>(object->GetNodeData());
  if (data == nullptr) return false;
  data->SetIESLight(nullptr);
  light->ComputePowerRatio();
  IESLight* copy = light->Copy();
  if (copy == nullptr) return true;
  data->SetIESLight(copy);
  object->SetDParameter(DescID(LIGHT_TYPE), GeData(LIGHT_TYPE_PHOTOMETRIC));
  // The document's unit scale lives in its data container as a custom value this build has no
  // class for: it cannot be read, and the opening stays in metres.
  Float k = 1.0;
  if (document != nullptr) {
    _GeDebugBreak(__LINE__, "source/lum_ieslight");
    k = IESSizeFactor(nullptr, 0);
  }
  IESApplyToContainer(object->GetDataInstance(), *light, k);
  data->SetIESValues(light->GetOpeningSize().x * k * 0.5, 10, 1000.0);
  return true;
}

}  // namespace lumora
