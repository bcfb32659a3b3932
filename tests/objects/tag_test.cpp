// Tags and tag lists: the kinds Alloc hands out, plug-in tags with their real type and node
// data, chunks no class takes kept byte for byte, copies that refuse a tag of another kind,
// and a list with a tag of every kind surviving write -> read -> write and copies unchanged.
#include <gtest/gtest.h>

#include <string>

#include "../scene/scene_support.h"
#include "lum_alien_hooks.h"
#include "lumora.h"
#include "stream_support.h"
#include "tag_support.h"
#include "test_support.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }

Bytes Masked(PrivateChunk& node) { return scenetest::MaskIdentities(scenetest::WriteNode(node)); }

TEST(BaseTag, AllocGivesTheKindOfEveryId) {
  struct Row {
    Int32 id, diskType, type, info;
    bool data;
  } rows[] = {
      {TAG_POINT, 5600, 5600, 0, false},
      {TAG_POLYGON, 5604, 5604, 0, false},
      {TAG_TANGENT, 5617, 5617, 0, false},
      {TAG_SEGMENT, 5672, 5672, 0, false},
      {TAG_UVW, 5671, 5671, 3, false},
      {TAG_VERTEXMAP, 5682, 5682, 3, false},
      {TAG_NORMAL, 5711, 5711, 1, false},
      {TAG_VERTEXCOLOR, 431000045, 431000045, 3, false},
      {5673, 5673, 5673, 3, false},
      {5674, 5674, 5674, 3, false},
      {5701, 5701, 5701, 3, false},
      {TAG_DISPLAY, 5613, 5613, 0, false},
      {TAG_TEXTURE, 5616, 5616, 3, false},
      {TAG_COMPOSITING, 5637, 5637, 0, false},
      {5629, 5629, 5629, 0, false},
      {5693, 5693, 5693, 0, false},
      {5691, 5691, -1, 0, false},
      {1001149, 5691, 1001149, 0, true},
      {1017874, 5691, 1017874, 0, true},
      {1019365, 5691, 1019365, 0, true},
      {TAG_POSEMORPH, 5691, 1024237, 0, true},
      {1019597, 5691, 1019597, 0, false},
      {1016641, 5691, 1016641, 0, false},
      {5678, 5691, 5678, 0, false},
      {12345, 5691, 12345, 0, false},
  };
  for (const Row& r : rows) {
    BaseTag* t = BaseTag::Alloc(r.id);
    ASSERT_NE(nullptr, t) << r.id;
    EXPECT_EQ(r.diskType, t->GetDiskType()) << r.id;
    EXPECT_EQ(r.type, t->GetType()) << r.id;
    EXPECT_EQ(r.info, t->GetInfo()) << r.id;
    EXPECT_EQ(r.data, t->GetNodeData() != nullptr) << r.id;
    EXPECT_EQ(TAG_ANY, t->GetInstanceType());
    for (Int32 yes : {0, TAG_ANY, r.type, r.diskType}) EXPECT_TRUE(t->IsInstanceOf(yes)) << r.id;
    EXPECT_FALSE(t->IsInstanceOf(5155)) << r.id;
    EXPECT_EQ(nullptr, t->GetObject());
    BaseTag::Free(t);
    EXPECT_EQ(nullptr, t);
  }
  SelectionTag set(TAG_SELECTIONSET);
  EXPECT_EQ(16, set.GetInfo());
  EXPECT_EQ(0, SelectionTag(1234).GetInfo());

  BaseTag* links = BaseTag::Alloc(TAG_TARGETLINKS);
  ASSERT_NE(nullptr, links);
  const BaseContainer& bc = links->GetDataInstanceRef();
  EXPECT_EQ(VALUETYPE_LINK, bc.GetData(1001)->GetType());
  EXPECT_EQ(VALUETYPE_LINK, bc.GetData(1002)->GetType());
  EXPECT_TRUE(bc.GetBool(1003));
  BaseTag::Free(links);
}

