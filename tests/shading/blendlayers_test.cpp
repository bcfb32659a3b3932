// The layer stack: kinds and defaults, every kind through every read level, the folder bound,
// comparison through shader links (cycles and long chains included), and the custom value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

String Str(const char* s) { return String(s, STRINGENCODING_UTF8); }

// One own field of a kind: id, 'F' float, 'I' int32, 'B' bool, 'V' vector; its default; a
// value that differs from it.
struct Field {
  Int32 id;
  char kind;
  double def;
  double other;
};
struct Kind {
  Int32 kind;
  const char* name;
  std::vector<Field> fields;  // in write order, the special field left out
};

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {1, "Folder", {{2000, 'I', 1, 4}, {2001, 'F', 1.0, 0.25}, {2002, 'B', 1, 0}}},
      {2, "BlendShader", {{2000, 'I', 1, 7}, {2001, 'F', 1.0, 0.5}}},
      {3, "B/C/G", {{2000, 'F', 0, 0.1}, {2001, 'F', 0, 0.2}, {2002, 'F', 1.0, 2.5}}},
      {4,
       "HLS",
       {{2000, 'F', 0, 0.3}, {2001, 'F', 0, 0.4}, {2002, 'F', 0, 0.6}, {2003, 'B', 0, 1}}},
      {5, "Posterize", {{2001, 'F', 0.1, 0.7}, {2000, 'I', 5, 9}}},
      {6, "Colorize", {{2000, 'I', 0, 3}, {2002, 'B', 0, 1}, {2003, 'B', 0, 1}}},
      {7, "Clamp", {{2000, 'F', 0, 0.05}, {2001, 'F', 1.0, 0.95}}},
      {8, "Clip", {{2000, 'F', 0, 0.15}, {2001, 'F', 1.0, 0.85}}},
      {9,
       "Distort",
       {{2000, 'I', 13, 2},
        {2001, 'F', 0.1, 0.9},
        {2006, 'I', 3, 1},
        {2005, 'B', 0, 1},
        {2002, 'F', 5.0, 6.0},
        {2003, 'F', 1.0, 1.5},
        {2004, 'F', 1.0, 0.5}}},
      {10,
       "Transform",
       {{2000, 'F', 0, 0.75},
        {2001, 'B', 0, 1},
        {2002, 'B', 0, 1},
        {2003, 'V', 1, 2},
        {2004, 'V', 0, 3}}},
  };
  return kinds;
}

double NumberOf(const GeData& d, char kind) {
  if (kind == 'F') return d.GetFloat();
  if (kind == 'V') return d.GetVector().y;  // the test's vectors have equal components
  return d.GetInt32();
}

GeData Value(char kind, double v) {
  if (kind == 'F') return GeData(Float64(v));
  if (kind == 'V') return GeData(Vector64{v, v, v});
  return GeData(Int32(v));
}

Bytes WriteList(const CBlendLayers& list) {
  return lumtest::WriteStream([&](HyperFile& hf) { return list.Write(&hf); });
}

bool ReadList(const Bytes& bytes, CBlendLayers* list, FILEERROR* error = nullptr) {
  lumtest::MemReader r(bytes);
  const bool ok = list->Read(&r.hf);
  if (error != nullptr) *error = r.hf.GetError();
  return ok && r.AtEnd();
}

// One layer of the kind as a writer of level `level` stores it, with the "other" values of
// every field it carries: the base members, the fields the level has, and the colorize
// container and folder/shader specials with no content.
void WriteOldLayer(HyperFile& hf, const Kind& k, Int32 level) {
  hf.WriteInt32(k.kind);
  hf.WriteBool(true);
  hf.WriteString(Str("old"));
  hf.WriteInt32(77);
  hf.WriteInt32(5);
  for (const Field& f : k.fields) {
    if (k.kind == 10 && f.kind == 'V' && level < 3) continue;
    if (k.kind == 6 && f.id == 2003 && level < 1) continue;
    if (k.kind == 6 && f.id == 2002) {  // the gradient's container comes first
      BaseContainer bc;
      bc.SetData(1, GeData(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE));
      hf.WriteContainer(bc);
    }
    if (f.kind == 'F') hf.WriteFloat(f.other);
    if (f.kind == 'I') hf.WriteInt32(Int32(f.other));
    if (f.kind == 'B') hf.WriteBool(f.other != 0);
    if (f.kind == 'V') hf.WriteVector(Vector64{f.other, f.other, f.other});
  }
  if (k.kind == 1) {  // an empty child list
    hf.WriteInt32(0);
    hf.WriteInt32(level);
  }
  if (k.kind == 2) BaseLink().Write(&hf);
  if (level >= 2) hf.WriteBool(false);
}

