// Variable tags: the bytes of every kind against literal bytes, the older layouts, the packed
// texture coordinates, the two vertex-colour layouts and their conversion, the resize rules,
// counts from a file that the bytes left cannot hold, and reads that fail part way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "../scene/scene_support.h"
#include "lumora.h"
#include "stream_support.h"
#include "tag_support.h"
#include "test_support.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }

UInt32 Bits32(Float32 f) {
  UInt32 b;
  std::memcpy(&b, &f, 4);
  return b;
}

// The tag's own chunk: what its Write puts after the named node's chunks (the last chunk of
// that id), without the tag's closing chunk end.
std::string OwnChunk(BaseTag& tag, Int32 id) {
  const Bytes all = scenetest::WriteNode(tag);
  const unsigned char start[5] = {1, UChar(id >> 24), UChar(id >> 16), UChar(id >> 8), UChar(id)};
  for (size_t i = all.size() - 5; i-- > 0;)
    if (std::memcmp(&all[i], start, 5) == 0)
      return lumtest::ToHex(all.data() + i, all.size() - 1 - i);
  return "chunk missing";
}

// A tag of type read from one node chunk holding body, at the file version.
BaseTag* ReadTag(Int32 type, const std::string& body, Int32 version = HYPERFILE_CURRENT_VERSION,
                 bool float32 = false, FILEERROR* error = nullptr) {
  BaseTag* tag = BaseTag::Alloc(type);
  lumtest::MemReader r(H("01 00000001 00000000" + body + "02"), version, float32);
  const bool ok = tag->ReadObject(&r.hf, true);
  if (error != nullptr) *error = r.hf.GetError();
  if (!ok && error == nullptr) BaseTag::Free(tag);
  return tag;
}

