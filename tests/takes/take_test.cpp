// Takes and overrides: the folders of a new take, overridden parameters, which takes a change
// affects, the camera and render-settings choice, finding overrides, the file forms at every
// level and copies of a take tree with its overrides.
#include <gtest/gtest.h>

#include "../scene/scene_support.h"
#include "take_support.h"
#include "test_support.h"

using namespace lumora;
using namespace taketest;

namespace {

std::string Name(const GeListNode* n) {
  char buf[64];
  static_cast<const BaseList2D*>(n)->GetName().GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

TEST(Take, NewTakeHasTheNoneFolderWithSixKindsUnderIt) {
  BaseTake* take = BaseTake::Alloc();
  ASSERT_NE(nullptr, take);
  BaseTakeData* data = take->GetTakeData();
  EXPECT_FALSE(take->IsMain());
  EXPECT_EQ("Override Folders", [&] {
    char b[32];
    data->GetFolders()->GetName().GetCString(b, sizeof b, STRINGENCODING_UTF8);
    return std::string(b);
  }());
  EXPECT_EQ(take->GetNode(), data->GetFolders()->GetOwner());
  EXPECT_EQ(nullptr, data->GetGroups()->GetFirst());
  ASSERT_NE(nullptr, data->GetOverrideList());
  EXPECT_EQ(0, data->GetOverrideList()->GetObjectCount());
  ASSERT_EQ(1, data->GetFolders()->GetCount());
  GeListNode* none = data->GetFolders()->GetFirst();
  EXPECT_EQ("None", Name(none));
  // Each kind went in first under "None": the last added leads.
  const struct {
    const char* name;
    Int32 kind, nodeType;
  } expected[] = {{"Other", 6, -1},    {"Layer", 5, 100004801}, {"Material", 4, 5702},
                  {"Shader", 3, 5707}, {"Tag", 2, 5694},        {"Object", 1, 5155}};
  GeListNode* f = none->GetDown();
  for (const auto& e : expected) {
    ASSERT_NE(nullptr, f) << e.name;
    const BaseContainer* bc = static_cast<BaseList2D*>(f)->GetDataInstance();
    EXPECT_EQ(e.name, Name(f));
    EXPECT_EQ(e.kind, bc->GetInt32(TAKEFOLDER_KIND, -9));
    EXPECT_EQ(e.nodeType, bc->GetInt32(TAKEFOLDER_NODETYPE, -9));
    EXPECT_EQ(TYPE_TAKEFOLDER, f->GetType());
    EXPECT_TRUE(static_cast<PluginNode*>(f)->GetNthData(0)->IsInstanceOf(TYPE_TAKEFOLDER));
    f = f->GetNext();
  }
  EXPECT_EQ(nullptr, f);
  // A kind outside the table: no name, node type -1; a second "None" goes into the list.
  PluginNode* odd = data->AddFolder(17);
  ASSERT_NE(nullptr, odd);
  EXPECT_EQ("", Name(odd));
  EXPECT_EQ(-1, odd->GetDataInstance()->GetInt32(TAKEFOLDER_NODETYPE));
  EXPECT_EQ(none, odd->GetUp());
  ASSERT_NE(nullptr, data->AddFolder(0));
  EXPECT_EQ(2, data->GetFolders()->GetCount());
  BaseTake::Free(take);
}

TEST(Override, VectorComponentsAreLookedUpUnderTheirFirstLevel) {
  BaseOverride* ov = BaseOverride::Alloc();
  ASSERT_NE(nullptr, ov);
  BaseOverrideData* data = ov->GetOverrideData();
  const DescLevel vec(1100, DTYPE_VECTOR, 0);
  ASSERT_TRUE(data->AddEntry(DescID(1100), DescID(DescLevel(1100), DescLevel(1000)), 0, DescID()));
  ASSERT_TRUE(data->AddEntry(DescID(1100), DescID(DescLevel(1100), DescLevel(1001)), 0, DescID()));
  ASSERT_TRUE(data->AddOverriddenParam(DescID(DescLevel(2000, 19, 0))));
  EXPECT_EQ(2, data->GetMapCount());
  const struct {
    DescID id;
    bool overridden;
  } rows[] = {
      {DescID(vec, DescLevel(1001)), true},
      {DescID(vec, DescLevel(1000)), true},
      {DescID(vec, DescLevel(1002)), false},
      {DescID(vec), false},             // the whole vector is no entry
      {DescID(DescLevel(2000)), true},  // data type 0 matches any
      {DescID(DescLevel(2000, 19, 0)), true},
      {DescID(DescLevel(2000, 15, 0)), false},  // another data type
      {DescID(3000), false},
      {DescID(), false},
  };
  for (const auto& r : rows)
    EXPECT_EQ(r.overridden, ov->IsOverriddenParam(r.id)) << r.id[0].id << "/" << r.id[1].id;
  BaseOverride::Free(ov);
}

TEST(Takes, TheTreeDecidesWhichTakesAChangeAffects) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  BaseOverride* ovE = s.d->GetTakeData()->AddOverride(s.node);  // then its take link is cleared
  ASSERT_NE(nullptr, ovE);
  ASSERT_TRUE(ovE->GetOverrideData()->AddOverriddenParam(ParamP()));
  ovE->GetOverrideData()->SetTake(nullptr);
  const struct {
    const char* what;
    BaseOverride* ov;
    BaseTake* take;
    DescID id;
    bool affected;
  } rows[] = {
      {"own take", s.ovA, s.a, ParamP(), true},
      {"main's own", s.ovMain, s.main, ParamP(), true},
      {"a reaches c through b? b overrides P itself", s.ovA, s.c, ParamP(), false},
      {"b reaches its child c", s.ovB, s.c, ParamP(), true},
      {"a reaches c for Qy (b leaves it)", s.ovA, s.c, ParamQy(), true},
      {"sibling branch", s.ovA, s.d, ParamP(), false},
      {"ancestor is no descendant", s.ovB, s.a, ParamP(), false},
      {"main's override never reaches below", s.ovMain, s.d, ParamP(), false},
      {"parameter not overridden", s.ovB, s.c, ParamQy(), false},
      {"override without take", ovE, s.c, ParamP(), true},
  };
  for (const auto& r : rows)
    EXPECT_EQ(r.affected, r.ov->GetOverrideData()->IsTakeAffected(&s.doc, r.take, r.id)) << r.what;
  EXPECT_FALSE(s.ovA->GetOverrideData()->IsTakeAffected(nullptr, s.a, ParamP()));
  EXPECT_FALSE(s.ovA->GetOverrideData()->IsTakeAffected(&s.doc, nullptr, ParamP()));
  // Without a main node only the first two steps answer.
  s.ovA->GetNode()->Remove();
  EXPECT_TRUE(s.ovA->GetOverrideData()->IsTakeAffected(&s.doc, s.a, ParamP()));
  EXPECT_FALSE(s.ovA->GetOverrideData()->IsTakeAffected(&s.doc, s.c, ParamQy()));
  PluginNode* n = s.ovA->GetNode();
  PluginNode::Free(n);
}

TEST(Takes, ParametersOfAnOverrideGoToTheMainNodeWhileItsTakeIsCurrent) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  auto translate = [&](BaseOverride* ov, const DescID& id, GeListNode** out) {
    DescID outId;
    GeListNode* outNode = nullptr;
    const bool ok = ov->GetOverrideData()->TranslateDescID(ov->GetNode(), id, outId, outNode);
    *out = outNode;
    return ok && outId == id;
  };
  GeListNode* out = nullptr;
  ASSERT_TRUE(s.td->SetCurrentTake(s.c));
  DescID outId;
  EXPECT_TRUE(s.ovB->GetNode()->TranslateDescID(ParamP(), outId, out));  // through the node
  EXPECT_EQ(s.node, out);
  EXPECT_TRUE(translate(s.ovB, ParamP(), &out));
  EXPECT_EQ(s.node, out);
  EXPECT_FALSE(translate(s.ovA, ParamP(), &out));  // b shadows a
  EXPECT_TRUE(translate(s.ovA, ParamQy(), &out));
  ASSERT_TRUE(s.td->SetCurrentTake(s.a));
  EXPECT_TRUE(translate(s.ovA, ParamP(), &out));
  EXPECT_FALSE(translate(s.ovB, ParamP(), &out));
  ASSERT_TRUE(s.td->SetCurrentTake(nullptr));
  EXPECT_FALSE(translate(s.ovA, ParamP(), &out));
}

