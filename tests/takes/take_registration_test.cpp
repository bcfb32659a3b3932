// The take system's plug-in data reaches every program that reads plug-in nodes. This suite
// names nothing of the takes family itself: the take and override data it meets can only come
// from the plug-in node's own table, linked in with the node code.
#include <gtest/gtest.h>

#include "../scene/scene_support.h"

using namespace lumora;

namespace {

TEST(TakeRegistration, PluginNodesMakeTakeAndOverrideDataWithoutNamingThem) {
  for (Int32 type : {431000054, 431000051, 431000073, 431000075}) {
    SCOPED_TRACE(type);
    RootPluginNode list;
    PluginNode* node = PluginNode::Alloc(type);
    ASSERT_NE(nullptr, node);
    list.InsertLast(node);
    bool known = false;
    ASSERT_TRUE(node->AddSlot());
    node->ValidateNth(0, type, known);
    EXPECT_TRUE(known);
    ASSERT_NE(nullptr, node->GetNthData(0));
    EXPECT_TRUE(node->GetNthData(0)->IsInstanceOf(type));
    // And read back from a file, the data is the take system's again.
    const scenetest::Bytes bytes = scenetest::WriteNode(list);
    RootPluginNode back;
    ASSERT_TRUE(scenetest::ReadNode(bytes, back));
    PluginNode* read = back.GetFirst();
    ASSERT_NE(nullptr, read);
    ASSERT_NE(nullptr, read->GetNthData(0));
    EXPECT_TRUE(read->GetNthData(0)->IsInstanceOf(type));
    EXPECT_EQ(scenetest::MaskIdentities(bytes),
              scenetest::MaskIdentities(scenetest::WriteNode(back)));
  }
}

}  // namespace
