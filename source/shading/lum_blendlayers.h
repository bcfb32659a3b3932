// The layer stack of the layer shader: shader layers that take their colour from a shader node,
// folders that group further layers, and eight kinds of effect layer. The stack is data only;
// nothing here blends pixels. It travels as the custom value CUSTOMDATATYPE_BLEND of GeData
// (iBlendDataType, served by BlendDataTypeClass).
//
// Every layer has the common members (name, kind, attached, switches 1000 and 1001, creation
// code, value 1002) and the fields of its kind, numbered from 2000 (the kind table in
// lum_blendlayers.cpp gives ids, kinds, defaults and the write order; doc/scene-format.md the
// bytes). Parameters: 1000, 1001 and 1002 for every kind (as Int32; a non-zero Int32 sets a
// switch), then the kind's own; unknown ids give false.
//
// Reading is bounded: a folder nested deeper than PRIVATECHUNK_MAX_NESTING (the container
// reader's limit; counted over all stacks being read, one inside another's colorize container
// included) fails with FILEERROR_WRONG_VALUE, so that no file exhausts the stack.
//
// Comparison follows shader layers into the shaders they link to (BaseShader::Compare). One
// comparison of layer stacks compares each shader of the first side at most once and never
// nests shader comparisons: a shader pair met while one is running is queued and compared by
// the outermost stack comparison, so that any link graph, cycles included, is compared in time
// linear in the number of shaders and with bounded stack.
//
// This library's additions (for building a stack in a program): CBlendLayers::GetCount,
// GetLayer, Remove; BlendFolder::GetLayers; BlendShader::GetLink, SetLink, GetStored and
// SetStored; BlendEffectColorize::GetGradient; BlendLayer's accessors of the common members and
// of its own fields by parameter id (GetParameter / SetParameter).
#ifndef LUM_BLENDLAYERS_H
#define LUM_BLENDLAYERS_H

#include "foundation/lum_string.h"
#include "lum_types.h"
#include "values/lum_baselink.h"
#include "values/lum_gedata.h"

namespace lumora {

class BaseDocument;
class BaseList2D;
class CBlendLayers;

enum LayerType : Int32 {
  LAYERTYPE_FOLDER = 1,
  LAYERTYPE_SHADER = 2,
  LAYERTYPE_BRIGHTNESSCONTRAST = 3,
  LAYERTYPE_HSL = 4,
  LAYERTYPE_POSTERIZE = 5,
  LAYERTYPE_COLORIZE = 6,
  LAYERTYPE_CLAMP = 7,
  LAYERTYPE_CLIP = 8,
  LAYERTYPE_DISTORT = 9,
  LAYERTYPE_TRANSFORM = 10,
};

// Common parameter ids.
constexpr Int32 BLENDLAYER_SWITCH1000 = 1000;
constexpr Int32 BLENDLAYER_SWITCH1001 = 1001;
constexpr Int32 BLENDLAYER_VALUE1002 = 1002;
// The level a list is written under by this library.
constexpr Int32 BLENDLAYERS_LEVEL = 3;

// The most fields of a kind (distort has seven).
constexpr Int32 BLENDLAYER_MAXFIELDS = 7;

class BlendLayer {
 public:
  // A layer of the kind with the defaults of its kind (see AllocObjectType).
  explicit BlendLayer(Int32 kind);
  virtual ~BlendLayer() = default;
  BlendLayer(const BlendLayer&) = delete;
  BlendLayer& operator=(const BlendLayer&) = delete;

  // The kind's own fields, as read (at the list's level) and written.
  virtual bool Read(HyperFile* hf, Int32 level);
  virtual bool Write(HyperFile* hf) const;
  // Non-zero when any common member (kind, name, attached, the switches, creation code,
  // value 1002) or any own field differs.
  virtual Int32 Compare(const BlendLayer* other) const;
  // Non-zero when kind or name differ.
  virtual Int32 CompareStructure(const BlendLayer* other, bool) const;
  // The kind's own fields into dest (a layer of the same kind); false when memory runs out.
  virtual bool CopyTo(BlendLayer* dest, AliasTrans* trans) const;
  virtual String GetLayerName(BaseDocument* doc, bool);
  // Nothing for layers without shaders.
  virtual void ClearShaders(BaseList2D*, BaseDocument*) {}
  virtual bool GetParameter(Int32 id, GeData& out) const;
  virtual bool SetParameter(Int32 id, const GeData& value);

