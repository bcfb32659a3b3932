// Shader nodes: creation, a material-like tree of shaders in a node's shader list through the
// file and through cloning, kept plug-in chunks, and the structural comparison over link graphs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../scene/scene_support.h"
#include "lumora.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

String Str(const char* s) { return String(s, STRINGENCODING_UTF8); }

RootShader* ShaderList(BaseList2D& node) {
  return static_cast<RootShader*>(node.GetAttachedList(ATTACHEDLIST_SHADERS));
}

// A layer shader with two child shaders (a noise and a variation shader) whose stack links to
// both, in the shader list of `owner`; a second top shader of a level-5 kind after it.
BaseShader* BuildMaterial(BaseList2D& owner) {
  BaseShader* layer = BaseShader::Alloc(1011123);
  BaseShader* noise = BaseShader::Alloc(1011116);
  BaseShader* variation = BaseShader::Alloc(TYPE_VARIATIONSHADER);
  layer->SetName(Str("Layer"));
  noise->SetName(Str("Noise"));
  noise->GetDataInstance()->SetFloat(2000, 0.5);
  noise->InsertUnderLast(layer);
  variation->InsertUnderLast(layer);
  GeData value(CUSTOMDATATYPE_BLEND, DEFAULTVALUE);
  CBlendLayers& stack = iBlendDataType::From(value.GetCustomDataType(CUSTOMDATATYPE_BLEND))->layers;
  static_cast<BlendShader*>(stack.Add(LAYERTYPE_SHADER, 1, true))->SetLink(noise);
  auto* folder = static_cast<BlendFolder*>(stack.Add(LAYERTYPE_FOLDER, 2, true));
  static_cast<BlendShader*>(folder->GetLayers().Add(LAYERTYPE_SHADER, 3, true))->SetLink(variation);
  folder->GetLayers().Add(LAYERTYPE_COLORIZE, 4, true);
  layer->GetDataInstance()->SetData(1000, value);
  EXPECT_TRUE(owner.InsertShader(layer, nullptr));
  BaseShader* second = BaseShader::Alloc(TYPE_SHADER_LEVEL5);
  EXPECT_TRUE(owner.InsertShader(second, layer));
  return layer;
}

// The shader's stack's first layer link (a shader layer).
BaseList2D* FirstLayerLink(BaseShader* shader) {
  const GeData* value = shader->GetDataInstance()->GetData(1000);
  const iBlendDataType* blend =
      iBlendDataType::From(value->GetCustomDataType(CUSTOMDATATYPE_BLEND));
  return static_cast<BlendShader*>(blend->layers.GetLayer(0))->GetLink().GetLink();
}

TEST(Shader, AllocGivesTheEntriesAndOnlyVariationShadersData) {
  BaseShader* plain = BaseShader::Alloc(5832);
  BaseShader* variation = BaseShader::Alloc(TYPE_VARIATIONSHADER);
  ASSERT_NE(nullptr, plain);
  ASSERT_NE(nullptr, variation);
  EXPECT_EQ(nullptr, plain->GetNodeData());
  ASSERT_NE(nullptr, variation->GetNodeData());
  EXPECT_EQ(variation, variation->GetNodeData()->GetNode());
  EXPECT_EQ(2, plain->GetDataInstance()->GetCount());
  EXPECT_EQ(GeData(0.0), *plain->GetDataInstance()->GetData(SHADER_ENTRY_A));
  EXPECT_EQ(GeData(0.0), *plain->GetDataInstance()->GetData(SHADER_ENTRY_B));
  for (Int32 id : {0, TYPE_SHADER, 5832, TYPE_BASELIST2D}) EXPECT_TRUE(plain->IsInstanceOf(id));
  EXPECT_FALSE(plain->IsInstanceOf(5155));
  EXPECT_EQ(5832, plain->GetType());
  EXPECT_EQ(TYPE_SHADER, plain->GetInstanceType());
  BaseShader::Free(plain);
  BaseShader::Free(variation);
  EXPECT_EQ(nullptr, variation);
}