TEST(RootTag, FindsTagsByTheirRealTypeAndCastsOnlyTheirOwnClass) {
  BaseList2D owner(tagtest::kPolygonObject);
  RootTag list(&owner);
  ASSERT_TRUE(tagtest::BuildMesh(list));
  BaseTag* plugin = list.GetTag(1019597, 0);
  ASSERT_NE(nullptr, plugin);
  EXPECT_EQ(5691, plugin->GetDiskType());
  EXPECT_EQ(nullptr, list.GetTag(1019597, 1));
  EXPECT_NE(list.GetTag(TAG_VERTEXCOLOR, 0), list.GetTag(TAG_VERTEXCOLOR, 1));
  EXPECT_EQ(nullptr, list.GetTag(TAG_VERTEXCOLOR, 2));
  EXPECT_EQ(list.GetFirst(), list.GetFirst()->FindSibling(TAG_POINT));
  EXPECT_EQ(&owner, list.GetTag(TAG_UVW)->GetObject());
  EXPECT_EQ(nullptr, PointTag::Cast(list.GetTag(TAG_POLYGON)));
  EXPECT_NE(nullptr, PolygonTag::Cast(list.GetTag(TAG_POLYGON)));
  EXPECT_EQ(nullptr, SelectionTag::Cast(plugin));
  BaseTag* loose = BaseTag::Alloc(TAG_UVW);
  EXPECT_EQ(nullptr, loose->FindSibling(TAG_UVW));
  BaseTag::Free(loose);
}

TEST(RootTag, EveryTagKindSurvivesWriteReadWriteAndCopies) {
  BaseList2D owner(tagtest::kPolygonObject);
  RootTag list(&owner);
  ASSERT_TRUE(tagtest::BuildMesh(list));
  const Int32 count = list.GetCount();
  const Bytes first = Masked(list);

  BaseList2D owner2(tagtest::kPolygonObject);
  RootTag back(&owner2);
  ASSERT_TRUE(scenetest::ReadNode(scenetest::WriteNode(list), back));
  ASSERT_EQ(count, back.GetCount());
  const Bytes second = Masked(back);
  EXPECT_EQ(first, second) << scenetest::FirstDifference(first, second);

  for (BaseTag* t = back.GetFirst(); t != nullptr; t = t->GetNext()) {
    EXPECT_EQ(&owner2, t->GetObject());
    EXPECT_EQ(0, t->GetKeptChunkCount()) << t->GetType();
  }
  const PointTag* pt = PointTag::Cast(back.GetTag(TAG_POINT));
  ASSERT_TRUE(pt != nullptr && pt->GetCount() == 4);
  EXPECT_EQ(Vector64(3, 6, -1.5), pt->GetPointR()[3]);
  const PolygonTag* pg = PolygonTag::Cast(back.GetTag(TAG_POLYGON));
  ASSERT_TRUE(pg != nullptr && pg->GetCount() == 2);
  EXPECT_EQ(CPolygon(0, 2, 3, 9), pg->GetPolygonR()[1]);  // kept although 9 names no point
  const UVWTag* uv = UVWTag::Cast(back.GetTag(TAG_UVW));
  EXPECT_TRUE(uv->GetSetting());
  EXPECT_EQ(Vector64(0.5, 0.25, 1), uv->Get(1).a);
  EXPECT_EQ(Vector64(0, 0, 1), NormalTag::Cast(back.GetTag(TAG_NORMAL))->Get(1).a);
  EXPECT_EQ(0.75f, VertexMapTag::Cast(back.GetTag(TAG_VERTEXMAP))->GetWeightR()[3]);
  const VertexColorTag* vp = VertexColorTag::Cast(back.GetTag(TAG_VERTEXCOLOR, 1));
  EXPECT_FALSE(vp->IsPerPointColor());
  EXPECT_EQ(2, vp->GetCount());
  EXPECT_EQ(0.5f, vp->GetColorR()[7].a);
  EXPECT_EQ(3, SegmentTag::Cast(back.GetTag(TAG_SEGMENT))->GetSegmentR()[0].cnt);
  EXPECT_EQ(Vector64(-1, -2, -3), TangentTag::Cast(back.GetTag(TAG_TANGENT))->GetDataR()[0].vr);
  EXPECT_TRUE(SelectionTag::Cast(back.GetTag(5701))->GetBaseSelect()->IsSelected(3));
  EXPECT_EQ(Vector64(1, 2, 3), static_cast<TextureTag*>(back.GetTag(TAG_TEXTURE))->GetPos());
  EXPECT_NE(nullptr, back.GetTag(TAG_POSEMORPH)->GetNodeData());
  EXPECT_EQ(std::string("morph"), [&] {
    char buf[16];
    back.GetTag(1019597)->GetName().GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
    return std::string(buf);
  }());

  // Copies, whole lists and single clones, write the same bytes.
  RootTag copy(&owner2);
  ASSERT_TRUE(list.CopyTo(&copy, COPYFLAGS_IDENTITY, nullptr));
  const Bytes copied = Masked(copy);
  EXPECT_EQ(first, copied) << scenetest::FirstDifference(first, copied);
  for (BaseTag* t = list.GetFirst(); t != nullptr; t = t->GetNext()) {
    BaseTag* clone = static_cast<BaseTag*>(t->GetClone(COPYFLAGS_IDENTITY, nullptr));
    ASSERT_NE(nullptr, clone) << t->GetType();
    EXPECT_EQ(Masked(*t), Masked(*clone)) << t->GetType();
    BaseTag::Free(clone);
  }
}