TEST(Takes, OverridesAreFoundThroughTheNodeAndTheTake) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.ovA, s.td->FindOverride(s.a, s.node));
  EXPECT_EQ(s.ovB, s.td->FindOverride(s.b, s.node));
  EXPECT_EQ(nullptr, s.td->FindOverride(s.c, s.node));
  EXPECT_EQ(s.ovA, s.a->FindOverride(s.td, s.node));
  EXPECT_EQ(s.ovA, s.a->GetTakeData()->FindOverride(&s.doc, s.node));
  EXPECT_EQ(nullptr, s.a->GetTakeData()->FindOverride(&s.doc, s.other));
  EXPECT_EQ(s.ovD, s.d->FindOverride(s.td, s.other));
  EXPECT_EQ(nullptr, s.a->FindOverride(nullptr, s.node));
  EXPECT_EQ(nullptr, s.a->FindOverride(s.td, nullptr));
  EXPECT_EQ(s.ovA, s.a->GetTakeData()->AddOverride(s.node));  // there already
  // Out of a's own list, a's override no longer counts for a node in a document.
  ASSERT_TRUE(s.a->GetTakeData()->GetOverrideList()->DeleteObject(0));
  EXPECT_EQ(nullptr, s.a->FindOverride(s.td, s.node));
  s.node->SetDocument(nullptr);
  EXPECT_EQ(s.ovA, s.a->FindOverride(s.td, s.node));
  s.node->SetDocument(&s.doc);
  // The node's list walk ends at the first override without a take.
  s.ovMain->GetOverrideData()->SetTake(nullptr);
  EXPECT_EQ(nullptr, s.td->FindOverride(s.b, s.node));
}

