// A program that never names a shader class still reads shader lists as lists of shaders: the
// node tree itself brings the shader family in. (This file must keep using the node tree's
// interfaces only, or it would pull the family in by itself.)
#include <gtest/gtest.h>

#include "../scene/scene_support.h"

using namespace lumora;

namespace {

TEST(ShaderListRegistration, ANodeReadsItsShaderListWithoutNamingShaders) {
  // A plug-in node whose shader list holds one shader of kind 5832 with a child.
  const scenetest::Bytes bytes = lumtest::WriteStream([](HyperFile& hf) {
    auto shader = [&](Int32 type) {
      return hf.WriteChunkStart(5707, 0) && hf.WriteChunkStart(110064, 0) && hf.WriteInt32(type) &&
             hf.WriteInt32(0) && hf.WriteString(String("s")) && hf.WriteChunkEnd();
    };
    return hf.WriteChunkStart(1, 0) && hf.WriteChunkStart(CHUNK_SHADERS, 0) &&
           hf.WriteChunkStart(CHUNK_NODELIST, 0) && shader(5832) &&
           hf.WriteChunkStart(CHUNK_NODELIST, 0) && shader(5833) && hf.WriteChunkEnd() &&
           hf.WriteChunkEnd() && hf.WriteChunkEnd() && hf.WriteChunkEnd() && hf.WriteChunkEnd() &&
           hf.WriteChunkEnd();
  });
  PluginNode node;
  ASSERT_TRUE(scenetest::ReadNode(bytes, node));
  RootList2D* list = node.GetAttachedList(ATTACHEDLIST_SHADERS);
  ASSERT_NE(nullptr, list) << "the list was kept as raw bytes: no shader class is linked";
  ASSERT_EQ(1, list->GetCount());
  GeListNode* first = list->GetFirst();
  EXPECT_EQ(5832, first->GetType());
  EXPECT_EQ(5707, first->GetInstanceType());
  EXPECT_TRUE(first->IsInstanceOf(5707));
  ASSERT_NE(nullptr, first->GetDown());
  EXPECT_EQ(5833, first->GetDown()->GetType());
  // And the list and a fresh one made by the node are of the same class.
  PluginNode other;
  RootList2D* made = other.GetAttachedList(ATTACHEDLIST_SHADERS2, true);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(typeid(*list), typeid(*made));
}

}  // namespace