// A display tag whose chunk carries a chunk of its own (id 777, level 3, a nested chunk inside)
// and a plug-in tag of a type without a data class.
const char* const kDisplayWithChunk =
    "01 00000001 00000000"
    " 01 00000309 00000003  0F 0000002A  01 00000001 00000002 15 01 02  02"
    "02";
const char* const kPluginWithData =
    "01 00000001 00000000"
    " 01 0001ADF0 00000007  0F 000F8ECD 0F 00000000 82 00000000  0F 0000002A 02"
    "02";

TEST(BaseTag, ChunksNoClassTakesAreKeptAndWrittenBack) {
  const Bytes kept = H("01 00000309 00000003 0F 0000002A 01 00000001 00000002 15 01 02 02");
  BaseTag* display = BaseTag::Alloc(TAG_DISPLAY);
  ASSERT_TRUE(scenetest::ReadNode(H(kDisplayWithChunk), *display));
  EXPECT_EQ(1, display->GetKeptChunkCount());
  const Bytes once = scenetest::WriteNode(*display);
  ASSERT_GT(once.size(), kept.size());
  EXPECT_EQ(kept, Bytes(once.end() - 1 - kept.size(), once.end() - 1));
  BaseTag* clone = static_cast<BaseTag*>(display->GetClone(COPYFLAGS_IDENTITY, nullptr));
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(Masked(*display), Masked(*clone));
  BaseTag::Free(clone);
  BaseTag::Free(display);
  // Files of version 11924 and older lay values out differently: their unknown chunks go.
  display = BaseTag::Alloc(TAG_DISPLAY);
  ASSERT_TRUE(scenetest::ReadNode(H(kDisplayWithChunk), *display, 11924));
  EXPECT_EQ(0, display->GetKeptChunkCount());
  BaseTag::Free(display);

  // The plug-in data of a type without a class: its bytes and level come back (version 11600
  // and newer); older files drop them and keep the type.
  const Bytes data = H("01 0001ADF0 00000007 0F 000F8ECD 0F 00000000 82 00000000 0F 0000002A 02");
  for (Int32 version : {12000, 11000}) {
    BaseTag* plugin = BaseTag::Alloc(TAG_PLUGIN);
    ASSERT_TRUE(scenetest::ReadNode(H(kPluginWithData), *plugin, version));
    EXPECT_EQ(1019597, plugin->GetType());
    EXPECT_EQ(TAG_PLUGIN, plugin->GetDiskType());
    const Bytes out = scenetest::WriteNode(*plugin);
    const Bytes expect =
        version == 12000 ? data : H("01 0001ADF0 00000000 0F 000F8ECD 0F 00000000 82 00000000 02");
    ASSERT_GT(out.size(), expect.size());
    EXPECT_EQ(expect, Bytes(out.end() - 1 - expect.size(), out.end() - 1)) << version;
    BaseTag* clone = static_cast<BaseTag*>(plugin->GetClone(COPYFLAGS_IDENTITY, nullptr));
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(Masked(*plugin), Masked(*clone));
    BaseTag::Free(clone);
    BaseTag::Free(plugin);
  }
}