TEST(ShaderFile, AMaterialTreeRoundTripsByteIdentical) {
  PluginNode owner(12345);
  BuildMaterial(owner);
  const Bytes bytes = scenetest::WriteNode(owner);
  PluginNode back;
  ASSERT_TRUE(scenetest::ReadNode(bytes, back));
  EXPECT_EQ(scenetest::MaskIdentities(bytes), scenetest::MaskIdentities(scenetest::WriteNode(back)))
      << scenetest::FirstDifference(scenetest::MaskIdentities(bytes),
                                    scenetest::MaskIdentities(scenetest::WriteNode(back)));
  RootShader* list = ShaderList(back);
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(2, list->GetCount());
  BaseShader* layer = list->GetFirst();
  EXPECT_EQ(1011123, layer->GetType());
  EXPECT_EQ(TYPE_SHADER, layer->GetInstanceType());
  EXPECT_EQ(TYPE_SHADER_LEVEL5, layer->GetNext()->GetType());
  ASSERT_EQ(2, layer->GetChildren()->GetCount());
  EXPECT_EQ(TYPE_VARIATIONSHADER, layer->GetDown()->GetNext()->GetType());
  EXPECT_NE(nullptr, layer->GetDown()->GetNext()->GetNodeData());
  // Above the top shader is its list's owner, which is no shader.
  EXPECT_EQ(layer, layer->GetDown()->GetUp());
  EXPECT_EQ(&back, layer->GeListNode::GetUp());
  EXPECT_EQ(nullptr, layer->GetUp());
  EXPECT_EQ(layer->GetDown(), FirstLayerLink(layer)) << "the stack's link is reconnected";
  EXPECT_TRUE(ShaderList(owner)->GetFirst()->Compare(layer));
}

TEST(ShaderFile, AShaderOfThePluginNodeKindKeepsItsChildren) {
  PluginNode owner(12345);
  BaseShader* shader = BaseShader::Alloc(TYPE_PLUGINNODE);
  BaseShader* child = BaseShader::Alloc(1011116);
  ASSERT_TRUE(child->InsertUnderLast(shader));
  ASSERT_TRUE(owner.InsertShader(shader, nullptr));
  const Bytes bytes = scenetest::WriteNode(owner);
  PluginNode back;
  ASSERT_TRUE(scenetest::ReadNode(bytes, back));
  BaseShader* read = ShaderList(back)->GetFirst();
  ASSERT_NE(nullptr, read);
  EXPECT_EQ(TYPE_PLUGINNODE, read->GetType());
  ASSERT_NE(nullptr, read->GetDown());
  EXPECT_EQ(1011116, read->GetDown()->GetType());
  EXPECT_EQ(scenetest::MaskIdentities(bytes),
            scenetest::MaskIdentities(scenetest::WriteNode(back)));
}

TEST(ShaderFile, PluginChunkLevelsFollowTheKind) {
  for (Int32 type : {TYPE_SHADER_LEVEL5, TYPE_SHADER_LEVEL6, 5832}) {
    BaseShader* shader = BaseShader::Alloc(type);
    const Bytes bytes = scenetest::WriteNode(*shader);
    // Chunk 110064, its level, Int32 type.
    const char* level = type == TYPE_SHADER_LEVEL5   ? "00000005"
                        : type == TYPE_SHADER_LEVEL6 ? "00000006"
                                                     : "00000000";
    const std::string chunk = lumtest::NormHex(std::string("01 0001adf0") + level);
    EXPECT_NE(std::string::npos, lumtest::ToHex(bytes).find(chunk)) << type;
    BaseShader::Free(shader);
  }
}

