// Point, polygon and spline objects: geometry through the object's tags, the resize rules,
// selections and n-gon records, the storing and reloading path through disk type 1001091 with a
// byte-exact round trip, spline settings and selections, and the geometry checksum.
#include <gtest/gtest.h>

#include <string>

#include "../scene/scene_support.h"
#include "lumora.h"
#include "stream_support.h"
#include "tag_support.h"
#include "test_support.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

// A bitwise CRC-32 (reflected 0xEDB88320, initial and final all ones), for comparison.
UInt32 BitwiseCrc(const std::vector<unsigned char>& bytes) {
  UInt32 c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

PolygonObjectData* Data(BaseObject* o) {
  return o != nullptr && o->GetNodeData() != nullptr &&
                 o->GetNodeData()->GetDiskType() == TYPE_POLYGONOBJECTDATA_DISK
             ? static_cast<PolygonObjectData*>(o->GetNodeData())
             : nullptr;
}

TEST(PolygonObject, AllocAndResizeRules) {
  EXPECT_EQ(CPolygon(0, 1, 2, 2), CPolygon(0, 1, 2));
  PolygonObject* p = PolygonObject::Alloc(4, 1);
  ASSERT_NE(nullptr, p);
  // Each new tag goes to the head: the polygon tag (made second) comes first.
  BaseTag* first = p->GetFirstTag();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(TAG_POLYGON, first->GetType());
  ASSERT_NE(nullptr, first->GetNext());
  EXPECT_EQ(TAG_POINT, first->GetNext()->GetType());
  EXPECT_EQ(4, p->GetPointCount());
  EXPECT_EQ(1, p->GetPolygonCount());
  EXPECT_EQ(Vector64(), p->GetPointR()[3]);
  EXPECT_EQ(CPolygon(), p->GetPolygonR()[0]);
  EXPECT_EQ(p->GetPointR(), p->GetPointW());
  p->GetPolygonW()[0] = CPolygon(0, 1, 2, 3);
  // A resize to 0 polygons keeps them (the polygon tag ignores it); the n-gon records are made.
  EXPECT_TRUE(p->ResizeObject(-1, 0, 3));
  EXPECT_EQ(1, p->GetPolygonCount());
  ASSERT_NE(nullptr, Data(p)->GetNgonBase());
  EXPECT_EQ(3, Data(p)->GetNgonBase()->GetCount());
  // Tags that follow the geometry: UVW with the polygons; vertex map, normal and vertex colour
  // with the points (per-point colours are cleared).
  UVWTag* uvw = UVWTag::Cast(p->MakeTag(TAG_UVW));
  VertexMapTag* vm = VertexMapTag::Cast(p->MakeTag(TAG_VERTEXMAP));
  NormalTag* nt = NormalTag::Cast(p->MakeTag(TAG_NORMAL));
  VertexColorTag* vc = VertexColorTag::Cast(p->MakeTag(TAG_VERTEXCOLOR));
  ASSERT_TRUE(uvw && vm && nt && vc);
  ASSERT_TRUE(vc->Resize(4, 16));
  vc->GetColorW()[0].a = 0.5f;
  ASSERT_TRUE(p->ResizeObject(6, 3, 2));
  EXPECT_EQ(6, p->GetPointCount());
  EXPECT_EQ(3, p->GetPolygonCount());
  EXPECT_EQ(CPolygon(0, 1, 2, 3), p->GetPolygonR()[0]);
  EXPECT_EQ(3, uvw->GetCount());
  EXPECT_EQ(6, vm->GetCount());
  EXPECT_EQ(6, nt->GetCount());
  EXPECT_EQ(6, vc->GetCount());
  EXPECT_EQ(16, vc->GetElementSize());
  EXPECT_EQ(0.0f, vc->GetColorR()[0].a);
  ASSERT_NE(nullptr, Data(p)->GetNgonBase());
  EXPECT_EQ(3, Data(p)->GetNgonBase()->GetCount());  // records there already are left alone
  // The two-count form passes -1 n-gons, which frees the records.
  ASSERT_TRUE(p->ResizeObject(6, 3));
  EXPECT_EQ(nullptr, Data(p)->GetNgonBase());
  PolygonObject::Free(p);
  EXPECT_EQ(nullptr, p);
  // A fresh object resized to nothing gets no tags.
  PolygonObject* q = static_cast<PolygonObject*>(BaseObject::Alloc(TYPE_POLYGONOBJECT));
  ASSERT_TRUE(q->ResizeObject(0, 0));
  EXPECT_EQ(nullptr, q->GetFirstTag());
  EXPECT_EQ(0, q->GetPointCount());
  EXPECT_EQ(nullptr, q->GetPointR());
  EXPECT_EQ(nullptr, q->GetPolygonW());
  EXPECT_TRUE(q->ResizeObject(-5, -5, -5));  // all negative: nothing
  EXPECT_EQ(nullptr, q->GetFirstTag());
  // Without an object the data cannot make tags.
  PolygonObjectData loose;
  EXPECT_FALSE(loose._ResizeObject(3, -1, -1));
  EXPECT_TRUE(loose._ResizeObject(0, 0, -1));
  PolygonObject::Free(q);
}

TEST(NgonBase, ResizeCopyAndRecords) {
  NgonBase* n = NgonBase::Alloc();
  ASSERT_TRUE(n->Resize(3));
  const UInt32 v[] = {1, 2, 3, 0xFFFFFFFFu};
  ASSERT_TRUE(n->GetRecord(0)->Set(v, 4));
  ASSERT_TRUE(n->GetRecord(2)->Set(v, 2));
  ASSERT_TRUE(n->Resize(2));  // the third record is freed
  EXPECT_EQ(2, n->GetCount());
  NgonBase* copy = NgonBase::Alloc();
  ASSERT_TRUE(n->CopyTo(copy));
  EXPECT_EQ(4, copy->GetRecord(0)->count);
  EXPECT_EQ(0xFFFFFFFFu, copy->GetRecord(0)->values[3]);
  EXPECT_EQ(0, copy->GetRecord(1)->count);
  EXPECT_NE(n->GetRecord(0)->values, copy->GetRecord(0)->values);
  ASSERT_TRUE(copy->Resize(0));
  EXPECT_EQ(0, copy->GetCount());
  NgonBase::Free(copy);
  NgonBase::Free(n);
}

// A mesh with every kind of geometry data: points, polygons, UVWs, normals, selections and
// n-gon records.
PolygonObject* BuildMesh() {
  PolygonObject* p = PolygonObject::Alloc(5, 2);
  p->SetName(String("mesh"));
  for (Int32 i = 0; i < 5; ++i) p->GetPointW()[i] = Vector64(i, i * 0.5, -i);
  p->GetPolygonW()[0] = CPolygon(0, 1, 2);
  p->GetPolygonW()[1] = CPolygon(1, 2, 3, 77);  // an index outside the points is kept as stored
  UVWTag* uvw = UVWTag::Cast(p->MakeTag(TAG_UVW));
  uvw->SetName(String("uv"));
  NormalTag::Cast(p->MakeTag(TAG_NORMAL));
  p->ResizeObject(5, 2, 2);
  PolygonObjectData* d = Data(p);
  d->GetPointSelection(1).Select(3);
  d->GetPolygonSelection(0).Select(1);
  d->GetPolygonSelection(4).Select(0);
  d->GetPolygonSelection(4).Select(1);
  const UInt32 v[] = {5, 6, 7};
  d->GetNgonBase()->GetRecord(1)->Set(v, 3);
  p->SetRelPos(Vector64(1, 2, 3));
  return p;
}

TEST(PolygonObjectFile, StoredAs1001091AndReloadedAs5100ByteForByte) {
  RootObject list;
  list.InsertLast(BuildMesh());
  const Bytes first = scenetest::WriteNode(list);
  RootObject back;
  ASSERT_TRUE(scenetest::ReadNode(first, back));
  BaseObject* o = back.GetFirst();
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(TYPE_POLYGONOBJECT, o->GetType());
  EXPECT_EQ(TYPE_POLYGONOBJECTDATA_DISK, o->GetDiskType());
  ASSERT_TRUE(o->IsInstanceOf(TYPE_POLYGONOBJECT));
  PolygonObject* p = static_cast<PolygonObject*>(o);
  ASSERT_EQ(5, p->GetPointCount());
  EXPECT_EQ(Vector64(4, 2, -4), p->GetPointR()[4]);
  ASSERT_EQ(2, p->GetPolygonCount());
  EXPECT_EQ(CPolygon(1, 2, 3, 77), p->GetPolygonR()[1]);
  PolygonObjectData* d = Data(o);
  ASSERT_NE(nullptr, d);
  EXPECT_TRUE(d->GetPointSelection(1).IsSelected(3));
  EXPECT_TRUE(d->GetPolygonSelection(0).IsSelected(1));
  EXPECT_EQ(2, d->GetPolygonSelection(4).GetCount());
  ASSERT_NE(nullptr, d->GetNgonBase());
  ASSERT_EQ(2, d->GetNgonBase()->GetCount());
  EXPECT_EQ(3, d->GetNgonBase()->GetRecord(1)->count);
  EXPECT_EQ(7u, d->GetNgonBase()->GetRecord(1)->values[2]);
  EXPECT_EQ(2, UVWTag::Cast(o->GetTag(TAG_UVW))->GetCount());
  EXPECT_EQ(Vector64(1, 2, 3), o->GetRelPos());
  const Bytes second = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                                scenetest::MaskIdentities(second)));
  // Copies carry the data; without n-gons when the flags say so.
  BaseObject* c = o->GetCloneObject(false, COPYFLAGS_NONE, nullptr);
  ASSERT_NE(nullptr, Data(c));
  EXPECT_EQ(2, Data(c)->GetNgonBase()->GetCount());
  EXPECT_TRUE(Data(c)->GetPolygonSelection(0).IsSelected(1));
  EXPECT_EQ(5, static_cast<PolygonObject*>(c)->GetPointCount());
  BaseObject::Free(c);
  c = o->GetCloneObject(false, COPYFLAGS(COPYFLAGS_NO_NGONS), nullptr);
  EXPECT_EQ(nullptr, Data(c)->GetNgonBase());
  BaseObject::Free(c);
}