TEST(Takes, NodesOfOtherClassesWithThePluginNodeKindAreNeitherTakesNorOverrides) {
  // A file may give a shader, an object or a tag the plug-in node's kind and link it from a
  // take's override list: each is looked at as what it is, never as a plug-in node.
  TakeScene s;
  ASSERT_TRUE(s.ok);
  BaseList2D* crafted[] = {BaseShader::Alloc(TYPE_PLUGINNODE), BaseObject::Alloc(TYPE_PLUGINNODE),
                           BaseTag::Alloc(TYPE_PLUGINNODE)};
  InExcludeData* list = s.c->GetTakeData()->GetOverrideList();
  ASSERT_NE(nullptr, list);
  for (BaseList2D* n : crafted) {
    ASSERT_NE(nullptr, n);
    ASSERT_TRUE(n->IsInstanceOf(TYPE_PLUGINNODE));
    n->SetDocument(&s.doc);
    EXPECT_EQ(nullptr, BaseTake::From(n));
    EXPECT_EQ(nullptr, BaseOverride::From(n));
    ASSERT_TRUE(list->InsertObject(n, 0));
    // Nor do they go where plug-in nodes are read back as plug-in nodes.
    EXPECT_FALSE(s.node->GetAttachedList(ATTACHEDLIST_OVERRIDES)->InsertLast(n));
  }
  EXPECT_EQ(nullptr, s.c->GetTakeData()->FindOverride(&s.doc, s.node));
  EXPECT_EQ(nullptr, s.c->FindOverride(s.td, s.node));
  for (BaseList2D* n : crafted) DeleteObj(n);
}