TEST(VariableTag, EveryKindWritesItsLiteralBytes) {
  struct Row {
    Int32 type;
    std::function<void(BaseTag*)> fill;
    std::string hex;
  } rows[] = {
      {TAG_POINT,
       [](BaseTag* t) {
         PointTag* p = PointTag::Cast(t);
         p->Resize(3);
         for (Int32 i = 0; i < 3; ++i)
           p->GetPointW()[i] = Vector64(1 + 3 * i, 2 + 3 * i, 3 + 3 * i);
       },
       "01 000015E0 00000000 0F 00000003"
       " 8C 00000019 06 3FF0000000000000 4010000000000000 401C000000000000"
       " 8C 00000019 06 4000000000000000 4014000000000000 4020000000000000"
       " 8C 00000019 06 4008000000000000 4018000000000000 4022000000000000 02"},
      {TAG_POINT, [](BaseTag*) {}, "01 000015E0 00000000 0F 00000000 02"},
      {TAG_POLYGON,
       [](BaseTag* t) {
         PolygonTag* p = PolygonTag::Cast(t);
         p->Resize(2);
         p->GetPolygonW()[0] = CPolygon(0, 1, 2, 2);
         p->GetPolygonW()[1] = CPolygon(2, 3, 4, 5);
       },
       "01 000015E4 00000000 0F 00000002 8C 00000009 03 00000000 00000002"
       " 8C 00000009 03 00000001 00000003 8C 00000009 03 00000002 00000004"
       " 8C 00000009 03 00000002 00000005 02"},
      {TAG_UVW,
       [](BaseTag* t) {
         UVWTag* u = UVWTag::Cast(t);
         u->Resize(1);
         u->Set(0, UVWStruct{Vector64(0.5, 0.25, 0), Vector64(1, 0, 0), Vector64(), Vector64()});
         u->SetSetting(true);
       },
       "01 00001627 00000004 0F 00000001 8C 00000021 03 3F000000 3E800000 3F800000 00000000"
       " 00000000 00000000 00000000 00000000 15 01 15 00 02"},
      {TAG_NORMAL,
       [](BaseTag* t) {
         NormalTag* n = NormalTag::Cast(t);
         n->Resize(1);
         n->Set(0, NormalStruct{Vector64(0, 0, 1), Vector64(0, -1, 0), Vector64(), Vector64()});
       },
       "01 0000164F 00000000 0F 00000001 8C 00000019 02 0000 0000 7D00 0000 8300 0000"
       " 0000 0000 0000 0000 0000 0000 02"},
      {TAG_VERTEXMAP,
       [](BaseTag* t) {
         VertexMapTag* v = VertexMapTag::Cast(t);
         v->Resize(2);
         v->GetWeightW()[1] = 0.5f;
       },
       "01 00001632 00000000 0F 00000002 8C 00000009 05 00000000 3F000000 02"},
      {TAG_TANGENT,
       [](BaseTag* t) {
         TangentTag* g = TangentTag::Cast(t);
         g->Resize(1);
         g->GetTangentW()[0] = Tangent{Vector64(1, 0, 0), Vector64(0, 0, -2)};
       },
       "01 000015F1 00000000 0F 00000001 17 3FF0000000000000 0000000000000000 0000000000000000"
       " 17 0000000000000000 0000000000000000 C000000000000000 02"},
      {TAG_SEGMENT,
       [](BaseTag* t) {
         SegmentTag* s = SegmentTag::Cast(t);
         s->Resize(2);
         s->GetSegmentW()[0] = Segment{3, true};
         s->GetSegmentW()[1] = Segment{4, false};
       },
       "01 00001628 00000000 0F 00000002 0F 00000003 15 01 0F 00000004 15 00 02"},
      {TAG_VERTEXCOLOR,
       [](BaseTag* t) {
         VertexColorTag* c = VertexColorTag::Cast(t);
         c->Resize(1, VertexColorTag::POINT_BYTES);
         c->GetColorW()[0] = ColorA32{1.0f, 0.5f, 0.25f, 0.0f};
       },
       "01 19B089ED 00000000 0F 00000001 1B 3F800000 3F000000 3E800000 1D 00000000 02"},
      {TAG_VERTEXCOLOR,
       [](BaseTag* t) {
         VertexColorTag* c = VertexColorTag::Cast(t);
         c->SetPerPointColor(false);
         c->Resize(1, VertexColorTag::POLYGON_BYTES);
         c->GetColorW()[3].a = 1.0f;
       },
       "01 19B089ED 00000000 0F 00000001 1B 00000000 00000000 00000000 1D 00000000"
       " 1B 00000000 00000000 00000000 1D 00000000 1B 00000000 00000000 00000000 1D 00000000"
       " 1B 00000000 00000000 00000000 1D 3F800000 02"},
      {TAG_EDGESELECTION, [](BaseTag* t) { SelectionTag::Cast(t)->GetBaseSelect()->Select(4); },
       "01 0001ADBB 00000001 0F 00000001 0F 00000004 0F 00000004 0F 00000000 02"},
  };
  for (const Row& r : rows) {
    BaseTag* tag = BaseTag::Alloc(r.type);
    r.fill(tag);
    const Int32 id = r.type == TAG_EDGESELECTION ? 110011 : r.type;
    EXPECT_EQ(lumtest::NormHex(r.hex), OwnChunk(*tag, id)) << r.type;
    // What is read back writes the same bytes.
    BaseTag* back = BaseTag::Alloc(r.type);
    ASSERT_TRUE(scenetest::ReadNode(scenetest::WriteNode(*tag), *back)) << r.type;
    EXPECT_EQ(lumtest::NormHex(r.hex), OwnChunk(*back, id)) << r.type;
    BaseTag::Free(back);
    BaseTag::Free(tag);
  }
}