TEST(PolygonObjectFile, EveryTagKindRoundTripsOnTheObject) {
  RootObject list;
  PolygonObject* p = static_cast<PolygonObject*>(BaseObject::Alloc(TYPE_POLYGONOBJECT));
  list.InsertLast(p);
  ASSERT_NE(nullptr, p->MakeTagList());
  ASSERT_TRUE(tagtest::BuildMesh(*p->GetTagList()));
  ASSERT_EQ(4, p->GetPointCount());
  EXPECT_EQ(p, static_cast<BaseObject*>(p->GetNodeData()->GetTag(TAG_POINT)->GetObject()));
  const Bytes first = scenetest::WriteNode(list);
  RootObject back;
  ASSERT_TRUE(scenetest::ReadNode(first, back));
  PolygonObject* r = static_cast<PolygonObject*>(back.GetFirst());
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(p->GetTagList()->GetCount(), r->GetTagList()->GetCount());
  EXPECT_EQ(CPolygon(0, 2, 3, 9), r->GetPolygonR()[1]);  // kept as stored
  // Transform lock tag (5629) on the read object: the setters do nothing.
  r->SetRelPos(Vector64(1, 1, 1));
  EXPECT_EQ(Vector64(), r->GetRelPos());
  const Bytes second = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                                scenetest::MaskIdentities(second)));
}

