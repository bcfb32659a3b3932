// What the library writes, the library reads: values and nodes read from streams of every layout
// (version range, float size, byte order) are written into the same layout and into the default
// one, and each write must read back there. Raw bytes kept from the read reach only a stream of
// their own layout; elsewhere they are dropped and counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumora.h"
#include "scene/scene_support.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using lumtest::Bytes;
using lumtest::FromHex;

namespace {

struct Layout {
  Int32 version;
  bool float32;
  BYTEORDER order;
};

const Layout kDefault = {HYPERFILE_CURRENT_VERSION, false, BYTEORDER_MOTOROLA};

// A tag list on a polygon object, as the tag fuzz target reads it.
struct TagList : RootTag {
  BaseList2D owner{5100};
  TagList() { SetOwner(&owner); }
};

// What a row reads and writes as a whole: one value, or a list of one kind.
enum Kind { kValue, kTags, kObjects, kShaders };

struct Subject {
  explicit Subject(Kind k) : kind(k) {}
  RootList2D& List() {
    if (kind == kObjects) return objects;
    if (kind == kShaders) return shaders;
    return tags;
  }
  bool Read(HyperFile& hf) {
    if (kind == kValue) return hf.ReadGeData(&value);
    BaseDocument doc;
    AliasTrans trans;
    if (!trans.Init()) return false;
    doc.SetAliasTrans(&trans);
    hf.SetDocument(&doc);
    const bool ok = List().ReadObject(&hf, true);
    trans.Zap(true);
    hf.SetDocument(nullptr);
    return ok;
  }
  bool Write(HyperFile& hf) {
    return kind == kValue ? hf.WriteGeData(value) : List().WriteObject(&hf, 1);
  }

  Kind kind;
  GeData value;
  TagList tags;
  RootObject objects;
  RootShader shaders;
};

// Writes subject into a stream of layout; reports what the stream dropped.
Bytes WriteIn(Subject& subject, const Layout& layout, Int32* dropped) {
  lumtest::MemWriter w(layout.float32, layout.order);
  w.hf.SetFileVersion(layout.version);
  EXPECT_TRUE(subject.Write(w.hf));
  *dropped = w.hf.GetDroppedRawCount();
  return w.Finish();
}

// True when a fresh subject of the kind reads bytes whole.
bool ReadsWhole(Kind kind, const Bytes& bytes, const Layout& layout) {
  lumtest::MemReader r(bytes, layout.version, layout.float32, layout.order);
  Subject fresh(kind);
  return fresh.Read(r.hf) && r.hf.GetError() == FILEERROR_NONE && r.AtEnd();
}

}  // namespace