TEST(ShaderFile, AKindWithoutDataClassKeepsItsChunk) {
  // A list with one shader of an unknown kind whose plug-in chunk (level 4) carries contents.
  const Bytes bytes = lumtest::WriteStream([](HyperFile& hf) {
    return hf.WriteChunkStart(1, 0) && hf.WriteChunkStart(CHUNK_NODELIST, 0) &&
           hf.WriteChunkStart(TYPE_SHADER, 0) && hf.WriteChunkStart(CHUNK_PLUGINDATA, 4) &&
           hf.WriteInt32(4242) && hf.WriteInt32(0) && hf.WriteString(Str("odd")) &&
           hf.WriteInt32(77) && hf.WriteFloat(1.5) && hf.WriteChunkEnd() && hf.WriteChunkEnd() &&
           hf.WriteChunkEnd() && hf.WriteChunkEnd();
  });
  RootShader list;
  ASSERT_TRUE(scenetest::ReadNode(bytes, list));
  ASSERT_EQ(1, list.GetCount());
  EXPECT_EQ(4242, list.GetFirst()->GetType());
  EXPECT_TRUE(Str("odd") == list.GetFirst()->GetName());
  // The shader's own chunks come first; the kept chunk follows them unchanged.
  const std::string written = lumtest::ToHex(scenetest::WriteNode(list));
  const std::string kept = lumtest::ToHex(bytes).substr(
      lumtest::ToHex(bytes).find(lumtest::NormHex("01 0001adf0 00000004")));
  EXPECT_NE(std::string::npos, written.find(kept.substr(0, kept.size() - 6))) << written;
  RootShader copy;
  ASSERT_TRUE(list.CopyTo(&copy, COPYFLAGS_IDENTITY, nullptr));
  EXPECT_EQ(written, lumtest::ToHex(scenetest::WriteNode(copy)));
}