TEST(BlendLayers, EveryKindHasItsNameDefaultsAndParameters) {
  lumtest::ResetAlerts();
  EXPECT_EQ(nullptr, CBlendLayers::AllocObjectType(0));
  EXPECT_EQ(nullptr, CBlendLayers::AllocObjectType(11));
  EXPECT_EQ(nullptr, CBlendLayers::AllocObject());
  EXPECT_EQ(3, lumtest::AlertCount());
  for (const Kind& k : Kinds()) {
    BlendLayer* layer = CBlendLayers::AllocObjectType(k.kind);
    ASSERT_NE(nullptr, layer);
    EXPECT_EQ(k.kind, layer->GetKind());
    EXPECT_TRUE(Str(k.name) == layer->GetLayerName(nullptr, false)) << k.name;
    GeData d;
    ASSERT_TRUE(layer->GetParameter(1000, d));
    EXPECT_EQ(1, d.GetInt32());
    ASSERT_TRUE(layer->GetParameter(1001, d));
    EXPECT_EQ(0, d.GetInt32());
    // A fresh layer of the kind compares equal until a field or the value 1002 differs.
    BlendLayer* fresh = CBlendLayers::AllocObjectType(k.kind);
    EXPECT_EQ(0, layer->Compare(fresh)) << k.name;
    for (const Field& f : k.fields) {
      ASSERT_TRUE(layer->GetParameter(f.id, d)) << k.name << " " << f.id;
      EXPECT_EQ(f.def, NumberOf(d, f.kind)) << k.name << " " << f.id;
      ASSERT_TRUE(layer->SetParameter(f.id, Value(f.kind, f.other)));
      ASSERT_TRUE(layer->GetParameter(f.id, d));
      EXPECT_EQ(f.other, NumberOf(d, f.kind)) << k.name << " " << f.id;
      EXPECT_EQ(f.other == f.def ? 0 : 1, fresh->Compare(layer)) << k.name << " " << f.id;
      ASSERT_TRUE(fresh->SetParameter(f.id, Value(f.kind, f.other)));
    }
    EXPECT_FALSE(layer->GetParameter(2999, d));
    EXPECT_FALSE(layer->SetParameter(2999, GeData(Int32(1))));
    ASSERT_TRUE(layer->SetParameter(1002, GeData(Int32(7))));
    ASSERT_TRUE(layer->GetParameter(1002, d));
    EXPECT_EQ(7, d.GetInt32());
    EXPECT_EQ(1, fresh->Compare(layer)) << k.name;
    DeleteObj(fresh);
    DeleteObj(layer);
  }
  // A folder answers 2003 with its first layer, a shader layer 2002 with its link.
  BlendFolder folder;
  folder.GetLayers().Add(LAYERTYPE_COLORIZE, 1, true);
  BlendShader shader;
  GeData first, link;
  ASSERT_TRUE(folder.GetParameter(2003, first) && shader.GetParameter(2002, link));
  EXPECT_EQ(folder.GetLayers().GetLayer(0), first.GetVoid());
  EXPECT_EQ(&shader.GetLink(), link.GetVoid());
  // Colorize: reading 2001 succeeds without a value; setting it takes gradients only.
  BlendEffectColorize colorize;
  GeData out(Int32(42));
  EXPECT_TRUE(colorize.GetParameter(2001, out));
  EXPECT_EQ(42, out.GetInt32());
  EXPECT_FALSE(colorize.SetParameter(2001, GeData(Int32(1))));
  EXPECT_TRUE(colorize.SetParameter(2001, GeData(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE)));
}