TEST(ReadBack, RawBytesReachOnlyAStreamThatReadsThemAlike) {
  const Layout v11700 = {11700, false, BYTEORDER_MOTOROLA};
  const Layout v11000 = {11000, false, BYTEORDER_MOTOROLA};
  const Layout float32 = {HYPERFILE_CURRENT_VERSION, true, BYTEORDER_MOTOROLA};
  const Layout intel = {HYPERFILE_CURRENT_VERSION, false, BYTEORDER_INTEL};
  struct Row {
    const char* name;
    Kind kind;
    Layout layout;
    const char* hex;
    Int32 droppedInDefault;
    const char* kept;  // a chunk the write in the row's own layout holds, if any
  } rows[] = {
      // An unknown custom value holding an array in the header layout of its version.
      {"value 11700", kValue, v11700, "0f0012d687 01 00000000 00000000 8c03 00000004 00000007 02",
       1, nullptr},
      {"value current", kValue, kDefault, "0f0012d687 01 00000000 00000000 13 3ff0000000000000 02",
       0, nullptr},
      {"value float32", kValue, float32, "0f0012d687 01 00000000 00000000 13 3f800000 02", 1,
       nullptr},
      {"value intel", kValue, intel, "0f 87d61200 01 00000000 00000000 13 000000000000f03f 02", 1,
       nullptr},
      // An id kept even from files before 11600.
      {"value kept from old files", kValue, v11000,
       "0f000f465d 01 00000000 00000000 13 3ff0000000000000 02", 1, nullptr},
      // A tag whose track list has no class here, kept from a file of version 11900.
      {"tag track list 11900",
       kTags,
       {11900, false, BYTEORDER_MOTOROLA},
       "0100000001000000ae010100001400000000010001af510000000001000015e000000000850000000c3ff0000"
       "00000000040000000000000004008000000000000020202023a",
       1,
       nullptr},
      // An object, a shader and a shader's child list, each with a chunk no class takes.
      {"object 11700", kObjects, v11700,
       "01 00000000 00000000 01 0001ae14 00000000 01 0000141a 00000000"
       "01 00001092 00000003 0f00000007 02 02 02 02",
       1, "01 00001092 00000003 0f00000007 02"},
      {"shader and its children 11700", kShaders, v11700,
       "01 00000000 00000000 01 0001ae14 00000000 01 0000164b 00000000"
       "01 0001ae14 00000000 01 00001093 00000001 0f00000008 02 01 0000164b 00000000 02 02"
       "01 00001092 00000003 0f00000007 02 02 02 02",
       2, "01 0001ae14 00000000 01 00001093 00000001 0f00000008 02 01 0000164b"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Subject subject(row.kind);
    {
      lumtest::MemReader r(FromHex(row.hex), row.layout.version, row.layout.float32,
                           row.layout.order);
      ASSERT_TRUE(subject.Read(r.hf));
    }
    Int32 dropped = -1;
    const Bytes same = WriteIn(subject, row.layout, &dropped);
    EXPECT_EQ(dropped, 0);
    EXPECT_TRUE(ReadsWhole(row.kind, same, row.layout));
    if (row.kept != nullptr) {
      EXPECT_NE(lumtest::ToHex(same).find(lumtest::NormHex(row.kept)), std::string::npos);
    }
    const Bytes current = WriteIn(subject, kDefault, &dropped);
    EXPECT_EQ(dropped, row.droppedInDefault);
    EXPECT_TRUE(ReadsWhole(row.kind, current, kDefault));
    // A copy of a list carries the kept chunks in their places too.
    if (row.kind != kValue) {
      Subject copy(row.kind);
      ASSERT_TRUE(subject.List().CopyTo(&copy.List(), COPYFLAGS_IDENTITY, nullptr));
      // (After the first write: an object's first write adds its checksum to its container.)
      const Bytes again = WriteIn(subject, row.layout, &dropped);
      EXPECT_EQ("equal", scenetest::FirstDifference(
                             scenetest::MaskIdentities(again),
                             scenetest::MaskIdentities(WriteIn(copy, row.layout, &dropped))));
    }
  }
}

TEST(ReadBack, ListsKeepUnknownChunksAndTheirOwnBitsInPlace) {
  // A plug-in list: its own bits (word 0 = 1), then members with an unknown chunk and a nested
  // member list (whose member joins the others) between them.
  const std::string member = "01 0001adee 00000000 02";
  const std::string unknown = "01 00001092 00000003 0f00000007 02";
  const std::string nested = "01 0001ae14 00000000" + member + "02";
  const Bytes file = FromHex(
      "01 00000000 00000000"
      "01 0001adf5 00000002 0f00000004 0f00000001 0f00000000 0f00000000"
      "0f00000000 0c00 02"
      "01 0001ae14 00000000" +
      member + unknown + nested + member + "02 02");
  auto readList = [](const Bytes& bytes, RootPluginNode& list) {
    lumtest::MemReader r(bytes);
    return list.ReadObject(&r.hf, true) && r.AtEnd();
  };
  auto writeList = [](RootPluginNode& list) {
    lumtest::MemWriter w;
    EXPECT_TRUE(list.WriteObject(&w.hf, 0));
    return w.Finish();
  };
  RootPluginNode first;
  ASSERT_TRUE(readList(file, first));
  EXPECT_EQ(first.GetCount(), 3);
  EXPECT_EQ(first.GetKeptChunkCount(), 1);
  EXPECT_EQ(first.GetNBitWord(0), 1u);
  const Bytes a = writeList(first);
  // Between the two members, in the order read.
  const std::string hex = lumtest::ToHex(a);
  const size_t kept = hex.find(lumtest::NormHex(unknown));
  ASSERT_NE(kept, std::string::npos);
  EXPECT_NE(hex.rfind(lumtest::NormHex("01 0001adee"), kept), std::string::npos);
  EXPECT_NE(hex.find(lumtest::NormHex("01 0001adee"), kept), std::string::npos);

  RootPluginNode second;
  ASSERT_TRUE(readList(a, second));
  EXPECT_EQ(second.GetCount(), 3);
  EXPECT_EQ(second.GetKeptChunkCount(), 1);
  EXPECT_EQ(second.GetNBitWord(0), 1u);
  EXPECT_EQ(writeList(second), a);
  // A copy carries them too.
  RootPluginNode copy;
  ASSERT_TRUE(second.CopyTo(&copy, COPYFLAGS_IDENTITY, nullptr));
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(a),
                                                scenetest::MaskIdentities(writeList(copy))));
}

TEST(ReadBack, StreamsWrittenAtAnOlderVersionReadBackAtIt) {
  const Int32 ints[2] = {7, -8};
  for (Int32 version : {11000, 11903, 11904, 11924, 11925, HYPERFILE_CURRENT_VERSION}) {
    SCOPED_TRACE(version);
    lumtest::MemWriter w;
    w.hf.SetFileVersion(version);
    ASSERT_TRUE(w.hf.WriteArray(ints, HYPERFILEARRAY_INT32, 4, 2));
    ASSERT_TRUE(w.hf.WriteFloat32(1.5f));
    const Bytes bytes = w.Finish();
    // The older array header: type byte, then the Int32 size without it.
    EXPECT_EQ(lumtest::ToHex(bytes).rfind(lumtest::NormHex("8c 03 00000008"), 0) == 0,
              version <= 11903);
    lumtest::MemReader r(bytes, version);
    Int32 back[2] = {0, 0};
    Float32 f = 0;
    EXPECT_TRUE(r.hf.ReadArray(back, HYPERFILEARRAY_INT32, 4, 2));
    EXPECT_TRUE(r.hf.ReadFloat32(&f));
    EXPECT_EQ(back[1], -8);
    EXPECT_EQ(f, 1.5f);
    EXPECT_TRUE(r.AtEnd());
  }
}