// Writes the fuzz seeds of a take whose override list links a shader of the plug-in node's kind
// (in the take node's own shader list, so that the link reconnects within the list):
//   take_test --gtest_also_run_disabled_tests --gtest_filter=TakeSeeds.*
TEST(TakeSeeds, DISABLED_WriteFuzzCorpus) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  BaseShader* shader = BaseShader::Alloc(TYPE_PLUGINNODE);
  ASSERT_TRUE(s.c->GetNode()->InsertShader(shader, nullptr));
  ASSERT_TRUE(s.c->GetTakeData()->GetOverrideList()->InsertObject(shader, 0));
  const Bytes bytes = scenetest::WriteNode(*s.hook->GetTakeList());
  for (const char* dir : {"take", "pluginnode"}) {
    Bytes b = bytes;
    b.insert(b.begin(), 0x01);  // the level / version byte both targets take first
    const std::string path =
        std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/" + dir + "/override-links-a-shader";
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b)) << path;
  }
}

TEST(Takes, CameraAndRenderSettingsChoicesReadAndWriteAsIndices) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  auto get = [](BaseTake* t, Int32 id, Int32 preset) {
    GeData v(preset);
    return t->GetTakeData()->GetDParameter(DescID(id), v) ? v.GetInt32() : -100;
  };
  // The take node answers through its data.
  GeData viaNode;
  EXPECT_TRUE(s.a->GetNode()->GetDParameter(DescID(TAKE_CAMERA), viaNode));
  EXPECT_EQ(2, viaNode.GetInt32());
  EXPECT_EQ(0, get(s.c, TAKE_CAMERA, 9));  // no camera link
  EXPECT_EQ(2, get(s.a, TAKE_CAMERA, 9));  // the hook's camera 0
  EXPECT_EQ(3, get(s.d, TAKE_CAMERA, 9));
  EXPECT_EQ(2, get(s.b, TAKE_RENDERDATA, 9));  // the hook's render settings 1
  EXPECT_EQ(0, get(s.a, TAKE_RENDERDATA, 9));
  const struct {
    Int32 id, write, read;
    BaseList2D* linked;
  } rows[] = {
      {TAKE_CAMERA, 1, 1, s.editorCam}, {TAKE_CAMERA, 3, 3, s.cam1},
      {TAKE_CAMERA, 4, 3, s.cam1},      {TAKE_CAMERA, -1, 3, s.cam1},
      {TAKE_CAMERA, 0, 0, nullptr},     {TAKE_RENDERDATA, 1, 1, s.rd0},
      {TAKE_RENDERDATA, 3, 1, s.rd0},   {TAKE_RENDERDATA, 0, 0, nullptr},
  };
  for (const auto& r : rows) {
    EXPECT_TRUE(s.c->GetTakeData()->SetDParameter(DescID(r.id), GeData(r.write))) << r.write;
    EXPECT_EQ(r.read, get(s.c, r.id, 9)) << r.id << " " << r.write;
    const Int32 link = r.id == TAKE_CAMERA ? TAKE_CAMERA_LINK : TAKE_RENDERDATA_LINK;
    EXPECT_EQ(r.linked, s.c->GetNode()->GetDataInstance()->GetLink(link)) << r.write;
  }
  EXPECT_EQ(s.editorCam, [&] {
    s.c->GetTakeData()->SetCamera(s.td, s.editorCam);
    return s.c->GetCamera(s.td);
  }());
  // A camera in neither list leaves the value as it was; a link to no camera is no camera.
  BaseList2D stray(kTypeCamera), notCamera(kTypeNode);
  ASSERT_TRUE(s.c->GetTakeData()->SetCamera(s.td, &stray));
  EXPECT_EQ(9, get(s.c, TAKE_CAMERA, 9));
  ASSERT_TRUE(s.c->GetTakeData()->SetCamera(s.td, &notCamera));
  EXPECT_EQ(nullptr, s.c->GetCamera(s.td));
  // Without a document the parameters are not there.
  s.c->GetNode()->SetDocument(nullptr);
  EXPECT_EQ(-100, get(s.c, TAKE_CAMERA, 9));
  EXPECT_FALSE(s.c->GetTakeData()->SetDParameter(DescID(TAKE_RENDERDATA), GeData(Int32(1))));
  s.c->GetTakeData()->SetCamera(s.td, nullptr);
  s.c->GetNode()->SetDocument(&s.doc);
}