  Int32 GetKind() const { return _kind; }
  const String& GetName() const { return _name; }
  void SetName(const String& name) { _name = name; }
  CBlendLayers* GetOwner() const { return _owner; }
  bool IsAttached() const { return _attached; }
  Int32 GetCreationCode() const { return _code; }

 protected:
  friend class CBlendLayers;

  // The hooks of the kinds with a field that is not a number (folder children, shader link,
  // colorize gradient): read, written, compared and copied at that field's place in the order.
  virtual bool ReadSpecial(HyperFile*, Int32) { return true; }
  virtual bool WriteSpecial(HyperFile*) const { return true; }
  virtual bool EqualSpecial(const BlendLayer*) const { return true; }
  virtual bool CopySpecial(BlendLayer*, AliasTrans*) const { return true; }

  // The value of field i (table order); vectors keep x, y, z in _vec.
  Float64 _num[BLENDLAYER_MAXFIELDS] = {};
  Vector64 _vec[BLENDLAYER_MAXFIELDS];

  CBlendLayers* _owner = nullptr;
  String _name;
  Int32 _kind;
  bool _attached = true;
  bool _switch1001 = false;
  Int32 _code = 0;
  Int32 _value1002 = 0;
  bool _switch1000 = true;
};

// An ordered, growable array of owned layers.
class CBlendLayers {
 public:
  CBlendLayers() = default;
  ~CBlendLayers() { Free(); }
  CBlendLayers(const CBlendLayers&) = delete;
  CBlendLayers& operator=(const CBlendLayers&) = delete;

  // A new layer of the kind with its defaults; null for an unknown kind (debug alert) or when
  // out of memory.
  static BlendLayer* AllocObjectType(Int32 kind);
  // Only raises the debug alert: a layer needs a kind.
  static BlendLayer* AllocObject();

  // A new layer of the kind at the end (append) or the front; attached, owned by this list,
  // switch 1001 false, the creation code, value 1002 0. Null when out of memory.
  BlendLayer* Add(LayerType kind, Int32 code, bool append);
  // Appends dest's copies of every layer (kind, creation code, then the layer's CopyTo); true
  // when dest then holds as many layers as this list.
  bool CopyTo(CBlendLayers* dest, AliasTrans* trans) const;
  // 0 when equal (same count, every pair equal), else 1.
  Int32 Compare(const CBlendLayers* other) const;
  // Destroys every layer.
  void Free();

  // One layer on disk.
  bool WriteElementHF(HyperFile* hf, const BlendLayer* layer) const;
  // One layer from disk, created, attached and owned by this list (not yet in it); false (and
  // out null) when it cannot be read.
  bool ReadElementCreate(HyperFile* hf, BlendLayer*& out, Int32 level);
  // The list on disk: Int32 count, Int32 level (BLENDLAYERS_LEVEL), the layers.
  bool Write(HyperFile* hf) const;
  // Replaces the layers by those of the file's list; on failure the layers read so far stay.
  bool Read(HyperFile* hf);

  // This library's additions.
  Int32 GetCount() const { return _count; }
  // Null for an index outside 0 .. count - 1.
  BlendLayer* GetLayer(Int32 index) const;
  // Destroys the layer at index; false for an index outside the list.
  bool Remove(Int32 index);

 private:
  friend class BlendFolder;
  bool Grow();

  BlendLayer** _layers = nullptr;
  Int32 _count = 0;
  Int32 _capacity = 0;
};

class BlendFolder : public BlendLayer {
 public:
  BlendFolder();
  bool GetParameter(Int32 id, GeData& out) const override;
  // The children's.
  void ClearShaders(BaseList2D* node, BaseDocument* doc) override;
  // The child layers.
  CBlendLayers& GetLayers() { return _children; }
  const CBlendLayers& GetLayers() const { return _children; }

