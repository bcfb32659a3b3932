// The layer stack of the layer shader (see lum_blendlayers.h).
#include "shading/lum_blendlayers.h"

#include "lum_debug.h"
#include "lum_memory.h"
#include "scene/lum_privatechunk.h"
#include "shading/lum_baseshader.h"
#include "stream/lum_hyperfile.h"
#include "values/datatypes/lum_gradient.h"
#include "values/lum_basecontainer.h"

namespace lumora {

namespace {

constexpr const Char* kFile = "source/shading/lum_blendlayers";

// The id of the gradient inside a colorize layer's container.
constexpr Int32 kColorizeGradientEntry = 1;

// One field of a kind: its parameter id, its kind (F float, I int32, B bool, V vector, X the
// kind's special field), the list level from which it is read (below it keeps its default)
// and its default.
struct FieldRow {
  Int32 id;
  Char kind;
  Int32 minLevel;
  Float64 def;
  Vector64 vdef;
};

struct KindRow {
  const Char* name;
  Int32 count;
  FieldRow fields[BLENDLAYER_MAXFIELDS];
};

const Vector64 kZero{0.0, 0.0, 0.0};
const Vector64 kOne{1.0, 1.0, 1.0};

// The kinds 1 .. 10, each with its fields in write order.
const KindRow kKinds[] = {
    {"Folder",
     4,
     {{2000, 'I', 0, 1, kZero},
      {2001, 'F', 0, 1.0, kZero},
      {2002, 'B', 0, 1, kZero},
      {0, 'X', 0, 0, kZero}}},
    {"BlendShader",
     3,
     {{2000, 'I', 0, 1, kZero}, {2001, 'F', 0, 1.0, kZero}, {0, 'X', 0, 0, kZero}}},
    {"B/C/G",
     3,
     {{2000, 'F', 0, 0.0, kZero}, {2001, 'F', 0, 0.0, kZero}, {2002, 'F', 0, 1.0, kZero}}},
    {"HLS",
     4,
     {{2000, 'F', 0, 0.0, kZero},
      {2001, 'F', 0, 0.0, kZero},
      {2002, 'F', 0, 0.0, kZero},
      {2003, 'B', 0, 0, kZero}}},
    {"Posterize", 2, {{2001, 'F', 0, 0.1, kZero}, {2000, 'I', 0, 5, kZero}}},
    {"Colorize",
     4,
     {{2000, 'I', 0, 0, kZero},
      {2001, 'X', 0, 0, kZero},
      {2002, 'B', 0, 0, kZero},
      {2003, 'B', 1, 0, kZero}}},
    {"Clamp", 2, {{2000, 'F', 0, 0.0, kZero}, {2001, 'F', 0, 1.0, kZero}}},
    {"Clip", 2, {{2000, 'F', 0, 0.0, kZero}, {2001, 'F', 0, 1.0, kZero}}},
    {"Distort",
     7,
     {{2000, 'I', 0, 13, kZero},
      {2001, 'F', 0, 0.1, kZero},
      {2006, 'I', 0, 3, kZero},
      {2005, 'B', 0, 0, kZero},
      {2002, 'F', 0, 5.0, kZero},
      {2003, 'F', 0, 1.0, kZero},
      {2004, 'F', 0, 1.0, kZero}}},
    {"Transform",
     5,
     {{2000, 'F', 0, 0.0, kZero},
      {2001, 'B', 0, 0, kZero},
      {2002, 'B', 0, 0, kZero},
      {2003, 'V', 3, 0, kOne},
      {2004, 'V', 3, 0, kZero}}},
};

const KindRow& Row(Int32 kind) { return kKinds[kind - 1]; }

// The folders being read, over every stack being read (a stack may sit in a container inside
// a colorize layer of another stack): the library is used from one thread at a time.
Int32 g_folderReadNesting = 0;

bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

// Hash set of the shaders a session has queued.
class SeenSet {
 public:
  ~SeenSet() { DeleteMem(_slots); }
  bool Contains(const void* p) const {
    if (_capacity == 0) return false;
    for (Int64 i = Hash(p) & (_capacity - 1);; i = (i + 1) & (_capacity - 1)) {
      if (_slots[i] == nullptr) return false;
      if (_slots[i] == p) return true;
    }
  }
  bool Insert(const void* p) {
    if ((_count + 1) * 2 > _capacity) {
      const Int64 capacity = _capacity == 0 ? 16 : _capacity * 2;
      const void** slots = static_cast<const void**>(MemAlloc(capacity * Int64(sizeof(void*))));
      if (slots == nullptr) return false;
      for (Int64 i = 0; i < _capacity; ++i)
        if (_slots[i] != nullptr) Place(slots, capacity, _slots[i]);
      DeleteMem(_slots);
      _slots = slots;
      _capacity = capacity;
    }
    Place(_slots, _capacity, p);
    ++_count;
    return true;
  }