TEST(BlendLayers, AddPutsLayersAtEitherEndAndGrows) {
  CBlendLayers list;
  for (Int32 i = 0; i < 45; ++i) ASSERT_NE(nullptr, list.Add(LAYERTYPE_CLAMP, i, true));
  BlendLayer* front = list.Add(LAYERTYPE_CLIP, 99, false);
  ASSERT_EQ(46, list.GetCount());
  EXPECT_EQ(front, list.GetLayer(0));
  EXPECT_EQ(44, list.GetLayer(45)->GetCreationCode());
  EXPECT_EQ(&list, front->GetOwner());
  EXPECT_TRUE(front->IsAttached());
  EXPECT_TRUE(list.Remove(0));
  EXPECT_FALSE(list.Remove(45));
  EXPECT_EQ(0, list.GetLayer(0)->GetCreationCode());
}

TEST(BlendLayers, ACopyKeepsNamesSwitchesAndLinksAndComparesEqual) {
  BaseShader* shader = BaseShader::Alloc(5832);
  CBlendLayers list;
  for (const Kind& k : Kinds()) {
    BlendLayer* layer = list.Add(LayerType(k.kind), k.kind, true);
    layer->SetName(Str("renamed"));
    layer->SetParameter(1000, GeData(Int32(0)));
    layer->SetParameter(1001, GeData(Int32(1)));
    layer->SetParameter(1002, GeData(Int32(9)));
    for (const Field& f : k.fields) layer->SetParameter(f.id, Value(f.kind, f.other));
  }
  static_cast<BlendShader*>(list.GetLayer(1))->SetLink(shader);
  static_cast<BlendFolder*>(list.GetLayer(0))->GetLayers().Add(LAYERTYPE_SHADER, 0, true);
  CBlendLayers copy;
  ASSERT_TRUE(list.CopyTo(&copy, nullptr));
  EXPECT_EQ(0, list.Compare(&copy));
  EXPECT_TRUE(Str("renamed") == copy.GetLayer(3)->GetName());
  EXPECT_EQ(shader, static_cast<BlendShader*>(copy.GetLayer(1))->GetLink().GetLink());
  // Clearing the shaders empties the links, those inside folders too.
  static_cast<BlendShader*>(static_cast<BlendFolder*>(copy.GetLayer(0))->GetLayers().GetLayer(0))
      ->SetLink(shader);
  for (Int32 i = 0; i < copy.GetCount(); ++i) copy.GetLayer(i)->ClearShaders(nullptr, nullptr);
  EXPECT_TRUE(static_cast<BlendShader*>(copy.GetLayer(1))->GetLink().IsEmpty());
  EXPECT_TRUE(static_cast<BlendShader*>(
                  static_cast<BlendFolder*>(copy.GetLayer(0))->GetLayers().GetLayer(0))
                  ->GetLink()
                  .IsEmpty());
  BaseShader::Free(shader);
}

TEST(BlendLayersFile, EveryKindRoundTripsAndReadsAtEveryLevel) {
  // Level 3, as written: every field set away from its default survives byte for byte.
  CBlendLayers list;
  for (const Kind& k : Kinds()) {
    BlendLayer* layer = list.Add(LayerType(k.kind), 100 + k.kind, true);
    ASSERT_NE(nullptr, layer);
    layer->SetParameter(1000, GeData(Int32(0)));
    layer->SetParameter(1001, GeData(Int32(1)));
    layer->SetParameter(1002, GeData(Int32(k.kind * 3)));
    for (const Field& f : k.fields) layer->SetParameter(f.id, Value(f.kind, f.other));
  }
  static_cast<BlendFolder*>(list.GetLayer(0))->GetLayers().Add(LAYERTYPE_HSL, 5, true);
  const Bytes bytes = WriteList(list);
  CBlendLayers back;
  ASSERT_TRUE(ReadList(bytes, &back));
  EXPECT_EQ(0, list.Compare(&back));
  EXPECT_EQ(bytes, WriteList(back));
  EXPECT_EQ(1, static_cast<BlendFolder*>(back.GetLayer(0))->GetLayers().GetCount());

  // Levels 0 to 2 from bytes an older writer stored.
  for (Int32 level = 0; level <= 2; ++level) {
    for (const Kind& k : Kinds()) {
      const Bytes old = lumtest::WriteStream([&](HyperFile& hf) {
        hf.WriteInt32(1);
        hf.WriteInt32(level);
        WriteOldLayer(hf, k, level);
        return true;
      });
      CBlendLayers read;
      ASSERT_TRUE(ReadList(old, &read)) << k.name << " level " << level;
      BlendLayer* layer = read.GetLayer(0);
      GeData d;
      layer->GetParameter(1000, d);
      EXPECT_EQ(level < 2 ? 1 : 0, d.GetInt32()) << "switch 1000 is on below level 2";
      layer->GetParameter(1001, d);
      EXPECT_EQ(1, d.GetInt32());
      EXPECT_EQ(77, layer->GetCreationCode());
      EXPECT_TRUE(Str("old") == layer->GetName());
      for (const Field& f : k.fields) {
        const bool absent =
            (k.kind == 10 && f.kind == 'V') || (k.kind == 6 && f.id == 2003 && level < 1);
        layer->GetParameter(f.id, d);
        EXPECT_EQ(absent ? f.def : f.other, NumberOf(d, f.kind)) << k.name << " " << f.id;
      }
    }
  }
}