TEST(BaseTag, CopyRefusesATagOfAnotherKind) {
  PointTag points;
  ASSERT_TRUE(points.Resize(3));
  PolygonTag polygons;
  ASSERT_TRUE(polygons.Resize(1));
  polygons.GetPolygonW()[0] = CPolygon(1, 2, 3, 4);
  EXPECT_FALSE(points.CopyTo(&polygons, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(1, polygons.GetCount());
  EXPECT_EQ(CPolygon(1, 2, 3, 4), polygons.GetPolygonR()[0]);
  SelectionTag a(TAG_POINTSELECTION), b(TAG_POLYGONSELECTION);
  EXPECT_FALSE(a.CopyTo(&b, COPYFLAGS_NONE, nullptr));
}

TEST(BaseTag, CopiesOfEmptyTagsSucceedAndFailedCopiesChangeNothing) {
  // Empty tags of every kind clone (UVW and normal tags without an array included).
  for (Int32 type : {TAG_POINT, TAG_POLYGON, TAG_TANGENT, TAG_SEGMENT, TAG_UVW, TAG_NORMAL,
                     TAG_VERTEXMAP, TAG_VERTEXCOLOR, TAG_POINTSELECTION}) {
    BaseTag* empty = BaseTag::Alloc(type);
    GeListNode* clone = empty->GetClone(COPYFLAGS_NONE, nullptr);
    EXPECT_NE(nullptr, clone) << type;
    DeleteObj(clone);
    BaseTag::Free(empty);
  }
  // Copying 3 points over 1 when the new array cannot be had: false, the 1 point stays (the
  // copy never writes 3 points into the old array).
  PointTag three, one;
  ASSERT_TRUE(three.Resize(3) && one.Resize(1));
  three.GetPointW()[2] = Vector64(7, 8, 9);
  one.GetPointW()[0] = Vector64(1, 1, 1);
  bool failedOnce = false;
  for (std::int64_t n = 1; !failedOnce || lumtest::InjectedFailureHappened(); ++n) {
    lumtest::FailNthAllocation(n);
    const bool ok = three.CopyTo(&one, COPYFLAGS_IDENTITY, nullptr);
    const bool injected = lumtest::InjectedFailureHappened();
    lumtest::StopFailing();
    if (!injected) break;
    failedOnce = true;
    EXPECT_FALSE(ok) << n;
    if (one.GetCount() == 1) {
      EXPECT_EQ(Vector64(1, 1, 1), one.GetPointR()[0]) << n;
    }
    one.Resize(1);
    one.GetPointW()[0] = Vector64(1, 1, 1);
  }
  EXPECT_TRUE(failedOnce);
  ASSERT_EQ(3, one.GetCount());
  EXPECT_EQ(Vector64(7, 8, 9), one.GetPointR()[2]);
}

TEST(BaseTag, APluginTagWhoseTypeNamesABuiltInKindStaysAPluginTag) {
  // Plug-in type 5600: GetType says "point tag", the class is not one.
  const Bytes bytes =
      H("01 00000001 00000000"
        " 01 0001ADF0 00000000 0F 000015E0 0F 00000000 82 00000000 02"
        "02");
  BaseList2D owner(tagtest::kPolygonObject);
  RootTag list(&owner);
  BaseTag* plugin = tagtest::Add(list, TAG_PLUGIN);
  ASSERT_TRUE(scenetest::ReadNode(bytes, *plugin));
  EXPECT_EQ(TAG_POINT, plugin->GetType());
  EXPECT_EQ(nullptr, PointTag::Cast(plugin));
  BaseTag* clone = static_cast<BaseTag*>(plugin->GetClone(COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(TAG_PLUGIN, clone->GetDiskType());
  EXPECT_EQ(TAG_POINT, clone->GetType());
  BaseTag::Free(clone);
  // A vertex colour tag beside it converts as on an object without points.
  VertexColorTag* vc = tagtest::Add<VertexColorTag>(list, TAG_VERTEXCOLOR);
  ASSERT_TRUE(vc->Resize(2, VertexColorTag::POLYGON_BYTES));
  EXPECT_TRUE(VertexColorTag_ConvertVertexColorMode(vc, true));
  EXPECT_EQ(0, vc->GetCount());
}

TEST(RootTag, ATagThatCannotBeReadFailsTheListAndIsDropped) {
  BaseList2D owner(tagtest::kPolygonObject);
  RootTag list(&owner);
  ASSERT_TRUE(tagtest::BuildMesh(list));
  Bytes bytes = scenetest::WriteNode(list);
  // Cut inside the last tag.
  bytes.resize(bytes.size() - 4);
  RootTag back(&owner);
  EXPECT_FALSE(scenetest::ReadNode(bytes, back));
  EXPECT_EQ(list.GetCount() - 1, back.GetCount());
  // An empty list writes nothing at all.
  RootTag empty;
  lumtest::MemWriter w;
  EXPECT_TRUE(empty.Write(&w.hf));
  EXPECT_TRUE(w.Finish().empty());
}

// Writes the seeds of fuzz/tag_fuzz.cpp (a version byte, then a tag list). Run by hand:
//   tag_test --gtest_also_run_disabled_tests --gtest_filter=TagSeeds.*
TEST(TagSeeds, DISABLED_WriteFuzzCorpus) {
  BaseList2D owner(tagtest::kPolygonObject);
  RootTag mesh(&owner);
  ASSERT_TRUE(tagtest::BuildMesh(mesh));
  // One tag's chunk in a list: list chunk, member chunk of type, body.
  auto single = [](Int32 type, const std::string& body) {
    char head[64];
    snprintf(head, sizeof head, "01 00000001 00000000 01 0001AE14 00000000 01 %08X 00000000 ",
             UInt32(type));
    return H(head + body + " 02 02 02");
  };
  struct Seed {
    const char* name;
    UChar version;  // 0 current, 1 version 11500, 2 version 7000
    Bytes bytes;
  } seeds[] = {
      {"mesh", 0, scenetest::WriteNode(mesh)},
      {"points-old", 1,
       single(TAG_POINT,
              "01 000015E0 00000000 85 0000000C 3FF0000000000000 4000000000000000 "
              "4008000000000000 02")},
      {"polygons-old", 1,
       single(TAG_POLYGON, "01 000015E4 00000000 86 00000008 01000000 0001 0002 0003 0003 02")},
      {"uvw-fixed", 2,
       single(TAG_UVW,
              "01 00001627 00000000 87 00000018 C005 4000 0000 0000 0000 0000 0000 "
              "0000 0000 0000 0000 0000 02")},
      {"uvw-words", 0,
       single(TAG_UVW,
              "01 00001627 00000002 89 00000020 3F000000 3E800000 00000000 00000000 "
              "00000000 00000000 00000000 00000000 15 01 02")},
      {"normals-old", 1,
       single(TAG_NORMAL,
              "01 0000164F 00000000 87 00000018 0000 0000 7D00 0000 0000 0000 0000 "
              "0000 0000 0000 0000 0000 02")},
      {"vertexmap-old", 2,
       single(TAG_VERTEXMAP, "01 00001632 00000000 82 00000002 0041 89 00000004 3F000000 02")},
      {"display-kept", 0,
       single(TAG_DISPLAY, "01 00000309 00000003 0F 0000002A 01 00000001 00000002 15 01 02 02")},
  };
  for (const Seed& s : seeds) {
    Bytes b = s.bytes;
    b.insert(b.begin(), s.version);
    const std::string path = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/tag/" + s.name;
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b)) << path;
  }
}

}  // namespace