 private:
  static Int64 Hash(const void* p) {
    UInt64 v = UInt64(reinterpret_cast<uintptr_t>(p));
    v ^= v >> 33;
    v *= 0xff51afd7ed558ccdULL;
    v ^= v >> 33;
    return Int64(v & 0x7fffffffffffffffULL);
  }
  static void Place(const void** slots, Int64 capacity, const void* p) {
    Int64 i = Hash(p) & (capacity - 1);
    while (slots[i] != nullptr) i = (i + 1) & (capacity - 1);
    slots[i] = p;
  }

  const void** _slots = nullptr;
  Int64 _capacity = 0;
  Int64 _count = 0;
};

// A running comparison of shader layers. Shader pairs met while one runs are queued rather than
// compared in place (no nesting, so no deep stack), and each shader of the first side is
// compared at most once (so cycles end and the work stays linear). The comparison is a
// conjunction throughout, so the outermost one may settle the queued pairs at its end.
struct Session {
  GeTempDynArray<BaseShader> pendingA;
  GeTempDynArray<BaseShader> pendingB;
  SeenSet seen;
};
Session* g_compare = nullptr;

// Whether shaders a and b count as equal for a shader layer: queued within a running
// comparison, settled at once (with everything they queue) otherwise.
bool ShadersEqual(BaseShader* a, BaseShader* b) {
  if (g_compare != nullptr) {
    if (g_compare->seen.Contains(a)) return true;
    return g_compare->seen.Insert(a) && g_compare->pendingA.Append(a) &&
           g_compare->pendingB.Append(b);
  }
  Session session;
  g_compare = &session;
  bool equal = session.seen.Insert(a) && a->Compare(b);
  while (equal && session.pendingA.GetCount() > 0) {
    const Int32 last = session.pendingA.GetCount() - 1;
    BaseShader* x = session.pendingA[last];
    BaseShader* y = session.pendingB[last];
    session.pendingA.Remove(last);
    session.pendingB.Remove(last);
    equal = x->Compare(y);
  }
  g_compare = nullptr;
  return equal;
}

// The container form of a gradient value with its child and mode, for comparing two gradients
// by what they hold (the gradient type itself never calls two values equal).
bool SameGradient(const GeData& a, const GeData& b) {
  const CustomDataType* ca = a.GetCustomDataType(CUSTOMDATATYPE_GRADIENT);
  const CustomDataType* cb = b.GetCustomDataType(CUSTOMDATATYPE_GRADIENT);
  if (ca == nullptr || cb == nullptr) return ca == cb;
  const iGradient* ga = static_cast<const iGradient*>(Gradient::From(ca));
  const iGradient* gb = static_cast<const iGradient*>(Gradient::From(cb));
  while (ga != nullptr && gb != nullptr) {
    BaseContainer fa, fb;
    if (ga->valueOnly != gb->valueOnly || !iGradient::GradientToContainer(*ga, &fa) ||
        !iGradient::GradientToContainer(*gb, &fb) || fa != fb) {
      return false;
    }
    ga = ga->child;
    gb = gb->child;
  }
  return ga == gb;
}

}  // namespace

// ---- BlendLayer ----

BlendLayer::BlendLayer(Int32 kind) : _kind(kind) {
  const KindRow& row = Row(kind);
  _name = String(row.name);
  for (Int32 i = 0; i < row.count; ++i) {
    _num[i] = row.fields[i].def;
    _vec[i] = row.fields[i].vdef;
  }
}

bool BlendLayer::Read(HyperFile* hf, Int32 level) {
  const KindRow& row = Row(_kind);
  for (Int32 i = 0; i < row.count; ++i) {
    const FieldRow& f = row.fields[i];
    if (level < f.minLevel) continue;
    switch (f.kind) {
      case 'F':
        if (!hf->ReadFloat(&_num[i])) return false;
        break;
      case 'I': {
        Int32 v = 0;
        if (!hf->ReadInt32(&v)) return false;
        _num[i] = v;
        break;
      }
      case 'B': {
        bool v = false;
        if (!hf->ReadBool(&v)) return false;
        _num[i] = v ? 1 : 0;
        break;
      }
      case 'V':
        if (!hf->ReadVector(&_vec[i])) return false;
        break;
      default:
        if (!ReadSpecial(hf, level)) return false;
        break;
    }
  }
  return true;
}

bool BlendLayer::Write(HyperFile* hf) const {
  const KindRow& row = Row(_kind);
  for (Int32 i = 0; i < row.count; ++i) {
    bool ok = true;
    switch (row.fields[i].kind) {
      case 'F':
        ok = hf->WriteFloat(_num[i]);
        break;
      case 'I':
        ok = hf->WriteInt32(Int32(_num[i]));
        break;
      case 'B':
        ok = hf->WriteBool(_num[i] != 0);
        break;
      case 'V':
        ok = hf->WriteVector(_vec[i]);
        break;
      default:
        ok = WriteSpecial(hf);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

Int32 BlendLayer::Compare(const BlendLayer* other) const {
  // Every layer is attached (made by Add or read into a stack), so that flag never differs.
  if (other == nullptr || _kind != other->_kind || _name != other->_name ||
      _switch1001 != other->_switch1001 || _switch1000 != other->_switch1000 ||
      _code != other->_code || _value1002 != other->_value1002) {
    return 1;
  }
  const KindRow& row = Row(_kind);
  for (Int32 i = 0; i < row.count; ++i) {
    if (row.fields[i].kind == 'X') {
      if (!EqualSpecial(other)) return 1;
    } else if (_num[i] != other->_num[i] || _vec[i].x != other->_vec[i].x ||
               _vec[i].y != other->_vec[i].y || _vec[i].z != other->_vec[i].z) {
      return 1;
    }
  }
  return 0;
}

Int32 BlendLayer::CompareStructure(const BlendLayer* other, bool) const {
  return other == nullptr || _kind != other->_kind || _name != other->_name ? 1 : 0;
}

bool BlendLayer::CopyTo(BlendLayer* dest, AliasTrans* trans) const {
  if (dest == nullptr || dest->_kind != _kind) return false;
  // The common members too: a copy that lost its name or switches would not compare equal.
  dest->_name = _name;
  dest->_switch1001 = _switch1001;
  dest->_switch1000 = _switch1000;
  dest->_value1002 = _value1002;
  for (Int32 i = 0; i < BLENDLAYER_MAXFIELDS; ++i) {
    dest->_num[i] = _num[i];
    dest->_vec[i] = _vec[i];
  }
  return dest->_name.GetLength() == _name.GetLength() && CopySpecial(dest, trans);
}

String BlendLayer::GetLayerName(BaseDocument*, bool) { return _name; }

bool BlendLayer::GetParameter(Int32 id, GeData& out) const {
  switch (id) {
    case BLENDLAYER_SWITCH1000:
      out = GeData(Int32(_switch1000 ? 1 : 0));
      return true;
    case BLENDLAYER_SWITCH1001:
      out = GeData(Int32(_switch1001 ? 1 : 0));
      return true;
    case BLENDLAYER_VALUE1002:
      out = GeData(_value1002);
      return true;
    default:
      break;
  }
  const KindRow& row = Row(_kind);
  for (Int32 i = 0; i < row.count; ++i) {
    const FieldRow& f = row.fields[i];
    if (f.id != id || f.kind == 'X') continue;
    if (f.kind == 'F') {
      out = GeData(_num[i]);
    } else if (f.kind == 'V') {
      out = GeData(_vec[i]);
    } else {
      out = GeData(Int32(_num[i]));
    }
    return true;
  }
  return false;
}

bool BlendLayer::SetParameter(Int32 id, const GeData& value) {
  switch (id) {
    case BLENDLAYER_SWITCH1000:
      _switch1000 = value.GetInt32() != 0;
      return true;
    case BLENDLAYER_SWITCH1001:
      _switch1001 = value.GetInt32() != 0;
      return true;
    case BLENDLAYER_VALUE1002:
      _value1002 = value.GetInt32();
      return true;
    default:
      break;
  }
  const KindRow& row = Row(_kind);
  for (Int32 i = 0; i < row.count; ++i) {
    const FieldRow& f = row.fields[i];
    if (f.id != id || f.kind == 'X') continue;
    switch (f.kind) {
      case 'F':
        _num[i] = value.GetFloat();
        break;
      case 'I':
        _num[i] = value.GetInt32();
        break;
      case 'B':
        _num[i] = value.GetInt32() != 0 ? 1 : 0;
        break;
      default:
        _vec[i] = value.GetVector();
        break;
    }
    return true;
  }
  return false;
}

// ---- BlendFolder ----

BlendFolder::BlendFolder() : BlendLayer(LAYERTYPE_FOLDER) {}

bool BlendFolder::GetParameter(Int32 id, GeData& out) const {
  if (id != 2003) return BlendLayer::GetParameter(id, out);
  out = GeData(static_cast<void*>(_children.GetLayer(0)), VOIDVALUE);
  return true;
}

void BlendFolder::ClearShaders(BaseList2D* node, BaseDocument* doc) {
  for (Int32 i = 0; i < _children.GetCount(); ++i) _children.GetLayer(i)->ClearShaders(node, doc);
}

bool BlendFolder::ReadSpecial(HyperFile* hf, Int32) {
  if (g_folderReadNesting >= PRIVATECHUNK_MAX_NESTING) return Fail(hf, FILEERROR_WRONG_VALUE);
  ++g_folderReadNesting;
  const bool ok = _children.Read(hf);
  --g_folderReadNesting;
  return ok;
}

bool BlendFolder::WriteSpecial(HyperFile* hf) const { return _children.Write(hf); }

bool BlendFolder::EqualSpecial(const BlendLayer* other) const {
  return _children.Compare(&static_cast<const BlendFolder*>(other)->_children) == 0;
}

bool BlendFolder::CopySpecial(BlendLayer* dest, AliasTrans* trans) const {
  BlendFolder* d = static_cast<BlendFolder*>(dest);
  d->_children.Free();
  return _children.CopyTo(&d->_children, trans);
}

// ---- BlendShader ----

BlendShader::BlendShader() : BlendLayer(LAYERTYPE_SHADER) {}

String BlendShader::GetLayerName(BaseDocument*, bool) {
  BaseList2D* node = _link.GetLink();
  _name = node != nullptr ? node->GetName() : String("BlendShader");
  return _name;
}

bool BlendShader::GetParameter(Int32 id, GeData& out) const {
  if (id != 2002) return BlendLayer::GetParameter(id, out);
  out = GeData(static_cast<void*>(const_cast<BaseLink*>(&_link)), VOIDVALUE);
  return true;
}

void BlendShader::SetLink(BaseList2D* node) { _link.SetLink(node); }

bool BlendShader::ReadSpecial(HyperFile* hf, Int32) { return _link.Read(hf); }

bool BlendShader::WriteSpecial(HyperFile* hf) const { return _link.Write(hf); }

bool BlendShader::EqualSpecial(const BlendLayer* other) const {
  const BlendShader* o = static_cast<const BlendShader*>(other);
  if (_stored != o->_stored) return false;
  BaseList2D* a = _link.GetLink();
  BaseList2D* b = o->_link.GetLink();
  if (a == nullptr || b == nullptr) return a == b;
  if (!a->IsNodeClass(NODECLASS_SHADER) || !b->IsNodeClass(NODECLASS_SHADER)) return false;
  return ShadersEqual(static_cast<BaseShader*>(a), static_cast<BaseShader*>(b));
}

bool BlendShader::CopySpecial(BlendLayer* dest, AliasTrans* trans) const {
  BlendShader* d = static_cast<BlendShader*>(dest);
  d->_stored = _stored;
  return _link.CopyData(&d->_link, trans);
}

// ---- BlendEffectColorize ----

BlendEffectColorize::BlendEffectColorize()
    : BlendLayer(LAYERTYPE_COLORIZE), _gradient(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE) {}

bool BlendEffectColorize::GetParameter(Int32 id, GeData& out) const {
  if (id == 2001) return true;
  return BlendLayer::GetParameter(id, out);
}

bool BlendEffectColorize::SetParameter(Int32 id, const GeData& value) {
  if (id != 2001) return BlendLayer::SetParameter(id, value);
  if (value.GetType() != CUSTOMDATATYPE_GRADIENT) return false;
  GeData copy(value);
  if (copy.GetType() != CUSTOMDATATYPE_GRADIENT) return false;
  _gradient = static_cast<GeData&&>(copy);
  return true;
}

bool BlendEffectColorize::ReadSpecial(HyperFile* hf, Int32) {
  BaseContainer bc;
  if (!hf->ReadContainer(&bc, true)) return false;
  // Without entry 1 the gradient keeps its default rather than taking a nil value.
  if (bc.FindIndex(kColorizeGradientEntry) < 0) return true;
  const GeData* value = bc.GetData(kColorizeGradientEntry);
  if (value->GetType() != CUSTOMDATATYPE_GRADIENT) return Fail(hf, FILEERROR_WRONG_VALUE);
  GeData copy(*value);
  if (copy.GetType() != CUSTOMDATATYPE_GRADIENT) return Fail(hf, FILEERROR_OUTOFMEMORY);
  _gradient = static_cast<GeData&&>(copy);
  return true;
}

bool BlendEffectColorize::WriteSpecial(HyperFile* hf) const {
  BaseContainer bc;
  if (bc.SetData(kColorizeGradientEntry, _gradient) == nullptr)
    return Fail(hf, FILEERROR_OUTOFMEMORY);
  return hf->WriteContainer(bc);
}

bool BlendEffectColorize::EqualSpecial(const BlendLayer* other) const {
  return SameGradient(_gradient, static_cast<const BlendEffectColorize*>(other)->_gradient);
}

bool BlendEffectColorize::CopySpecial(BlendLayer* dest, AliasTrans* trans) const {
  BlendEffectColorize* d = static_cast<BlendEffectColorize*>(dest);
  _gradient.CopyData(&d->_gradient, trans);
  return d->_gradient.GetType() == _gradient.GetType();
}

// ---- CBlendLayers ----

BlendLayer* CBlendLayers::AllocObjectType(Int32 kind) {
  switch (kind) {
    case LAYERTYPE_FOLDER:
      return NewObj<BlendFolder>();
    case LAYERTYPE_SHADER:
      return NewObj<BlendShader>();
    case LAYERTYPE_BRIGHTNESSCONTRAST:
      return NewObj<BlendEffectBC>();
    case LAYERTYPE_HSL:
      return NewObj<BlendEffectHSL>();
    case LAYERTYPE_POSTERIZE:
      return NewObj<BlendEffectPosterize>();
    case LAYERTYPE_COLORIZE: {
      BlendEffectColorize* layer = NewObj<BlendEffectColorize>();
      // The default gradient is part of the layer: without it the layer is not made.
      if (layer != nullptr && layer->GetGradient().GetType() != CUSTOMDATATYPE_GRADIENT)
        DeleteObj(layer);
      return layer;
    }
    case LAYERTYPE_CLAMP:
      return NewObj<BlendEffectClamp>();
    case LAYERTYPE_CLIP:
      return NewObj<BlendEffectClip>();
    case LAYERTYPE_DISTORT:
      return NewObj<BlendEffectDistorter>();
    case LAYERTYPE_TRANSFORM:
      return NewObj<BlendEffectTransform>();
    default:
      _GeDebugBreak(__LINE__, kFile);
      return nullptr;
  }
}

BlendLayer* CBlendLayers::AllocObject() {
  _GeDebugBreak(__LINE__, kFile);
  return nullptr;
}

BlendLayer* CBlendLayers::GetLayer(Int32 index) const {
  return index >= 0 && index < _count ? _layers[index] : nullptr;
}

bool CBlendLayers::Grow() {
  Int32 step = _count / 100;
  if (step < 20) step = 20;
  // No stack comes near the Int32 limit: its layers would exhaust memory long before.
  const Int32 capacity = _count + step;
  BlendLayer** grown =
      static_cast<BlendLayer**>(MemRealloc(_layers, Int64(capacity) * Int64(sizeof(BlendLayer*))));
  if (grown == nullptr) return false;
  _layers = grown;
  _capacity = capacity;
  return true;
}

BlendLayer* CBlendLayers::Add(LayerType kind, Int32 code, bool append) {
  BlendLayer* layer = AllocObjectType(kind);
  if (layer == nullptr) return nullptr;
  if (_count == _capacity && !Grow()) {
    DeleteObj(layer);
    _GeDebugBreak(__LINE__, kFile);
    return nullptr;
  }
  if (append) {
    _layers[_count] = layer;
  } else {
    for (Int32 i = _count; i > 0; --i) _layers[i] = _layers[i - 1];
    _layers[0] = layer;
  }
  ++_count;
  layer->_attached = true;
  layer->_owner = this;
  layer->_switch1001 = false;
  layer->_code = code;
  layer->_value1002 = 0;
  return layer;
}

bool CBlendLayers::Remove(Int32 index) {
  if (index < 0 || index >= _count) return false;
  DeleteObj(_layers[index]);
  for (Int32 i = index + 1; i < _count; ++i) _layers[i - 1] = _layers[i];
  --_count;
  return true;
}

void CBlendLayers::Free() {
  for (Int32 i = 0; i < _count; ++i) DeleteObj(_layers[i]);
  DeleteMem(_layers);
  _count = 0;
  _capacity = 0;
}

bool CBlendLayers::CopyTo(CBlendLayers* dest, AliasTrans* trans) const {
  if (dest == nullptr) return false;
  for (Int32 i = 0; i < _count; ++i) {
    const BlendLayer* src = _layers[i];
    BlendLayer* layer = dest->Add(LayerType(src->_kind), src->_code, true);
    if (layer == nullptr || !src->CopyTo(layer, trans)) return false;
  }
  return dest->_count == _count;
}

Int32 CBlendLayers::Compare(const CBlendLayers* other) const {
  if (other == nullptr || other->_count != _count) return 1;
  for (Int32 i = 0; i < _count; ++i)
    if (_layers[i]->Compare(other->_layers[i]) != 0) return 1;
  return 0;
}

bool CBlendLayers::WriteElementHF(HyperFile* hf, const BlendLayer* layer) const {
  // Every write counts, the closing switch included: a stream that failed there has not stored
  // the layer.
  return layer != nullptr && hf->WriteInt32(layer->_kind) && hf->WriteBool(layer->_switch1001) &&
         hf->WriteString(layer->_name) && hf->WriteInt32(layer->_code) &&
         hf->WriteInt32(layer->_value1002) && layer->Write(hf) && hf->WriteBool(layer->_switch1000);
}

bool CBlendLayers::ReadElementCreate(HyperFile* hf, BlendLayer*& out, Int32 level) {
  out = nullptr;
  Int32 kind = 0;
  if (!hf->ReadInt32(&kind)) return false;
  if (kind < LAYERTYPE_FOLDER || kind > LAYERTYPE_TRANSFORM) {
    _GeDebugBreak(__LINE__, kFile);
    return Fail(hf, FILEERROR_WRONG_VALUE);
  }
  BlendLayer* layer = AllocObjectType(kind);
  if (layer == nullptr) return Fail(hf, FILEERROR_OUTOFMEMORY);
  layer->_owner = this;
  layer->_attached = true;
  bool ok = hf->ReadBool(&layer->_switch1001) && hf->ReadString(&layer->_name) &&
            hf->ReadInt32(&layer->_code) && hf->ReadInt32(&layer->_value1002) &&
            layer->Read(hf, level);
  if (ok) {
    if (level >= 2) {
      ok = hf->ReadBool(&layer->_switch1000);
    } else {
      layer->_switch1000 = true;
    }
  }
  if (!ok) {
    DeleteObj(layer);
    return false;
  }
  out = layer;
  return true;
}

bool CBlendLayers::Write(HyperFile* hf) const {
  if (!hf->WriteInt32(_count) || !hf->WriteInt32(BLENDLAYERS_LEVEL)) return false;
  for (Int32 i = 0; i < _count; ++i)
    if (!WriteElementHF(hf, _layers[i])) return false;
  return true;
}

bool CBlendLayers::Read(HyperFile* hf) {
  Int32 count = 0, level = 0;
  if (!hf->ReadInt32(&count) || !hf->ReadInt32(&level)) return false;
  Free();
  // The count is not trusted: layers are allocated one by one as they are read, and the
  // first that cannot be read ends the list.
  for (Int32 i = 0; i < count; ++i) {
    BlendLayer* layer = nullptr;
    if (!ReadElementCreate(hf, layer, level)) return false;
    if (_count == _capacity && !Grow()) {
      DeleteObj(layer);
      return Fail(hf, FILEERROR_OUTOFMEMORY);
    }
    _layers[_count++] = layer;
  }
  return true;
}

// ---- BlendDataTypeClass ----

CustomDataType* BlendDataTypeClass::AllocData() {
  return reinterpret_cast<CustomDataType*>(NewObj<iBlendDataType>());
}

void BlendDataTypeClass::FreeData(CustomDataType* data) {
  iBlendDataType* blend = iBlendDataType::From(data);
  DeleteObj(blend);
}

bool BlendDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest,
                                  AliasTrans* trans) {
  if (src == nullptr || dest == nullptr) return false;
  const iBlendDataType* s = iBlendDataType::From(src);
  iBlendDataType* d = iBlendDataType::From(dest);
  if (s == d) return true;
  d->layers.Free();
  d->value = s->value;
  return s->layers.CopyTo(&d->layers, trans);
}

Int32 BlendDataTypeClass::Compare(const CustomDataType* a, const CustomDataType* b) {
  if (a == nullptr || b == nullptr) return 1;
  const iBlendDataType* x = iBlendDataType::From(a);
  const iBlendDataType* y = iBlendDataType::From(b);
  return x->value == y->value && x->layers.Compare(&y->layers) == 0 ? 0 : 1;
}

bool BlendDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  if (data == nullptr) return false;
  const iBlendDataType* blend = iBlendDataType::From(data);
  return blend->layers.Write(hf) && hf->WriteInt32(blend->value);
}

bool BlendDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32) {
  if (data == nullptr) return false;
  iBlendDataType* blend = iBlendDataType::From(data);
  if (!blend->layers.Read(hf)) return false;
  hf->ReadInt32(&blend->value);
  return true;
}

}  // namespace lumora