TEST(VariableTag, OlderLayoutsAreRead) {
  struct Row {
    Int32 type, version;
    bool float32;
    std::string body;
    std::function<bool(BaseTag*)> check;
  } rows[] = {
      // One vector array of 32-bit floats.
      {TAG_POINT, 11000, true, "01 000015E0 00000000 85 0000000C 3F800000 40000000 40400000 02",
       [](BaseTag* t) {
         const PointTag* p = PointTag::Cast(t);
         return p->GetCount() == 1 && p->GetPointR()[0] == Vector64(1, 2, 3);
       }},
      // A polygon array of small (UInt16) indices.
      {TAG_POLYGON, 11000, false,
       "01 000015E4 00000000 86 00000008 01000000 0001 0002 0003 0003 02",
       [](BaseTag* t) {
         const PolygonTag* p = PolygonTag::Cast(t);
         return p->GetCount() == 1 && p->GetPolygonR()[0] == CPolygon(1, 2, 3, 3);
       }},
      // Level 2: the words as a Float32 array, then the setting.
      {TAG_UVW, 12000, false,
       "01 00001627 00000002 89 00000020 3F000000 3E800000 00000000 00000000 00000000 00000000"
       " 00000000 00000000 15 01 02",
       [](BaseTag* t) {
         const UVWTag* u = UVWTag::Cast(t);
         return u->GetCount() == 1 && u->GetSetting() && u->Get(0).a == Vector64(0.5, 0.25, 0);
       }},
      // Level 1: count and words, no settings.
      {TAG_UVW, 12000, false,
       "01 00001627 00000001 0F 00000001 8C 00000021 03 3F800000 00000000 00000000 00000000"
       " 00000000 00000000 00000000 00000000 02",
       [](BaseTag* t) { return UVWTag::Cast(t)->Get(0).a == Vector64(1, 0, 0); }},
      // Before version 11600, level 0: fixed point, the top two bits choose the factor, the
      // other fourteen hold a two's-complement value (-5 * 0.002 here).
      {TAG_UVW, 11000, false,
       "01 00001627 00000000 87 00000018 C005 7FFB 0000 0000 0000 0000 0000 0000 0000"
       " 0000 0000 0000 02",
       [](BaseTag* t) {
         const Vector64 a = UVWTag::Cast(t)->Get(0).a;
         return a.x == 1.0 && std::fabs(a.y + 0.01) < 1e-6 && a.z == 0;
       }},
      // Before version 11600, level 4: four vectors per polygon and both Bools.
      {TAG_UVW, 11000, true,
       "01 00001627 00000004 85 00000030 3F000000 3E800000 3F800000 00000000 00000000 00000000"
       " 00000000 00000000 00000000 00000000 00000000 00000000 15 01 15 00 02",
       [](BaseTag* t) {
         const UVWTag* u = UVWTag::Cast(t);
         return u->GetSetting() && u->Get(0).a == Vector64(0.5, 0.25, 1);
       }},
      // One UInt16 array, twelve values a polygon.
      {TAG_NORMAL, 11000, false,
       "01 0000164F 00000000 87 00000018 0000 0000 7D00 0000 0000 0000 0000 0000 0000 0000 0000"
       " 0000 02",
       [](BaseTag* t) { return NormalTag::Cast(t)->Get(0).a == Vector64(0, 0, 1); }},
      // A name (taken in files before 7500), then a Float32 array.
      {TAG_VERTEXMAP, 7000, false, "01 00001632 00000000 82 00000002 0041 89 00000004 3F000000 02",
       [](BaseTag* t) {
         return VertexMapTag::Cast(t)->GetCount() == 1 && t->GetName().GetLength() == 1;
       }},
  };
  for (const Row& r : rows) {
    BaseTag* tag = ReadTag(r.type, r.body, r.version, r.float32);
    ASSERT_NE(nullptr, tag) << r.type << " " << r.version;
    EXPECT_TRUE(r.check(tag)) << r.type << " " << r.version;
    BaseTag::Free(tag);
  }
}

TEST(VariableTag, AUVWTagReadWithoutANameIsNamedUVW) {
  UVWTag unnamed;
  BaseTag* back = BaseTag::Alloc(TAG_UVW);
  ASSERT_TRUE(scenetest::ReadNode(scenetest::WriteNode(unnamed), *back));
  char buf[8];
  back->GetName().GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  EXPECT_STREQ("UVW", buf);
  GeData v;
  ASSERT_TRUE(back->SetDParameter(DescID(UVWTag::SETTING), GeData(Int32(1))));
  ASSERT_TRUE(back->GetDParameter(DescID(UVWTag::SETTING), v));
  EXPECT_EQ(1, v.GetInt32());
  // Other parameters are the named node's.
  ASSERT_TRUE(back->SetDParameter(DescID(1234), GeData(Int32(4))));
  ASSERT_TRUE(back->GetDParameter(DescID(1234), v));
  EXPECT_EQ(4, v.GetInt32());
  BaseTag::Free(back);
}

