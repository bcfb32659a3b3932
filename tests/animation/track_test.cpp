// Tracks: kinds and names from the description id, curves on demand, parameters, the order and
// lookup of a node's tracks, propagation across the component tracks of a vector, copies, and
// the track chunks at every level with the byte-exact round trip of an animated node.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "anim_support.h"
#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using animtest::AddKeys;
using animtest::Bytes;
using animtest::MaskMarkers;

namespace {

BaseTime Sec(double s) { return BaseTime(s); }

std::string Name(const BaseList2D* n) {
  char buf[64] = {};
  n->GetName().GetCString(buf, sizeof buf);
  return buf;
}

DescID Vec(Int32 id, Int32 component) {
  return DescID(DescLevel(id, DTYPE_VECTOR, 0), DescLevel(component, VALUETYPE_FLOAT, 0));
}

TEST(TrackAlloc, KindNameAndTypeFollowTheDescriptionId) {
  BaseList2D owner(1);
  EXPECT_EQ(nullptr, CTrack::Alloc(nullptr, DescID(903), String("x")));
  struct Case {
    DescID id;
    CTRACKKIND kind;
    Int32 type, disk;
    const char* name;
  } cases[] = {
      {DescID(DescLevel(-1, 0, 0)), CTRACKKIND_VALUE, 5350, 5350, "Time Track"},
      {DescID(DescLevel(903, VALUETYPE_STRING, 0)), CTRACKKIND_DATA, 5350, 5350, "x"},
      {DescID(DescLevel(5, VALUETYPE_INT32, 0)), CTRACKKIND_DATA, 5350, 5350, "x"},
      {DescID(DescLevel(5, VALUETYPE_FLOAT, 0)), CTRACKKIND_VALUE, 5350, 5350, "x"},
      {Vec(903, VECTOR_X), CTRACKKIND_VALUE, 5350, 5350, "x"},
      {DescID(DescLevel(1000, VALUETYPE_INT32, 0)), CTRACKKIND_VALUE, 5350, 5350, "x"},
      {DescID(DescLevel(1029124, 0, 0)), CTRACKKIND_SPECIAL, 1029124, 5353, "x"},
      {DescID(DescLevel(100004812, 0, 0)), CTRACKKIND_SPECIAL, 100004812, 5353, "x"},
  };
  for (const Case& c : cases) {
    CTrack* t = CTrack::Alloc(&owner, c.id, String("x"));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(c.kind, t->GetTrackKind()) << c.id[0].id;
    EXPECT_EQ(c.type, t->GetType()) << c.id[0].id;
    EXPECT_EQ(c.disk, t->GetDiskType()) << c.id[0].id;
    EXPECT_EQ(c.name, Name(t)) << c.id[0].id;
    EXPECT_TRUE(t->IsInstanceOf(5350) && t->IsInstanceOf(c.type) && t->IsInstanceOf(c.disk));
    EXPECT_FALSE(t->IsInstanceOf(5352));
    CTrack::Free(t);
  }
  CTrack* time = CTrack::Alloc(&owner, DescID(DescLevel(-1, 0, 0)), String("x"));
  EXPECT_EQ(VALUETYPE_FLOAT, time->GetDescriptionID()[0].dataType);
  CTrack::Free(time);
}

TEST(TrackCurves, CreatedOnDemandAndNamedBack) {
  CTrack t;
  EXPECT_EQ(t.GetCurve(CCURVE(12), false), t.GetCurve(CCURVE_CURVE, false));
  EXPECT_EQ(t.GetCurve(CCURVE_MAIN, false), t.GetCurve(CCURVE(-3), false));
  EXPECT_EQ(&t, t.GetCurve(CCURVE_CURVE)->GetTrack());
  for (Int32 v = 2; v <= 10; ++v) EXPECT_EQ(nullptr, t.GetCurve(CCURVE(v), false));
  CCurve* c7 = t.GetCurve(CCURVE(7), true);
  ASSERT_NE(nullptr, c7);
  EXPECT_EQ(&t, c7->GetTrack());
  CCURVE which = CCURVE_MAIN;
  EXPECT_TRUE(t.FindCurve(c7, which));
  EXPECT_EQ(7, which);
  EXPECT_TRUE(t.FindCurve(t.GetCurve(CCURVE_MAIN), which));
  EXPECT_EQ(0, which);
  CTrack other;
  EXPECT_FALSE(other.FindCurve(c7, which));
  EXPECT_FALSE(t.FindCurve(nullptr, which));
}

TEST(TrackParameters, BitsSettingsLinkAndTheDocument) {
  static int notified = 0;
  AnimationDocumentHooks hooks;
  hooks.notify = [](BaseDocument*, Int32 code) { notified += code; };
  SetAnimationDocumentHooks(&hooks);
  BaseList2D owner(1), target(2);
  CTrack t;
  GeData v;
  ASSERT_TRUE(t.GetDParameter(DescID(CTRACK_ON), v));
  EXPECT_EQ(1, v.GetInt32());
  ASSERT_TRUE(t.SetDParameter(DescID(CTRACK_ON), GeData(Int32(0))));
  EXPECT_TRUE(t.GetBit(CTRACK_BIT_OFF));
  ASSERT_TRUE(t.GetDParameter(DescID(CTRACK_ON), v));
  EXPECT_EQ(0, v.GetInt32());
  // 905 without a document: the bit changes, the call reports false; with one, it notifies.
  EXPECT_FALSE(t.SetDParameter(DescID(CTRACK_SOLO), GeData(Int32(1))));
  EXPECT_TRUE(t.GetBit(CTRACK_BIT_SOLO));
  ASSERT_TRUE(t.GetDParameter(DescID(CTRACK_SOLO), v));
  EXPECT_EQ(1, v.GetInt32());
  BaseDocument doc;
  owner.SetDocument(&doc);
  t.SetObject(&owner);
  EXPECT_TRUE(t.SetDParameter(DescID(CTRACK_SOLO), GeData(Int32(0))));
  EXPECT_FALSE(t.GetBit(CTRACK_BIT_SOLO));
  ASSERT_TRUE(t.GetDParameter(DescID(CTRACK_SOLO), v));
  EXPECT_EQ(0, v.GetInt32());
  EXPECT_EQ(62, notified);
  for (Int32 on : {1, 0}) {
    ASSERT_TRUE(t.SetDParameter(DescID(CTRACK_LOCKED), GeData(on)));
    EXPECT_EQ(on == 1, t.GetBit(CTRACK_BIT_LOCKED));
  }
  for (Int32 id : {CTRACK_SETTING_A, CTRACK_SETTING_B}) {
    ASSERT_TRUE(t.GetDParameter(DescID(id), v));
    EXPECT_EQ(1, v.GetInt32());
    ASSERT_TRUE(t.SetDParameter(DescID(id), GeData(id)));
    ASSERT_TRUE(t.GetDParameter(DescID(id), v));
    EXPECT_EQ(id, v.GetInt32());
  }
  BaseLink link;
  link.SetLink(&target);
  ASSERT_TRUE(t.SetDParameter(DescID(CTRACK_LINK), GeData(link)));
  ASSERT_TRUE(t.GetDParameter(DescID(CTRACK_LINK), v));
  EXPECT_EQ(&target, v.GetLink());
  ASSERT_TRUE(t.SetDParameter(DescID(CTRACK_LINK), GeData()));
  EXPECT_TRUE(t.GetLink().IsEmpty());
  ASSERT_TRUE(t.SetDParameter(DescID(4711), GeData(Int32(3))));  // the container
  EXPECT_EQ(3, t.GetDataInstance()->GetInt32(4711));
  ASSERT_TRUE(t.GetDParameter(DescID(4711), v));
  EXPECT_EQ(3, v.GetInt32());
  ASSERT_TRUE(t.SetDParameter(DescID(CTRACK_ON), GeData(Int32(1))));
  EXPECT_FALSE(t.GetBit(CTRACK_BIT_OFF));
  SetAnimationDocumentHooks(nullptr);
}

// ---- the node's tracks ----

std::string Order(BaseList2D& node) {
  std::string s;
  for (CTrack* t = node.GetFirstCTrack(); t != nullptr; t = t->GetNext()) {
    const DescID& id = t->GetDescriptionID();
    for (Int32 i = 0; i < id.GetDepth(); ++i) s += (i ? "." : "") + std::to_string(id[i].id);
    s += " ";
  }
  return s;
}

TEST(NodeTracks, ObjectsOrderScaleBeforeRotationAndSynchroniseQuaternionRotation) {
  for (bool object : {true, false}) {
    BaseList2D node(object ? TYPE_ANYOBJECT : 1);
    node.GetDataInstance()->SetInt32(929, 1);  // rotates by quaternions
    CTrack* rot = CTrack::Alloc(&node, Vec(904, VECTOR_X), String("r"));
    ASSERT_TRUE(node.InsertTrackSorted(rot));
    EXPECT_EQ(object, rot->IsSynchronized());
    EXPECT_EQ(&node, rot->GetObject());
    EXPECT_FALSE(node.InsertTrackSorted(rot));  // already in a list
    for (DescID id : {Vec(905, VECTOR_X), Vec(903, VECTOR_Y), Vec(903, VECTOR_X), DescID(1000)})
      ASSERT_TRUE(node.InsertTrackSorted(CTrack::Alloc(&node, id, String("t"))));
    EXPECT_EQ(object ? "903.1000 903.1001 905.1000 904.1000 1000 "
                     : "903.1000 903.1001 904.1000 905.1000 1000 ",
              Order(node));
    EXPECT_EQ(node.GetFirstCTrack(), C_FindTrack(&node, DescID(903)));
    EXPECT_EQ(node.GetFirstCTrack()->GetNext(), C_FindTrack(&node, Vec(903, VECTOR_Y)));
    EXPECT_EQ(nullptr, C_FindTrack(&node, DescID(906)));
    EXPECT_EQ(nullptr, C_FindTrack(&node, DescID()));
    EXPECT_EQ(nullptr, C_FindTrack(nullptr, DescID(903)));
  }
}

// A node with the three component tracks of vector 904, synchronised, each with keys at 0 and
// 1 s in the main curve and in curve 7.
struct VectorTracks {
  BaseList2D node{TYPE_ANYOBJECT};
  CTrack* t[3] = {};
  VectorTracks() {
    for (Int32 i = 0; i < 3; ++i) {
      t[i] = CTrack::Alloc(&node, Vec(904, VECTOR_X + i), String("c"));
      t[i]->SetSynchronized(true);
      EXPECT_TRUE(node.InsertTrackSorted(t[i]));
      for (CCURVE w : {CCURVE_CURVE, CCURVE(7)})
        AddKeys(*t[i]->GetCurve(w, true), {{0, 1}, {1, 2}});
    }
  }
};

TEST(NodeTracks, FlushAndQuaternionSettingGoToTheComponentCurves) {
  {
    VectorTracks v;
    v.t[1]->GetCurve(CCURVE(7), false)->FlushKeys(true);
    for (Int32 i = 0; i < 3; ++i) {
      EXPECT_EQ(0, v.t[i]->GetCurve(CCURVE(7), false)->GetKeyCount()) << i;
      EXPECT_EQ(2, v.t[i]->GetCurve(CCURVE_CURVE, false)->GetKeyCount()) << i;
    }
  }
  {
    VectorTracks v;  // not synchronised: only the curve itself
    v.t[0]->SetSynchronized(false);
    v.t[0]->GetCurve()->FlushKeys(true);
    EXPECT_EQ(0, v.t[0]->GetCurve()->GetKeyCount());
    EXPECT_EQ(2, v.t[1]->GetCurve()->GetKeyCount());
  }
  {
    VectorTracks v;  // synchronised but without a node: nothing at all
    v.t[2]->SetObject(nullptr);
    v.t[2]->GetCurve()->FlushKeys(true);
    EXPECT_EQ(2, v.t[2]->GetCurve()->GetKeyCount());
  }
  {
    VectorTracks v;
    CCurve* c = v.t[0]->GetCurve();
    c->GetKey(1)->SetQuatInterpolationI(c, ROTATIONINTERPOLATION_QUATERNION_CUBIC, true);
    for (Int32 i = 0; i < 3; ++i) {
      EXPECT_EQ(3, v.t[i]->GetCurve()->GetKey(1)->GetQuatInterpolation()) << i;
      EXPECT_EQ(2, v.t[i]->GetCurve()->GetKey(0)->GetQuatInterpolation()) << i;
      EXPECT_EQ(2, v.t[i]->GetCurve(CCURVE(7), false)->GetKey(1)->GetQuatInterpolation()) << i;
    }
    ASSERT_TRUE(c->GetKey(0)->SetDParameter(DescID(CKEY_QUATINTERPOLATION), GeData(Int32(3))));
    EXPECT_EQ(3, v.t[2]->GetCurve()->GetKey(0)->GetQuatInterpolation());
    c->GetKey(0)->SetQuatInterpolationI(c, ROTATIONINTERPOLATION_QUATERNION_SLERP, false);
    EXPECT_EQ(3, v.t[2]->GetCurve()->GetKey(0)->GetQuatInterpolation());
  }
}

TEST(NodeTracks, KeyValuesFollowTheTrackKind) {
  BaseList2D node(1);
  CTrack* data = CTrack::Alloc(&node, DescID(DescLevel(903, VALUETYPE_STRING, 0)), String("d"));
  ASSERT_TRUE(node.InsertTrackSorted(data));
  CKey* k = data->GetCurve()->AddKey(Sec(1));
  ASSERT_TRUE(k->SetDParameter(DescID(CKEY_VALUE), GeData(String("on"))));
  GeData v;
  ASSERT_TRUE(k->GetDParameter(DescID(CKEY_VALUE), v));
  EXPECT_EQ(String("on"), v.GetString());
  CTrack* special = CTrack::Alloc(&node, DescID(100004822), String("s"));
  ASSERT_TRUE(node.InsertTrackSorted(special));
  k = special->GetCurve()->AddKey(Sec(1));
  lumtest::ResetAlerts();
  EXPECT_FALSE(k->GetDParameter(DescID(CKEY_VALUE), v));
  EXPECT_EQ(1, lumtest::AlertCount());
}

// ---- copies ----

TEST(TrackCopy, CurvesAndTheirFlags) {
  BaseList2D node(1);
  CTrack* src = CTrack::Alloc(&node, Vec(903, VECTOR_X), String("s"));
  ASSERT_TRUE(node.InsertTrackSorted(src));
  AddKeys(*src->GetCurve(), {{0, 1}, {1, 2}, {2, 3}});
  AddKeys(*src->GetCurve(CCURVE(9), true), {{5, 5}});
  ASSERT_TRUE(src->SetDParameter(DescID(CTRACK_SETTING_B), GeData(Int32(4))));
  src->SetSynchronized(true);

  CTrack dest;
  AddKeys(*dest.GetCurve(CCURVE(3), true), {{1, 1}});  // the source has no curve 3
  ASSERT_TRUE(src->CopyTo(&dest, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(3, dest.GetCurve()->GetKeyCount());
  EXPECT_EQ(&dest, dest.GetCurve()->GetKey(2)->GetCurve()->GetTrack());
  EXPECT_EQ(1, dest.GetCurve(CCURVE(9), false)->GetKeyCount());
  ASSERT_NE(nullptr, dest.GetCurve(CCURVE(3), false));
  EXPECT_EQ(0, dest.GetCurve(CCURVE(3), false)->GetKeyCount());  // stays, empty
  EXPECT_EQ(src->GetDescriptionID(), dest.GetDescriptionID());
  EXPECT_TRUE(dest.IsSynchronized());
  GeData v;
  ASSERT_TRUE(dest.GetDParameter(DescID(CTRACK_SETTING_B), v));
  EXPECT_EQ(4, v.GetInt32());

  CTrack bare;
  AddKeys(*bare.GetCurve(), {{7, 7}});
  ASSERT_TRUE(src->CopyTo(&bare, COPYFLAGS_NO_BRANCHES, nullptr));
  EXPECT_EQ(1, bare.GetCurve()->GetKeyCount());  // curves left alone
  EXPECT_EQ(src->GetDescriptionID(), bare.GetDescriptionID());

  // A node's copy carries its tracks, with the copy as their node.
  BaseList2D copy(1);
  ASSERT_TRUE(node.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, copy.GetFirstCTrack());
  EXPECT_EQ(&copy, copy.GetFirstCTrack()->GetObject());
  EXPECT_EQ(3, copy.GetFirstCTrack()->GetCurve()->GetKeyCount());
  CTrack* clone = static_cast<CTrack*>(src->GetClone(COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(1, clone->GetCurve(CCURVE(9), false)->GetKeyCount());
  CTrack::Free(clone);
}

// ---- files ----

// An animated node: a vector track with many keys and further curves, a data track, a special
// track and the time track.
void Animate(BaseList2D& node, int keys = 300) {
  CTrack* x = CTrack::Alloc(&node, Vec(903, VECTOR_X), String("x"));
  ASSERT_TRUE(node.InsertTrackSorted(x));
  for (int i = 0; i < keys; ++i) {
    CKey* k = x->GetCurve()->AddKey(BaseTime(i, 30));
    k->SetValue(nullptr, i * 0.5);
    k->SetValueLeft(nullptr, -0.1 * i);
    k->SetTimeRight(nullptr, BaseTime(1, 90));
    if (i % 7 == 0) k->ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_SET);
  }
  AddKeys(*x->GetCurve(CCURVE(2), true), {{0, 1}});
  AddKeys(*x->GetCurve(CCURVE(10), true), {{0, 1}, {2, 3}});
  x->SetSynchronized(true);
  CTrack* d = CTrack::Alloc(&node, DescID(DescLevel(1001, VALUETYPE_STRING, 0)), String("d"));
  ASSERT_TRUE(node.InsertTrackSorted(d));
  d->GetCurve()->AddKey(Sec(1))->SetGeData(nullptr, GeData(String("text")));
  CTrack* s = CTrack::Alloc(&node, DescID(1029124), String("special"));
  ASSERT_TRUE(node.InsertTrackSorted(s));
  AddKeys(*s->GetCurve(), {{0, 0}, {3, 1}});
  CTrack* t = CTrack::Alloc(&node, DescID(DescLevel(-1, 0, 0)), String(""));
  ASSERT_TRUE(node.InsertTrackSorted(t));
  AddKeys(*t->GetCurve(), {{0, 0}, {10, 10}});
  BaseLink link;
  link.SetLink(&node);
  t->SetDParameter(DescID(CTRACK_LINK), GeData(link));
}

TEST(TrackFile, AnAnimatedNodeRoundTripsByteForByte) {
  BaseList2D node(1);
  Animate(node);
  const Bytes written = scenetest::WriteNode(node);
  BaseList2D back(1);
  ASSERT_TRUE(scenetest::ReadNode(written, back));
  const Bytes again = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(MaskMarkers(written), MaskMarkers(again)));
  EXPECT_EQ(Order(node), Order(back));
  CTrack* x = C_FindTrack(&back, DescID(903));
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(&back, x->GetObject());
  EXPECT_TRUE(x->IsSynchronized());
  EXPECT_EQ(300, x->GetCurve()->GetKeyCount());
  EXPECT_EQ(x->GetCurve(), x->GetCurve()->GetKey(299)->GetCurve());
  EXPECT_EQ(nullptr, x->GetCurve(CCURVE(3), false));  // written empty, not kept
  EXPECT_EQ(2, x->GetCurve(CCURVE(10), false)->GetKeyCount());
  CTrack* special = C_FindTrack(&back, DescID(1029124));
  ASSERT_NE(nullptr, special);
  EXPECT_EQ(1029124, special->GetType());
  EXPECT_EQ("special", Name(special));
  CTrack* time = C_FindTrack(&back, DescID(-1));
  ASSERT_NE(nullptr, time);
  EXPECT_EQ(&back, time->GetLink().GetLink());
  // Copies write the same bytes.
  BaseList2D copy(1);
  ASSERT_TRUE(back.CopyTo(&copy, COPYFLAGS_NONE, nullptr));  // the link follows to the copy
  EXPECT_EQ("equal", scenetest::FirstDifference(MaskMarkers(written),
                                                MaskMarkers(scenetest::WriteNode(copy))));
}

// Reads the track's sub-chunks; returns the reader positioned inside chunk 110418.
bool EnterCurveChunk(HyperFile& hf, Int32* level) {
  if (!hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) || !hf.ReadChunkStart(nullptr, nullptr)) return false;
  for (;;) {
    Int32 id = 0;
    if (!hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) || !hf.ReadChunkStart(&id, level)) return false;
    if (id == CHUNK_CTRACK_CURVES) return true;
    if (!hf.SkipToEndChunk()) return false;
  }
}

TEST(TrackFile, OnlyAMainCurveWritesThreeEmptyCurvesAndSixFalseBools) {
  BaseList2D node(1);
  CTrack t;
  AddKeys(*t.GetCurve(), {{1, 1}});
  lumtest::MemReader r(scenetest::WriteNode(t));
  Int32 level = 0;
  ASSERT_TRUE(EnterCurveChunk(r.hf, &level));
  EXPECT_EQ(3, level);
  for (int i = 0; i < 4; ++i) {
    Int32 id = 0;
    ASSERT_TRUE(r.hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && r.hf.ReadChunkStart(&id, nullptr));
    EXPECT_EQ(CHUNK_CCURVE, id);
    CCurve c;
    ASSERT_TRUE(c.ReadChunk(&r.hf, true, false));
    EXPECT_EQ(i == 0 ? 1 : 0, c.GetKeyCount());
  }
  for (int i = 0; i < 6; ++i) {
    bool b = true;
    ASSERT_TRUE(r.hf.ReadBool(&b));
    EXPECT_FALSE(b);
  }
  HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
  ASSERT_TRUE(r.hf.ReadValueHeader(&kind));
  EXPECT_EQ(HYPERFILEVALUE_CHUNKEND, kind);
}

// A track chunk written by hand: curves chunk at curveLevel (main curve with one key, curve 2
// empty, further curves 3, 4 and 5 with keys where the level has them), data chunk at
// dataLevel.
Bytes TrackAtLevels(Int32 curveLevel, Int32 dataLevel) {
  return lumtest::WriteStream([&](HyperFile& hf) {
    CCurve one, empty;
    AddKeys(one, {{1, 1}});
    BaseLink none;
    bool ok = hf.WriteChunkStart(5350, 0) && hf.WriteChunkStart(CHUNK_CTRACK_CURVES, curveLevel);
    ok = ok && one.WriteObject(&hf, CHUNK_CCURVE) && empty.WriteObject(&hf, CHUNK_CCURVE) &&
         one.WriteObject(&hf, CHUNK_CCURVE);
    if (curveLevel >= 1) ok = ok && one.WriteObject(&hf, CHUNK_CCURVE);
    if (curveLevel == 2)
      for (int i = 0; i < 8; ++i) ok = ok && one.WriteObject(&hf, CHUNK_CCURVE);
    if (curveLevel >= 3) {
      ok = ok && hf.WriteBool(true) && one.WriteObject(&hf, CHUNK_CCURVE);
      for (int i = 0; i < 5; ++i) ok = ok && hf.WriteBool(false);
    }
    ok = ok && hf.WriteInt32(77) && hf.WriteChunkEnd();  // 77: a newer field, skipped
    ok = ok && hf.WriteChunkStart(CHUNK_CTRACK_DATA, dataLevel) && hf.WriteInt32(5) &&
         hf.WriteInt32(6) && none.Write(&hf) && Vec(903, VECTOR_Y).Write(&hf);
    if (dataLevel > 0) ok = ok && hf.WriteInt32(CTRACKKIND_DATA);
    if (dataLevel >= 2)
      for (Int32 i = 0; i < 4; ++i) ok = ok && hf.WriteInt32(10 + i);
    if (dataLevel > 2) ok = ok && hf.WriteBool(true);
    return ok && hf.WriteChunkEnd() && hf.WriteChunkEnd();
  });
}

TEST(TrackFile, EveryLevelOfBothChunksReads) {
  for (Int32 level = 0; level <= 4; ++level) {
    BaseList2D node(1);
    RootCTrack list;
    list.SetOwner(&node);
    Bytes b = TrackAtLevels(level, level);
    lumtest::MemReader r(b);
    CTrack t;
    ASSERT_TRUE(t.ReadObject(&r.hf, true)) << level;
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(1, t.GetCurve()->GetKeyCount());
    EXPECT_EQ(nullptr, t.GetCurve(CCURVE(2), false)) << level;  // read without keys: freed
    EXPECT_NE(nullptr, t.GetCurve(CCURVE(3), false)) << level;
    EXPECT_EQ(level >= 1, t.GetCurve(CCURVE(4), false) != nullptr) << level;
    EXPECT_EQ(level >= 3, t.GetCurve(CCURVE(5), false) != nullptr) << level;
    for (Int32 v = 6; v <= 10; ++v) EXPECT_EQ(nullptr, t.GetCurve(CCURVE(v), false)) << level;
    EXPECT_EQ(Vec(903, VECTOR_Y), t.GetDescriptionID());
    GeData v;
    ASSERT_TRUE(t.GetDParameter(DescID(CTRACK_SETTING_A), v));
    EXPECT_EQ(5, v.GetInt32());
    EXPECT_EQ(level > 0 ? CTRACKKIND_DATA : CTRACKKIND_UNSET, t.GetTrackKind());
    EXPECT_EQ(level >= 2 ? 13 : -1, t.GetReserved(3));
    EXPECT_EQ(level > 2, t.IsSynchronized());
  }
  // A negative level reads nothing of the curves.
  CTrack t;
  lumtest::MemReader r(TrackAtLevels(-1, 3));
  ASSERT_TRUE(t.ReadObject(&r.hf, true));
  EXPECT_EQ(0, t.GetCurve()->GetKeyCount());
}

TEST(TrackFile, ListsOfTracksAndTheirFailures) {
  BaseList2D node(1);
  Animate(node);
  RootCTrack* list = static_cast<RootCTrack*>(node.GetAttachedList(ATTACHEDLIST_TRACKS));
  ASSERT_NE(nullptr, list);
  const Bytes written = scenetest::WriteNode(*list);
  RootCTrack back;
  ASSERT_TRUE(scenetest::ReadNode(written, back));
  EXPECT_EQ(4, back.GetCount());
  EXPECT_EQ(nullptr, back.GetFirst()->GetObject());  // a list without a node
  // An empty list still writes its member chunk.
  RootCTrack empty;
  EXPECT_EQ(lumtest::NormHex("01 00000001 00000000 01 0001AE14 00000000 02 02"),
            lumtest::ToHex(scenetest::WriteNode(empty)));
  // A track cut short fails the list.
  Bytes cut(written.begin(), written.begin() + written.size() / 2);
  RootCTrack part;
  EXPECT_FALSE(scenetest::ReadNode(cut, part));
}

// Writes the seeds of fuzz/track_fuzz.cpp. Run by hand:
//   track_test --gtest_also_run_disabled_tests --gtest_filter=TrackSeeds.*
TEST(TrackSeeds, DISABLED_WriteFuzzCorpus) {
  BaseList2D node(1);
  Animate(node, 8);
  auto list = [](const Bytes& track) {
    Bytes b = lumtest::FromHex("01 00000001 00000000 01 0001AE14 00000000");
    b.insert(b.end(), track.begin(), track.end());
    for (int i = 0; i < 2; ++i) b.push_back(0x02);
    return b;
  };
  struct Seed {
    const char* name;
    Bytes bytes;
  } seeds[] = {
      {"node", scenetest::WriteNode(node)},
      {"list", scenetest::WriteNode(*node.GetAttachedList(ATTACHEDLIST_TRACKS))},
      {"levels-0", list(TrackAtLevels(0, 0))},
      {"levels-2", list(TrackAtLevels(2, 1))},
  };
  for (const Seed& s : seeds) {
    const std::string path = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/track/" + s.name;
    ASSERT_TRUE(lumtest::WriteFileBytes(path, s.bytes)) << path;
  }
}

}  // namespace

// On real objects 905 sorts before 904, and a rotation track is synchronised in quaternion mode.
TEST(TrackOrder, RealObjectsOrderScaleBeforeRotationAndSynchroniseQuaternions) {
  for (bool quat : {true, false}) {
    BaseObject* o = BaseObject::Alloc(5154);
    ASSERT_NE(nullptr, o);
    ASSERT_TRUE(o->SetParameter(929, GeData(Int32(quat ? 1 : 0))));
    EXPECT_EQ(quat, o->IsQuaternionRotationMode());
    CTrack* rot =
        CTrack::Alloc(o, DescID(DescLevel(904, 23, 0), DescLevel(1000, 19, 0)), String("r"));
    CTrack* scale =
        CTrack::Alloc(o, DescID(DescLevel(905, 23, 0), DescLevel(1000, 19, 0)), String("s"));
    ASSERT_TRUE(o->InsertTrackSorted(rot));
    ASSERT_TRUE(o->InsertTrackSorted(scale));
    EXPECT_EQ(quat, rot->IsSynchronized());
    EXPECT_EQ(scale, o->GetFirstCTrack());
    EXPECT_EQ(rot, scale->GetNext());
    EXPECT_EQ(o, rot->GetObject());
    BaseObject::Free(o);
  }
}