TEST(Takes, TheRenderViewAndActiveRenderSettingsFollowTheCurrentTake) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  BaseDraw* view = s.doc.GetRenderBaseDraw();
  ASSERT_TRUE(s.td->SetCurrentTake(s.c));
  // c has no camera: its nearest ancestor with one (a) decides.
  ASSERT_TRUE(s.a->GetTakeData()->SetCamera(s.td, s.cam1));
  EXPECT_EQ(s.cam1, view->GetSceneCamera(&s.doc));
  // A take outside the current take's line changes nothing.
  ASSERT_TRUE(s.d->GetTakeData()->SetCamera(s.td, s.cam0));
  EXPECT_EQ(s.cam1, view->GetSceneCamera(&s.doc));
  // The current take's own camera wins over a camera set on an ancestor afterwards.
  ASSERT_TRUE(s.c->GetTakeData()->SetCamera(s.td, s.cam0));
  ASSERT_TRUE(s.main->GetTakeData()->SetCamera(s.td, s.cam1));
  EXPECT_EQ(s.cam0, view->GetSceneCamera(&s.doc));
  // The editor camera is no scene camera.
  ASSERT_TRUE(s.c->GetTakeData()->SetCamera(s.td, s.editorCam));
  EXPECT_EQ(nullptr, view->GetSceneCamera(&s.doc));
  // Render settings: b's rd1; without any up the line the document's first.
  ASSERT_TRUE(s.c->GetTakeData()->SetRenderData(s.td, nullptr));
  EXPECT_EQ(s.rd1, s.doc.GetActiveRenderData());
  ASSERT_TRUE(s.b->GetTakeData()->SetRenderData(s.td, nullptr));
  EXPECT_EQ(s.rd0, s.doc.GetActiveRenderData());
}

// ---- file forms ----

TEST(Takes, ASceneWithTakesRoundTripsByteIdentical) {
  TakeScene s;
  ASSERT_TRUE(s.ok);
  const Bytes first = WriteRoots(s.Roots());
  ASSERT_FALSE(first.empty());
  BaseDocument doc;
  SceneSkeleton back;
  ASSERT_TRUE(ReadRoots(first, back.Roots(), &doc));
  // The render view and the active render settings live only in memory; pointed at again, the
  // nodes they link write their goals as before.
  doc.GetRenderBaseDraw()->SetEditorCamera(&back.editorCam);
  doc.SetActiveRenderData(&back.rd0);
  const Bytes second = WriteRoots(back.Roots());
  EXPECT_EQ(scenetest::MaskIdentities(first), scenetest::MaskIdentities(second))
      << scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                    scenetest::MaskIdentities(second));
  // The links found their nodes again.
  BaseTake* main = BaseTake::From(back.takes.GetFirst());
  ASSERT_NE(nullptr, main);
  EXPECT_TRUE(main->IsMain());
  BaseTake* a = main->GetDown();
  ASSERT_NE(nullptr, a);
  BaseTake* c = a->GetDown()->GetDown();
  ASSERT_NE(nullptr, c);
  EXPECT_TRUE(c->SearchHierarchy(main));
  // main > a, d: the siblings and their parent in both directions.
  BaseTake* d = a->GetNext();
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(a, d->GetPred());
  EXPECT_EQ(main, d->GetUp());
  EXPECT_EQ(nullptr, d->GetNext());
  EXPECT_EQ(&back.cam0, a->GetNode()->GetDataInstance()->GetLink(TAKE_CAMERA_LINK));
  EXPECT_EQ(&back.rd1, a->GetDown()->GetNode()->GetDataInstance()->GetLink(TAKE_RENDERDATA_LINK));
  EXPECT_EQ(7, a->GetTakeData()->GetFolders()->GetFirst()->GetChildren()->GetCount());
  BaseOverride* ovA = a->GetTakeData()->FindOverride(&doc, &back.node);
  ASSERT_NE(nullptr, ovA);
  BaseOverrideData* da = ovA->GetOverrideData();
  EXPECT_EQ(a, da->GetTakeNode(&doc));
  EXPECT_EQ(&back.node, da->GetSecondLink().GetLink());
  EXPECT_EQ(&back.cam0, da->GetThirdLink().GetLink());
  ASSERT_EQ(2, da->GetLinkCount());
  EXPECT_EQ(&back.other, da->GetArrayLink(1)->GetLink());
  EXPECT_TRUE(ovA->IsOverriddenParam(ParamQy()));
  EXPECT_EQ(7, da->GetMapEntry(1)->list->begin()->value);
  PluginNode* group = static_cast<PluginNode*>(a->GetTakeData()->GetGroups()->GetFirst());
  ASSERT_NE(nullptr, group);
  EXPECT_EQ(3, group->GetNthData(0)->GetChunkLevel());
  const InExcludeData* members = InExcludeData::From(group->GetDataInstance()->GetCustomDataType(
      OVERRIDEGROUP_MEMBERS, CUSTOMDATATYPE_INEXCLUDE_LIST));
  ASSERT_NE(nullptr, members);
  EXPECT_EQ(ovA->GetNode(), members->ObjectFromIndex(&doc, 0));
}