TEST(BlendLayersFile, PosterizeWritesItsFloatFirst) {
  CBlendLayers list;
  list.Add(LAYERTYPE_POSTERIZE, 0, true);
  const std::string hex = lumtest::ToHex(WriteList(list));
  // value 1002, then Float 0.1, then Int32 5, then switch 1000.
  EXPECT_NE(std::string::npos,
            hex.find(lumtest::NormHex("0f00000000 133fb999999999999a 0f00000005 1501")))
      << hex;
}

TEST(BlendLayersFile, AWriteThatFailsAnywhereFailsTheList) {
  // The stream runs out of room inside every value in turn, the last layer's closing switch
  // included: the list's write must say so.
  CBlendLayers list;
  list.Add(LAYERTYPE_CLAMP, 0, true);
  list.Add(LAYERTYPE_POSTERIZE, 0, true);
  const Int64 size = Int64(WriteList(list).size());
  for (Int64 room = 0; room < size; ++room) {
    lumtest::FullFileWriter w(room);
    EXPECT_FALSE(list.Write(&w.hf)) << room;
    EXPECT_EQ(FILEERROR_WRITE, w.hf.GetError()) << room;
  }
  lumtest::FullFileWriter w(size);
  EXPECT_TRUE(list.Write(&w.hf));
}

TEST(BlendLayersFile, ColorizeWithoutEntryOneKeepsItsDefaultGradient) {
  for (int variant = 0; variant < 3; ++variant) {
    const Bytes bytes = lumtest::WriteStream([&](HyperFile& hf) {
      hf.WriteInt32(1);
      hf.WriteInt32(3);
      hf.WriteInt32(LAYERTYPE_COLORIZE);
      hf.WriteBool(false);
      hf.WriteString(Str("c"));
      hf.WriteInt32(0);
      hf.WriteInt32(0);
      hf.WriteInt32(2);
      BaseContainer bc;
      if (variant == 1) bc.SetInt32(2, 5);  // entry 1 missing
      if (variant == 2) bc.SetInt32(1, 5);  // entry 1 not a gradient
      hf.WriteContainer(bc);
      hf.WriteBool(true);
      hf.WriteBool(true);
      hf.WriteBool(true);
      return true;
    });
    CBlendLayers list;
    FILEERROR error = FILEERROR_NONE;
    const bool ok = ReadList(bytes, &list, &error);
    if (variant == 2) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(FILEERROR_WRONG_VALUE, error);
      EXPECT_EQ(0, list.GetCount());
      continue;
    }
    ASSERT_TRUE(ok) << variant;
    auto* colorize = static_cast<BlendEffectColorize*>(list.GetLayer(0));
    EXPECT_EQ(CUSTOMDATATYPE_GRADIENT, colorize->GetGradient().GetType());
  }
}