TEST(ShaderClone, ChildrenUnlessNoChildrenAndLinksFollowTheCopies) {
  PluginNode owner(12345);
  BaseShader* layer = BuildMaterial(owner);
  auto* clone = static_cast<BaseShader*>(layer->GetClone(COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(1011123, clone->GetType());
  ASSERT_EQ(2, clone->GetChildren()->GetCount());
  EXPECT_EQ(clone->GetDown(), FirstLayerLink(clone));
  EXPECT_NE(nullptr, clone->GetDown()->GetNext()->GetNodeData());
  EXPECT_TRUE(layer->Compare(clone));
  auto* bare = static_cast<BaseShader*>(layer->GetClone(COPYFLAGS_NO_CHILDREN, nullptr));
  ASSERT_NE(nullptr, bare);
  EXPECT_EQ(0, bare->GetChildren()->GetCount());
  EXPECT_EQ(layer->GetDown(), FirstLayerLink(bare)) << "links to uncopied shaders stay";
  GeListNode* c = clone;
  DeleteObj(c);
  c = bare;
  DeleteObj(c);

  PluginNode copy(12345);
  ASSERT_TRUE(owner.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, ShaderList(copy));
  EXPECT_EQ(2, ShaderList(copy)->GetCount());

  // A copy into a shader of another kind takes the kind and a data of its class; back into a
  // kind without data class it drops the data.
  BaseShader* variation = BaseShader::Alloc(TYPE_VARIATIONSHADER);
  BaseShader* plain = BaseShader::Alloc(5832);
  ASSERT_TRUE(variation->CopyTo(plain, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(TYPE_VARIATIONSHADER, plain->GetType());
  ASSERT_NE(nullptr, plain->GetNodeData());
  EXPECT_EQ(plain, plain->GetNodeData()->GetNode());
  EXPECT_EQ(variation->GetNodeData()->GetType(), plain->GetNodeData()->GetType());
  BaseShader* other = BaseShader::Alloc(5832);
  ASSERT_TRUE(other->CopyTo(plain, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(5832, plain->GetType());
  EXPECT_EQ(nullptr, plain->GetNodeData());
  for (BaseShader* s : {variation, plain, other}) BaseShader::Free(s);
}

TEST(ShaderCompare, EntriesLinksAndCycles) {
  BaseShader* a = BaseShader::Alloc(5832);
  BaseShader* b = BaseShader::Alloc(5832);
  b->GetDataInstance()->SetInt32(9, 1);
  EXPECT_TRUE(a->Compare(b)) << "an entry only the second one has is not looked at";
  EXPECT_FALSE(b->Compare(a));
  EXPECT_FALSE(a->Compare(nullptr));

  // Links into shaders; a ring a -> x -> a against b -> y -> b.
  BaseShader* x = BaseShader::Alloc(5832);
  BaseShader* y = BaseShader::Alloc(5832);
  BaseLink l;
  auto link = [&](BaseShader* from, Int32 id, BaseList2D* to) {
    l.SetLink(to);
    from->GetDataInstance()->SetData(id, GeData(l));
  };
  a->GetDataInstance()->SetInt32(9, 1);
  link(a, 20, x);
  link(x, 20, a);
  link(b, 20, y);
  link(y, 20, b);
  EXPECT_TRUE(a->Compare(b));
  y->GetDataInstance()->SetFloat(3, 1.0);
  x->GetDataInstance()->SetFloat(3, 2.0);
  EXPECT_FALSE(a->Compare(b));
  x->GetDataInstance()->SetFloat(3, 1.0);
  // A link against a value that is no link; a link to a node that is no shader.
  b->GetDataInstance()->SetInt32(21, 0);
  link(a, 21, x);
  EXPECT_FALSE(a->Compare(b));
  a->GetDataInstance()->RemoveData(21);
  PluginNode other;
  link(b, 20, &other);
  EXPECT_FALSE(a->Compare(b));

  // Nested containers compare entry by entry; two links to the same shader, or two empty links,
  // are equal.
  BaseShader* shared = BaseShader::Alloc(5832);
  shared->GetDataInstance()->SetInt32(1, 1);
  BaseContainer inner, changed;
  inner.SetInt32(1, 5);
  changed.SetInt32(1, 6);
  BaseLink none;
  const struct {
    GeData a, b;
    bool same;
  } pairs[] = {
      {GeData(inner), GeData(inner), true},
      {GeData(inner), GeData(changed), false},
      {GeData(inner), GeData(Int32(5)), false},
      {GeData(none), GeData(none), true},
  };
  for (const auto& p : pairs) {
    BaseShader* u = BaseShader::Alloc(5832);
    BaseShader* w = BaseShader::Alloc(5832);
    u->GetDataInstance()->SetData(30, p.a);
    w->GetDataInstance()->SetData(30, p.b);
    link(u, 31, shared);
    link(w, 31, shared);
    EXPECT_EQ(p.same, u->Compare(w)) << p.a.GetType() << " " << p.b.GetType();
    BaseShader::Free(u);
    BaseShader::Free(w);
  }
  BaseShader::Free(shared);

  // A chain of links far longer than any call stack would take.
  std::vector<BaseShader*> s(100000), t(100000);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = BaseShader::Alloc(5832);
    t[i] = BaseShader::Alloc(5832);
    if (i > 0) {
      link(s[i - 1], 20, s[i]);
      link(t[i - 1], 20, t[i]);
    }
  }
  EXPECT_TRUE(s[0]->Compare(t[0]));
  s.back()->GetDataInstance()->SetInt32(4, 1);
  t.back()->GetDataInstance()->SetInt32(4, 2);
  EXPECT_FALSE(s[0]->Compare(t[0]));
  for (size_t i = 0; i < s.size(); ++i) {
    BaseShader::Free(s[i]);
    BaseShader::Free(t[i]);
  }
  for (BaseShader* z : {a, b, x, y}) BaseShader::Free(z);
}

// Writes the seeds of fuzz/shader_fuzz.cpp (a version byte, then a shader list, a shader or a
// node with shader lists). Run by hand:
//   shader_test --gtest_also_run_disabled_tests --gtest_filter=ShaderSeeds.*
TEST(ShaderSeeds, DISABLED_WriteFuzzCorpus) {
  PluginNode owner(12345);
  BaseShader* layer = BuildMaterial(owner);
  BaseShader* level6 = BaseShader::Alloc(TYPE_SHADER_LEVEL6);
  struct Seed {
    const char* name;
    Bytes bytes;
  } seeds[] = {
      {"material-list", scenetest::WriteNode(*ShaderList(owner))},
      {"layer-tree", scenetest::WriteNode(*layer)},
      {"owner", scenetest::WriteNode(owner)},
      {"level6", scenetest::WriteNode(*level6)},
  };
  BaseShader::Free(level6);
  for (const Seed& s : seeds) {
    Bytes b = s.bytes;
    b.insert(b.begin(), 0x00);  // the current version
    const std::string path = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/shader/" + s.name;
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b)) << path;
  }
}

}  // namespace