TEST(Takes, ALevelZeroTakeKeepsItsMainFlagAndReadsNoLists) {
  BaseTake* take = BaseTake::Alloc();
  ASSERT_NE(nullptr, take);
  take->GetTakeData()->GetFolders()->FlushAll();
  const Bytes bytes = lumtest::WriteStream([](HyperFile& hf) {
    return hf.WriteBool(true) && hf.WriteInt32(12345);  // what follows is not the take's
  });
  lumtest::MemReader r(bytes);
  EXPECT_TRUE(take->GetTakeData()->Read(&r.hf, CHUNK_PLUGINDATA, 0));
  EXPECT_TRUE(take->IsMain());
  EXPECT_EQ(0, take->GetTakeData()->GetFolders()->GetCount());
  Int32 rest = 0;
  EXPECT_TRUE(r.hf.ReadInt32(&rest));
  EXPECT_EQ(12345, rest);
  BaseTake::Free(take);
}

// An override record of level 0 to 3 with one key holding two entries; its links point
// nowhere (no translation), so the third link and the array read empty.
Bytes OverrideRecord(Int32 level) {
  return lumtest::WriteStream([level](HyperFile& hf) {
    auto key = [&](Int32 id) { return level <= 2 ? hf.WriteInt32(id) : DescID(id).Write(&hf); };
    auto entries = [&]() {
      bool ok = hf.WriteInt32(2);
      for (Int32 c : {1000, 1001}) {
        ok = ok && DescID(DescLevel(1100), DescLevel(c)).Write(&hf) && hf.WriteInt32(c - 990);
        if (level > 0) ok = ok && key(c + 1);
      }
      return ok;
    };
    BaseLink empty;
    bool ok = hf.WriteInt32(1) && key(1100) && entries() && empty.Write(&hf) && empty.Write(&hf);
    if (level >= 1) ok = ok && hf.WriteInt32(1) && key(77) && entries();
    if (level >= 2) ok = ok && empty.Write(&hf) && hf.WriteInt32(1) && empty.Write(&hf);
    return ok && hf.WriteInt32(424242);
  });
}