TEST(PolygonObjectFile, NoSelectionsNoNgonsNoDataChunks) {
  PolygonObject* p = PolygonObject::Alloc(3, 1);
  lumtest::MemWriter w;
  ASSERT_TRUE(p->WriteObject(&w.hf, 1001091));
  const std::string hex = lumtest::ToHex(w.Finish());
  // The object ends with the transform chunk's order and its end, then the object's end.
  const std::string tail = lumtest::NormHex("0F 00000006 02 02");
  ASSERT_GE(hex.size(), tail.size());
  EXPECT_EQ(tail, hex.substr(hex.size() - tail.size()));
  PolygonObject::Free(p);
}

TEST(PolygonObjectFile, ChecksumIsTheStandardCrcOfTheGeometry) {
  PolygonObject* p = BuildMesh();
  Crc32 crc;
  p->CalculateCrc(crc);
  std::vector<unsigned char> bytes;
  auto put = [&](const void* d, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(d);
    bytes.insert(bytes.end(), b, b + n);
  };
  for (Int32 i = 0; i < p->GetPointCount(); ++i) put(&p->GetPointR()[i], 24);
  for (Int32 i = 0; i < p->GetPolygonCount(); ++i) put(&p->GetPolygonR()[i], 16);
  EXPECT_EQ(BitwiseCrc(bytes), crc.GetCrc());
  // Write stores it after the node's container has gone out: the second write carries it.
  lumtest::MemWriter w;
  ASSERT_TRUE(p->WriteObject(&w.hf, 1001091));
  w.Finish();
  EXPECT_EQ(Int32(BitwiseCrc(bytes)), p->GetDataInstance()->GetInt32(OBJECT_CRC_ENTRY));
  PolygonObject::Free(p);
}