TEST(SmallUVW, FromVectorBitPatterns) {
  struct Row {
    Vector64 v;
    UInt32 word0, word1;
    Vector64 decoded;
  } rows[] = {
      {Vector64(0.5, 0.25, 0), 0x3F000000, 0x3E800000, Vector64(0.5, 0.25, 0)},
      // Exponent fields 14, 13, 15 and bit 0 set.
      {Vector64(0.5, 0.25, 1), 0x00000000, (14u << 11) | (13u << 6) | (15u << 1) | 1u,
       Vector64(0.5, 0.25, 1)},
      // Clamped to -100000; bit 0 of v's bits cleared.
      {Vector64(0, -200000, 0), 0x00000000, 0xC7C35000, Vector64(0, -100000, 0)},
      {Vector64(0, 1.00000011920928955, 0), 0x00000000, 0x3F800000, Vector64(0, 1, 0)},
      // Signs and top mantissa bits; 1.75 has mantissa 0x600000.
      {Vector64(-1.75, 3, -2), 0x80004000 | (0x6000u << 16) | 0x4000u,
       0x80000000u | (15u << 11) | (16u << 6) | (16u << 1) | 1u, Vector64(-1.75, 3, -2)},
      // Exponent field 0 (below 2^-15) decodes as 0; 100000 and beyond take field 31.
      {Vector64(1e-5, 0.5, 1e6), 0x00000000 | ((Bits32(1e-5f) >> 8 & 0x7FFF) << 16),
       (Bits32(100000.0f) >> 8 & 0x7FFF) << 16 | (0u << 11) | (14u << 6) | (31u << 1) | 1u,
       Vector64(0, 0.5, 100000)},
      // Not a number is stored as 0; a negative value too small for a field decodes as zero.
      {Vector64(std::nan(""), -1e-5, 1), (Bits32(1e-5f) >> 8 & 0x7FFF) | 0x8000u, (15u << 1) | 1u,
       Vector64(0, -0.0, 1)},
  };
  for (const Row& r : rows) {
    SmallUVW s;
    FromVector(r.v, s);
    EXPECT_EQ(r.word0, s.word0) << r.v.x << " " << r.v.y << " " << r.v.z;
    EXPECT_EQ(r.word1, s.word1) << r.v.x << " " << r.v.y << " " << r.v.z;
    EXPECT_EQ(r.decoded, ToVector(s)) << r.v.x << " " << r.v.y << " " << r.v.z;
  }
  // The packed form keeps 16 significant bits.
  for (Vector64 v : {Vector64(0.3, 0.7, 0.1), Vector64(-12.5, 1000.25, 3.3)}) {
    SmallUVW s;
    FromVector(v, s);
    const Vector64 d = ToVector(s);
    EXPECT_NEAR(v.x, d.x, std::fabs(v.x) / 32768);
    EXPECT_NEAR(v.y, d.y, std::fabs(v.y) / 32768);
    EXPECT_NEAR(v.z, d.z, std::fabs(v.z) / 32768);
  }
}