 protected:
  bool ReadSpecial(HyperFile* hf, Int32 level) override;
  bool WriteSpecial(HyperFile* hf) const override;
  bool EqualSpecial(const BlendLayer* other) const override;
  bool CopySpecial(BlendLayer* dest, AliasTrans* trans) const override;

 private:
  CBlendLayers _children;
};

class BlendShader : public BlendLayer {
 public:
  BlendShader();
  // The linked node's name, or "BlendShader" when the link resolves to nothing; stored as the
  // layer's name too.
  String GetLayerName(BaseDocument* doc, bool) override;
  // Empties the link.
  void ClearShaders(BaseList2D*, BaseDocument*) override { _link.Clear(); }
  bool GetParameter(Int32 id, GeData& out) const override;

  BaseLink& GetLink() { return _link; }
  const BaseLink& GetLink() const { return _link; }
  // Points the link at node (null empties it).
  void SetLink(BaseList2D* node);
  Int32 GetStored() const { return _stored; }
  void SetStored(Int32 value) { _stored = value; }

 protected:
  bool ReadSpecial(HyperFile* hf, Int32 level) override;
  bool WriteSpecial(HyperFile* hf) const override;
  bool EqualSpecial(const BlendLayer* other) const override;
  bool CopySpecial(BlendLayer* dest, AliasTrans* trans) const override;

 private:
  BaseLink _link;
  Int32 _stored = -1;  // compared, never written
};

class BlendEffectColorize : public BlendLayer {
 public:
  BlendEffectColorize();
  // 2001: true, out untouched.
  bool GetParameter(Int32 id, GeData& out) const override;
  // 2001 takes a gradient value only.
  bool SetParameter(Int32 id, const GeData& value) override;
  // The gradient value (CUSTOMDATATYPE_GRADIENT).
  const GeData& GetGradient() const { return _gradient; }

 protected:
  bool ReadSpecial(HyperFile* hf, Int32 level) override;
  bool WriteSpecial(HyperFile* hf) const override;
  bool EqualSpecial(const BlendLayer* other) const override;
  bool CopySpecial(BlendLayer* dest, AliasTrans* trans) const override;

 private:
  GeData _gradient;
};

// The effect kinds without a special field.
#define LUM_BLEND_EFFECT(Name, Kind) \
  class Name : public BlendLayer {   \
   public:                           \
    Name() : BlendLayer(Kind) {}     \
  }
LUM_BLEND_EFFECT(BlendEffectBC, LAYERTYPE_BRIGHTNESSCONTRAST);
LUM_BLEND_EFFECT(BlendEffectHSL, LAYERTYPE_HSL);
LUM_BLEND_EFFECT(BlendEffectPosterize, LAYERTYPE_POSTERIZE);
LUM_BLEND_EFFECT(BlendEffectClamp, LAYERTYPE_CLAMP);
LUM_BLEND_EFFECT(BlendEffectClip, LAYERTYPE_CLIP);
LUM_BLEND_EFFECT(BlendEffectDistorter, LAYERTYPE_DISTORT);
LUM_BLEND_EFFECT(BlendEffectTransform, LAYERTYPE_TRANSFORM);
#undef LUM_BLEND_EFFECT

// The object a CUSTOMDATATYPE_BLEND value owns (GeData::GetCustomDataType hands it out as
// CustomDataType*; iBlendDataType::From turns it back).
class iBlendDataType {
 public:
  static iBlendDataType* From(CustomDataType* data) {
    return reinterpret_cast<iBlendDataType*>(data);
  }
  static const iBlendDataType* From(const CustomDataType* data) {
    return reinterpret_cast<const iBlendDataType*>(data);
  }

  CBlendLayers layers;
  Int32 value = 2;  // written after the layers
};

}  // namespace lumora

#endif  // LUM_BLENDLAYERS_H