TEST(PolygonObjectFile, ReaderRefusesBadNgonCounts) {
  // An n-gon chunk claiming more records than the file holds, and a negative value count.
  struct Row {
    const char* body;
    FILEERROR error;
  } rows[] = {{"0F 7FFFFFFF", FILEERROR_READ}, {"0F 00000001 0F FFFFFFFF", FILEERROR_WRONG_VALUE},
              {"0F FFFFFFFF", FILEERROR_WRONG_VALUE}, {"0F 00000001 0F 00100000 10 00000001", FILEERROR_READ}};
  for (const Row& r : rows) {
    PolygonObjectData d;
    lumtest::MemReader rd(lumtest::FromHex(std::string(r.body) + " 02"));
    EXPECT_FALSE(d.Read(&rd.hf, CHUNK_NGONS, 1)) << r.body;
    EXPECT_EQ(r.error, rd.hf.GetError()) << r.body;
  }
  // A selection chunk holding something else than a chunk fails as a wrong value; an empty one
  // leaves the selection.
  PolygonObjectData d;
  lumtest::MemReader empty(lumtest::FromHex("02"));
  EXPECT_TRUE(d.Read(&empty.hf, CHUNK_POLYSELECTION_B, 0));
  lumtest::MemReader bad(lumtest::FromHex("0F 00000001 02"));
  EXPECT_FALSE(d.Read(&bad.hf, CHUNK_POLYSELECTION_B, 0));
  EXPECT_EQ(FILEERROR_WRONG_VALUE, bad.hf.GetError());
}

TEST(SplineObject, SettingsSelectionsAndRoundTrip) {
  RootObject list;
  BaseObject* s = BaseObject::Alloc(TYPE_SPLINEOBJECT_OLD);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(TYPE_SPLINEOBJECT, s->GetType());
  EXPECT_EQ(3, s->GetDataInstance()->GetInt32(1001));
  EXPECT_EQ(8, s->GetDataInstance()->GetInt32(1003));
  EXPECT_DOUBLE_EQ(0.08726646259971647, s->GetDataInstance()->GetFloat(1004));
  EXPECT_DOUBLE_EQ(5.0, s->GetDataInstance()->GetFloat(1005));
  PointObjectData* d = static_cast<PointObjectData*>(s->GetNodeData());
  ASSERT_NE(nullptr, d);
  ASSERT_TRUE(d->_ResizeObject(3));
  EXPECT_EQ(3, static_cast<PointObject*>(s)->GetPointCount());
  d->GetPointSelection(0).Select(2);
  list.InsertLast(s);
  const Bytes first = scenetest::WriteNode(list);
  RootObject back;
  ASSERT_TRUE(scenetest::ReadNode(first, back));
  BaseObject* r = back.GetFirst();
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(TYPE_SPLINEOBJECT, r->GetType());
  EXPECT_EQ("Spline", [&] {
    char buf[32] = {};
    r->GetName().GetCString(buf, sizeof buf);
    return std::string(buf);
  }());
  // Mended: the spline's point selections, written among the object's chunks, reach its data.
  ASSERT_NE(nullptr, r->GetNodeData());
  EXPECT_TRUE(static_cast<PointObjectData*>(r->GetNodeData())->GetPointSelection(0).IsSelected(2));
  EXPECT_EQ(3, static_cast<PointObject*>(r)->GetPointCount());
  // Named "Spline" from Alloc on, as reading names it: the first write is final.
  const Bytes second = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                                scenetest::MaskIdentities(second)));
}

// Writes the seeds of the object fuzz target (run by hand with --gtest_also_run_disabled_tests).
TEST(ObjectSeeds, DISABLED_WriteFuzzCorpus) {
  RootObject meshes;
  meshes.InsertLast(BuildMesh());
  BaseObject* spline = BaseObject::Alloc(TYPE_SPLINEOBJECT);
  static_cast<PointObjectData*>(spline->GetNodeData())->_ResizeObject(2);
  static_cast<PointObjectData*>(spline->GetNodeData())->GetPointSelection(1).Select(1);
  meshes.InsertLast(spline);
  BaseObject* parent = BaseObject::Alloc(TYPE_OBJECT);
  parent->SetFrozenPos(Vector64(1, 0, 0));
  parent->SetRotationOrder(ROTATIONORDER_XZY);
  BaseObject* light = BaseObject::Alloc(5102);
  light->InsertUnder(parent);
  light->MakeTag(TAG_TEXTURE);
  meshes.InsertLast(parent);
  BaseObject* single = BaseObject::Alloc(TYPE_OBJECT);
  single->MakeTag(TYPE_TAG_TRANSFORMLOCK);
  struct Seed {
    const char* name;
    Bytes bytes;
    unsigned char version;  // 0 current, 1 before 11600, 2 before 7500
  } seeds[] = {
      {"list", scenetest::WriteNode(meshes), 0},
      {"single", scenetest::WriteNode(*single), 0},
  };
  for (const Seed& s : seeds) {
    Bytes b = s.bytes;
    b.insert(b.begin(), s.version);
    const std::string path = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/object/" + s.name;
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b)) << path;
  }
  BaseObject::Free(single);
}

}  // namespace