// A stack of `depth` folders, each the only layer of its parent's list.
Bytes NestedFolders(Int32 depth) {
  return lumtest::WriteStream([&](HyperFile& hf) {
    for (Int32 i = 0; i < depth; ++i) {
      hf.WriteInt32(1);
      hf.WriteInt32(3);
      hf.WriteInt32(LAYERTYPE_FOLDER);
      hf.WriteBool(false);
      hf.WriteString(String());
      hf.WriteInt32(0);
      hf.WriteInt32(0);
      hf.WriteInt32(1);
      hf.WriteFloat(1.0);
      hf.WriteBool(true);
    }
    hf.WriteInt32(0);
    hf.WriteInt32(3);
    for (Int32 i = 0; i < depth; ++i) hf.WriteBool(true);
    return true;
  });
}

TEST(BlendLayersFile, FolderNestingIsBoundedLikeContainers) {
  CBlendLayers deep;
  EXPECT_TRUE(ReadList(NestedFolders(PRIVATECHUNK_MAX_NESTING), &deep));
  CBlendLayers deeper;
  FILEERROR error = FILEERROR_NONE;
  EXPECT_FALSE(ReadList(NestedFolders(PRIVATECHUNK_MAX_NESTING + 1), &deeper, &error));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, error);
  // So does a layer of a kind no layer class has.
  for (Int32 kind : {LAYERTYPE_FOLDER - 1, LAYERTYPE_TRANSFORM + 1}) {
    CBlendLayers unknown;
    error = FILEERROR_NONE;
    EXPECT_FALSE(ReadList(lumtest::WriteStream([&](HyperFile& hf) {
                            return hf.WriteInt32(1) && hf.WriteInt32(3) && hf.WriteInt32(kind);
                          }),
                          &unknown, &error));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, error) << kind;
  }
}

TEST(BlendLayersFile, TheCustomValueRoundTripsThroughGeData) {
  GeData value(CUSTOMDATATYPE_BLEND, DEFAULTVALUE);
  ASSERT_EQ(CUSTOMDATATYPE_BLEND, value.GetType());
  iBlendDataType* blend = iBlendDataType::From(value.GetCustomDataType(CUSTOMDATATYPE_BLEND));
  blend->value = 7;
  blend->layers.Add(LAYERTYPE_TRANSFORM, 1, true)->SetParameter(2003, GeData(Vector64{2, 3, 4}));
  blend->layers.Add(LAYERTYPE_COLORIZE, 2, true);
  const Bytes bytes = lumtest::WriteStream([&](HyperFile& hf) { return hf.WriteGeData(value); });
  lumtest::MemReader r(bytes);
  GeData back;
  ASSERT_TRUE(r.hf.ReadGeData(&back));
  EXPECT_TRUE(back == value);
  EXPECT_EQ(bytes, lumtest::WriteStream([&](HyperFile& hf) { return hf.WriteGeData(back); }));
  GeData copy;
  value.CopyData(&copy, nullptr);
  EXPECT_TRUE(copy == value);
  iBlendDataType::From(copy.GetCustomDataType(CUSTOMDATATYPE_BLEND))->value = 2;
  EXPECT_FALSE(copy == value);
}

// Comparison: folders by their children, shader layers through the shaders they link to.
TEST(BlendLayersCompare, FoldersAndShaderLinks) {
  CBlendLayers a, b;
  auto* fa = static_cast<BlendFolder*>(a.Add(LAYERTYPE_FOLDER, 0, true));
  auto* fb = static_cast<BlendFolder*>(b.Add(LAYERTYPE_FOLDER, 0, true));
  fa->GetLayers().Add(LAYERTYPE_CLIP, 0, true);
  EXPECT_NE(0, a.Compare(&b));
  EXPECT_EQ(0, fa->CompareStructure(fb, false));
  fb->GetLayers().Add(LAYERTYPE_CLIP, 0, true);
  EXPECT_EQ(0, a.Compare(&b));

  BaseShader* s = BaseShader::Alloc(5832);
  BaseShader* t = BaseShader::Alloc(5832);
  s->SetName(Str("noise"));
  auto* la = static_cast<BlendShader*>(a.Add(LAYERTYPE_SHADER, 0, true));
  auto* lb = static_cast<BlendShader*>(b.Add(LAYERTYPE_SHADER, 0, true));
  la->SetLink(s);
  EXPECT_NE(0, a.Compare(&b)) << "a link against an empty one";
  lb->SetLink(t);
  EXPECT_EQ(0, a.Compare(&b));
  t->GetDataInstance()->SetFloat(5, 1.0);
  s->GetDataInstance()->SetFloat(5, 2.0);
  EXPECT_NE(0, a.Compare(&b));
  s->GetDataInstance()->SetFloat(5, 1.0);
  lb->SetStored(3);
  EXPECT_NE(0, a.Compare(&b));
  lb->SetStored(-1);
  EXPECT_TRUE(Str("noise") == la->GetLayerName(nullptr, false));
  BaseShader::Free(s);
  EXPECT_TRUE(Str("BlendShader") == la->GetLayerName(nullptr, false));
  BaseShader::Free(t);
}