TEST(Override, EveryLevelOfTheRecordReads) {
  for (Int32 level = 0; level <= 3; ++level) {
    SCOPED_TRACE(level);
    BaseOverride* ov = BaseOverride::Alloc();
    ASSERT_NE(nullptr, ov);
    BaseOverrideData* data = ov->GetOverrideData();
    ASSERT_TRUE(data->AddArrayLink(nullptr));
    ASSERT_TRUE(data->AddArrayLink(nullptr));
    lumtest::MemReader r(OverrideRecord(level));
    ASSERT_TRUE(data->Read(&r.hf, CHUNK_PLUGINDATA, level));
    Int32 tail = 0;
    EXPECT_TRUE(r.hf.ReadInt32(&tail));
    EXPECT_EQ(424242, tail);
    ASSERT_EQ(1, data->GetMapCount());
    const OverrideMapEntry* e = data->GetMapEntry(0);
    EXPECT_EQ(1100, e->key[0].id);
    ASSERT_EQ(2, e->list->GetCount());
    EXPECT_EQ(11, (*e->list)[1].value);
    EXPECT_EQ(level > 0 ? 1002 : 0, (*e->list)[1].second[0].id);
    EXPECT_EQ(level >= 2 ? 1 : 2, data->GetLinkCount());  // the array is replaced from level 2
    EXPECT_TRUE(ov->IsOverriddenParam(DescID(DescLevel(1100, 23, 0), DescLevel(1001))));
    // Written at level 3 and read back, the same map; links that lead nowhere are left out.
    const Bytes again = lumtest::WriteStream([&](HyperFile& hf) { return data->Write(&hf); });
    BaseOverride* back = BaseOverride::Alloc();
    ASSERT_NE(nullptr, back);
    lumtest::MemReader r2(again);
    ASSERT_TRUE(back->GetOverrideData()->Read(&r2.hf, CHUNK_PLUGINDATA, 3));
    EXPECT_TRUE(r2.AtEnd());
    EXPECT_EQ(0, back->GetOverrideData()->GetLinkCount());
    EXPECT_EQ(
        lumtest::WriteStream([&](HyperFile& hf) { return data->Write(&hf); }),
        lumtest::WriteStream([&](HyperFile& hf) { return back->GetOverrideData()->Write(&hf); }));
    BaseOverride::Free(back);
    BaseOverride::Free(ov);
  }
}

TEST(Override, CountsBeyondTheStreamFailBeforeAnythingIsAllocated) {
  const char* cases[] = {
      "0F 7FFFFFFF",                          // map entries
      "0F FFFFFFFF",                          // negative
      "0F 00000001 0F 00000001 0F 40000000",  // override entries (level 2 key)
  };
  for (const char* hex : cases) {
    BaseOverride* ov = BaseOverride::Alloc();
    ASSERT_NE(nullptr, ov);
    lumtest::MemReader r{std::string(hex)};
    const std::int64_t calls = lumtest::AllocationCalls();
    EXPECT_FALSE(ov->GetOverrideData()->Read(&r.hf, CHUNK_PLUGINDATA, 2)) << hex;
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError()) << hex;
    EXPECT_LE(lumtest::AllocationCalls() - calls, 4) << hex;
    BaseOverride::Free(ov);
  }
}

// ---- copies ----