TEST(VertexColorTag, ConvertsBetweenLayoutsOnASmallMesh) {
  BaseList2D object(tagtest::kPolygonObject);
  RootTag list(&object);
  PointTag* pt = tagtest::Add<PointTag>(list, TAG_POINT);
  ASSERT_TRUE(pt->Resize(5));
  PolygonTag* pg = tagtest::Add<PolygonTag>(list, TAG_POLYGON);
  ASSERT_TRUE(pg->Resize(2));
  pg->GetPolygonW()[0] = CPolygon(0, 1, 2, 2);   // a triangle: point 2 counts twice
  pg->GetPolygonW()[1] = CPolygon(1, 3, 7, -1);  // two corners name no point
  VertexColorTag* vc = tagtest::Add<VertexColorTag>(list, TAG_VERTEXCOLOR);
  ASSERT_TRUE(vc->Resize(2, VertexColorTag::POLYGON_BYTES));
  ColorA32* c = vc->GetColorW();
  c[0] = {1, 0, 0, 1};
  c[1] = {0, 1, 0, 1};
  c[2] = {0, 0, 1, 1};
  c[3] = {0, 0, 0, 0};
  c[4] = {0, 0.5f, 0, 0};
  c[5] = {1, 1, 1, 1};
  c[6] = c[7] = {9, 9, 9, 9};

  ASSERT_TRUE(VertexColorTag_ConvertVertexColorMode(vc, true));
  ASSERT_EQ(5, vc->GetCount());
  ASSERT_TRUE(vc->HoldsPerPointColors());
  const ColorA32 expect[5] = {
      {1, 0, 0, 1}, {0, 0.75f, 0, 0.5f}, {0, 0, 0.5f, 0.5f}, {1, 1, 1, 1}, {0, 0, 0, 0}};
  for (Int32 p = 0; p < 5; ++p) {
    const ColorA32& got = vc->GetColorR()[p];
    EXPECT_TRUE(got.r == expect[p].r && got.g == expect[p].g && got.b == expect[p].b &&
                got.a == expect[p].a)
        << p;
  }
  ASSERT_TRUE(VertexColorTag_ConvertVertexColorMode(vc, false));
  ASSERT_EQ(2, vc->GetCount());
  EXPECT_EQ(0.5f, vc->GetColorR()[3].b);  // corner d of the triangle: point 2
  EXPECT_EQ(1.0f, vc->GetColorR()[5].r);  // corner b of the quad: point 3
  EXPECT_EQ(0.0f, vc->GetColorR()[6].r);  // a corner without a point stays empty

  // Converting to the layout the colours are already in keeps them (resized to the count).
  ASSERT_TRUE(VertexColorTag_ConvertVertexColorMode(vc, false));
  ASSERT_EQ(2, vc->GetCount());
  EXPECT_EQ(0.5f, vc->GetColorR()[3].b);
  ASSERT_TRUE(VertexColorTag_ConvertVertexColorMode(vc, true));
  ASSERT_TRUE(VertexColorTag_ConvertVertexColorMode(vc, true));
  ASSERT_EQ(5, vc->GetCount());
  EXPECT_EQ(0.5f, vc->GetColorR()[2].b);

  // Without an object the tag empties; a null tag is refused.
  VertexColorTag loose;
  ASSERT_TRUE(loose.Resize(3, VertexColorTag::POINT_BYTES));
  EXPECT_TRUE(VertexColorTag_ConvertVertexColorMode(&loose, false));
  EXPECT_EQ(0, loose.GetCount());
  EXPECT_FALSE(VertexColorTag_ConvertVertexColorMode(nullptr, true));
}

TEST(VertexColorTag, AModeChangedWithoutConvertingNeverReachesPastTheArray) {
  // Per-point colours written while the entry already says per polygon: the bytes follow the
  // array, and reading them back as polygons fails inside the chunk instead of overrunning.
  VertexColorTag vc;
  ASSERT_TRUE(vc.Resize(3, VertexColorTag::POINT_BYTES));
  vc.SetPerPointColor(false);
  const std::string chunk = OwnChunk(vc, TAG_VERTEXCOLOR);
  EXPECT_EQ(3u * 18 + 15, lumtest::FromHex(chunk).size());
  BaseTag* back = BaseTag::Alloc(TAG_VERTEXCOLOR);
  EXPECT_FALSE(scenetest::ReadNode(scenetest::WriteNode(vc), *back));
  BaseTag::Free(back);
}

TEST(VariableTag, ResizeRules) {
  PointTag pt;
  ASSERT_TRUE(pt.Resize(2));
  pt.GetPointW()[1] = Vector64(1, 2, 3);
  ASSERT_TRUE(pt.Resize(4));
  EXPECT_EQ(Vector64(1, 2, 3), pt.GetPointR()[1]);
  EXPECT_EQ(Vector64(), pt.GetPointR()[3]);
  EXPECT_FALSE(pt.Resize(-1));
  EXPECT_EQ(4, pt.GetCount());
  ASSERT_TRUE(pt.Resize(0));
  EXPECT_EQ(nullptr, pt.GetPointR());

  PolygonTag pg;
  ASSERT_TRUE(pg.Resize(3));
  EXPECT_TRUE(pg.Resize(0));
  EXPECT_TRUE(pg.Resize(-5));
  EXPECT_EQ(3, pg.GetCount());

  VertexColorTag vc;
  ASSERT_TRUE(vc.Resize(2, VertexColorTag::POINT_BYTES));
  vc.GetColorW()[0].r = 1;
  ASSERT_TRUE(vc.Resize(2, VertexColorTag::POINT_BYTES));
  EXPECT_EQ(0.0f, vc.GetColorR()[0].r);  // colours are not kept
  EXPECT_FALSE(vc.Resize(2, 20));
  ASSERT_TRUE(vc.Resize(2, 0));
  EXPECT_EQ(0, vc.GetCount());

  // A failed allocation leaves the tag as it was.
  UVWTag uv;
  ASSERT_TRUE(uv.Resize(1));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(uv.Resize(5));
  }
  EXPECT_EQ(1, uv.GetCount());
  EXPECT_NE(nullptr, uv.GetUVWR());
}