// Two one-layer stacks that differ in one common member of the layer, or in their count.
TEST(BlendLayersCompare, EachCommonMemberOnItsOwnMakesStacksDiffer) {
  const struct {
    const char* what;
    void (*change)(CBlendLayers&);
  } rows[] = {
      {"name", [](CBlendLayers& l) { l.GetLayer(0)->SetName(Str("other")); }},
      {"switch 1000", [](CBlendLayers& l) { l.GetLayer(0)->SetParameter(1000, GeData(Int32(0))); }},
      {"switch 1001", [](CBlendLayers& l) { l.GetLayer(0)->SetParameter(1001, GeData(Int32(1))); }},
      {"creation code", [](CBlendLayers& l) { l.Remove(0), l.Add(LAYERTYPE_CLAMP, 2, true); }},
      {"kind", [](CBlendLayers& l) { l.Remove(0), l.Add(LAYERTYPE_CLIP, 1, true); }},
      {"count", [](CBlendLayers& l) { l.Add(LAYERTYPE_CLAMP, 1, true); }},
  };
  for (const auto& r : rows) {
    CBlendLayers a, b;
    a.Add(LAYERTYPE_CLAMP, 1, true);
    b.Add(LAYERTYPE_CLAMP, 1, true);
    ASSERT_EQ(0, a.Compare(&b));
    r.change(b);
    EXPECT_EQ(1, a.Compare(&b)) << r.what;
    EXPECT_EQ(1, a.GetLayer(0)->Compare(nullptr));
    EXPECT_EQ(1, a.GetLayer(0)->CompareStructure(nullptr, false));
  }
}

// A shader whose container holds a stack with one shader layer linking to next.
void LinkThroughStack(BaseShader* from, BaseShader* next) {
  GeData value(CUSTOMDATATYPE_BLEND, DEFAULTVALUE);
  auto* layer =
      static_cast<BlendShader*>(iBlendDataType::From(value.GetCustomDataType(CUSTOMDATATYPE_BLEND))
                                    ->layers.Add(LAYERTYPE_SHADER, 0, true));
  layer->SetLink(next);
  from->GetDataInstance()->SetData(1000, value);
}

TEST(BlendLayersCompare, CyclesAndLongChainsThroughStacksEnd) {
  // Two rings of three shaders; and two chains long enough to exhaust a recursive walk.
  for (Int32 n : {3, 60000}) {
    const bool ring = n == 3;
    std::vector<BaseShader*> s(n), t(n);
    for (Int32 i = 0; i < n; ++i) {
      s[i] = BaseShader::Alloc(1011123);
      t[i] = BaseShader::Alloc(1011123);
    }
    for (Int32 i = 0; i < n; ++i) {
      const Int32 next = i + 1 < n ? i + 1 : (ring ? 0 : -1);
      if (next < 0) continue;
      LinkThroughStack(s[i], s[next]);
      LinkThroughStack(t[i], t[next]);
    }
    EXPECT_TRUE(s[0]->Compare(t[0])) << n;
    t[n - 1]->GetDataInstance()->SetInt32(7, 1);
    s[n - 1]->GetDataInstance()->SetInt32(7, 2);
    EXPECT_FALSE(s[0]->Compare(t[0])) << n;
    for (Int32 i = 0; i < n; ++i) {
      BaseShader::Free(s[i]);
      BaseShader::Free(t[i]);
    }
  }
}

}  // namespace