TEST(Takes, ACopiedSceneLinksInsideTheCopy) {
  for (bool translateTakes : {false, true}) {
    SCOPED_TRACE(translateTakes);
    TakeScene s;
    ASSERT_TRUE(s.ok);
    RootPluginNode takes;
    BaseList2D node(kTypeNode), other(kTypeNode), cam0(kTypeCamera);
    AliasTrans trans;
    ASSERT_TRUE(trans.Init());
    const COPYFLAGS flags = COPYFLAGS(translateTakes ? COPYFLAGS_TRANSLATE_TAKES : 0);
    ASSERT_TRUE(s.cam0->CopyTo(&cam0, flags, &trans));
    ASSERT_TRUE(s.node->CopyTo(&node, flags, &trans));
    ASSERT_TRUE(s.other->CopyTo(&other, flags, &trans));
    ASSERT_TRUE(s.hook->GetTakeList()->CopyTo(&takes, flags, &trans));
    trans.Zap(true);
    BaseTake* main = BaseTake::From(takes.GetFirst());
    ASSERT_NE(nullptr, main);
    BaseTake* a = main->GetDown();
    ASSERT_NE(nullptr, a);
    EXPECT_TRUE(main->IsMain());
    EXPECT_EQ(&cam0, a->GetNode()->GetDataInstance()->GetLink(TAKE_CAMERA_LINK));
    EXPECT_EQ(7, a->GetTakeData()->GetFolders()->GetFirst()->GetChildren()->GetCount());
    // The take's list leads to the copied override; its take link to the copied take only when
    // the copy asked for it.
    BaseOverride* ovA = a->GetTakeData()->FindOverride(&s.doc, &node);
    ASSERT_NE(nullptr, ovA);
    EXPECT_NE(s.ovA, ovA);
    EXPECT_EQ(translateTakes ? a : s.a, ovA->GetOverrideData()->GetTakeNode(&s.doc));
    EXPECT_EQ(translateTakes ? &node : s.node, ovA->GetOverrideData()->GetSecondLink().GetLink());
    EXPECT_EQ(&cam0, ovA->GetOverrideData()->GetThirdLink().GetLink());
    ASSERT_EQ(2, ovA->GetOverrideData()->GetLinkCount());
    EXPECT_EQ(&other, ovA->GetOverrideData()->GetArrayLink(1)->GetLink());
    EXPECT_TRUE(ovA->IsOverriddenParam(ParamQy()));
    // The group's member list follows the override too.
    PluginNode* group = static_cast<PluginNode*>(a->GetTakeData()->GetGroups()->GetFirst());
    ASSERT_NE(nullptr, group);
    const InExcludeData* members = InExcludeData::From(group->GetDataInstance()->GetCustomDataType(
        OVERRIDEGROUP_MEMBERS, CUSTOMDATATYPE_INEXCLUDE_LIST));
    ASSERT_NE(nullptr, members);
    EXPECT_EQ(ovA->GetNode(), members->ObjectFromIndex(nullptr, 0));
  }
}

}  // namespace

namespace {

TEST(TakeData, WithoutDocumentOrHookThereIsNoTakeSystem) {
  TakeData td;
  EXPECT_FALSE(td.Set(nullptr));
  EXPECT_EQ(nullptr, td.GetDocument());
  EXPECT_EQ(nullptr, td.GetCurrentTake());
  BaseDocument doc;
  EXPECT_EQ(nullptr, doc.GetTakeData());
  EXPECT_TRUE(td.Set(&doc));
  EXPECT_EQ(&doc, td.GetDocument());
  EXPECT_EQ(nullptr, td.GetCurrentTake());
  EXPECT_EQ(nullptr, td.GetMainTake());
  EXPECT_FALSE(td.SetCurrentTake(nullptr));
  // A scene hook of the take system's type that is no take-system hook is not taken for one.
  BaseDocument other;
  other.InsertSceneHook(NewObj<BaseList2D>(ID_TAKESYSTEMHOOK));
  EXPECT_NE(nullptr, other.FindSceneHook(ID_TAKESYSTEMHOOK));
  EXPECT_EQ(nullptr, other.GetTakeData());
  TakeSystemHook* hook = TakeSystemHook::Alloc(&doc);
  ASSERT_NE(nullptr, hook);
  EXPECT_EQ(hook, TakeSystemHook::Find(&doc));
  EXPECT_EQ(hook->GetTakeData(), doc.GetTakeData());
  BaseTake* main = td.GetMainTake();
  ASSERT_NE(nullptr, main);
  EXPECT_TRUE(main->IsMain());
  EXPECT_EQ(main, td.GetCurrentTake());
  EXPECT_EQ(nullptr, main->GetUp());  // the hook is no take
  EXPECT_EQ(&doc, main->GetNode()->GetDocument());
}

}  // namespace