TEST(VariableTag, CountsTheBytesLeftCannotHoldFailBeforeAllocating) {
  // Counts small enough to allocate, too large for the bytes that follow, and counts whose
  // array would not fit an Int32.
  struct Row {
    Int32 type;
    std::string body;
  } rows[] = {
      {TAG_POINT, "01 000015E0 00000000 0F 00000400 8C 00000019 06 02"},
      {TAG_POINT, "01 000015E0 00000000 0F 7FFFFFFF 02"},
      {TAG_POLYGON, "01 000015E4 00000000 0F 00000400 02"},
      {TAG_TANGENT, "01 000015F1 00000000 0F 00000400 02"},
      {TAG_SEGMENT, "01 00001628 00000000 0F 00000002 0F 00000001 15 00 02"},
      {TAG_UVW, "01 00001627 00000004 0F 00000400 02"},
      {TAG_UVW, "01 00001627 00000004 0F 10000000 02"},
      {TAG_UVW, "01 00001627 00000004 0F FFFFFFFF 02"},
      {TAG_NORMAL, "01 0000164F 00000000 0F 00000400 02"},
      {TAG_NORMAL, "01 0000164F 00000000 0F 0AAAAAAB 02"},
      {TAG_VERTEXMAP, "01 00001632 00000000 0F 00000400 02"},
      {TAG_VERTEXCOLOR, "01 19B089ED 00000000 0F 00000400 02"},
  };
  for (const Row& r : rows) {
    // What reading a tag of the kind without its chunk allocates.
    std::int64_t before = lumtest::AllocationCalls();
    BaseTag* bare = ReadTag(r.type, "");
    const std::int64_t bareCalls = lumtest::AllocationCalls() - before;
    BaseTag::Free(bare);

    before = lumtest::AllocationCalls();
    FILEERROR error = FILEERROR_NONE;
    BaseTag* tag = ReadTag(r.type, r.body, HYPERFILE_CURRENT_VERSION, false, &error);
    EXPECT_EQ(bareCalls, lumtest::AllocationCalls() - before) << r.body;
    // The node's loop reports the failure inside it as its missing end.
    EXPECT_EQ(FILEERROR_CHUNKEND_MISSING, error) << r.body;
    EXPECT_EQ(0, static_cast<VariableTag*>(tag)->GetCount()) << r.body;
    BaseTag::Free(tag);
  }
}

// A read that fails part way, after its count passed: the array (not cleared when allocated)
// holds nothing but zeros.
TEST(VariableTag, AReadFailingPartWayLeavesNoUninitialisedElement) {
  const std::string pad = " 0F 00000000 0F 00000000 0F 00000000 0F 00000000 0F 00000000";
  struct Row {
    Int32 type;
    std::string body;
  } rows[] = {
      {TAG_POINT,
       "01 000015E0 00000000 0F 00000002 8C 00000011 06 3FF0000000000000"
       " 4000000000000000" +
           pad},
      {TAG_POLYGON, "01 000015E4 00000000 0F 00000002 8C 00000009 03 00000001 00000002" + pad},
      {TAG_TANGENT,
       "01 000015F1 00000000 0F 00000002 17 3FF0000000000000 0000000000000000"
       " 0000000000000000" +
           pad + pad},
      {TAG_VERTEXCOLOR,
       "01 19B089ED 00000000 0F 00000002 1B 3F800000 3F000000 3E800000"
       " 1D 3F800000" +
           pad},
  };
  for (const Row& r : rows) {
    FILEERROR error = FILEERROR_NONE;
    BaseTag* tag = ReadTag(r.type, r.body, HYPERFILE_CURRENT_VERSION, false, &error);
    EXPECT_NE(FILEERROR_NONE, error) << r.body;
    const VariableTag* v = static_cast<VariableTag*>(tag);
    const auto* bytes = static_cast<const unsigned char*>(v->GetDataAddressR());
    const Int64 size = Int64(v->GetCount()) * v->GetElementSize();
    EXPECT_GT(size, 0) << r.body;
    for (Int64 i = 0; i < size; ++i) ASSERT_EQ(0, bytes[i]) << r.body << " byte " << i;
    BaseTag::Free(tag);
  }
}

}  // namespace
