// The custom data types together: a container holding a value of each round-trips byte for
// byte, through memory and through a file, and so does a copy of it. The include/exclude list's
// nodes are represented by their goal records ahead of the container, as in a scene file, and
// the identities (addresses of the writing process) are masked out of the comparison.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

// Zeroes the 8 identity bytes after every goal and link record.
Bytes Masked(Bytes b) {
  for (size_t i = 0; i + 14 <= b.size(); ++i) {
    if (std::memcmp(&b[i], "agoal1", 6) == 0 || std::memcmp(&b[i], "alias2", 6) == 0) {
      std::memset(&b[i + 6], 0, 8);
      i += 13;
    }
  }
  return b;
}

struct Nodes {
  BaseList2D a, b;
};

bool Write(HyperFile& hf, Nodes& n, const BaseContainer& bc) {
  return n.a.GetAliasGoal().Write(&hf) && n.b.GetAliasGoal().Write(&hf) && hf.WriteContainer(bc);
}

Bytes WriteBc(Nodes& n, const BaseContainer& bc) {
  lumtest::MemWriter w;
  EXPECT_TRUE(Write(w.hf, n, bc));
  return w.Finish();
}

bool Read(HyperFile& hf, Nodes& n, BaseContainer* bc) {
  BaseDocument doc;
  AliasTrans trans;
  if (!trans.Init()) return false;
  doc.SetAliasTrans(&trans);
  hf.SetDocument(&doc);
  const bool ok =
      n.a.GetAliasGoal().Read(&hf) && n.b.GetAliasGoal().Read(&hf) && hf.ReadContainer(bc, true);
  trans.Zap(false);
  hf.SetDocument(nullptr);
  return ok;
}

void Fill(BaseContainer* bc, Nodes& n) {
  GeData gradient(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  Gradient* g = Gradient::From(gradient.GetCustomDataType(CUSTOMDATATYPE_GRADIENT));
  GradientKnot k;
  k.col = Vector64(0.2, 0.4, 0.6);
  k.pos = 0.3;
  g->InsertKnot(k);
  k.pos = 0.8;
  k.interpolation = 5;
  g->InsertKnot(k);
  g->SetData(GRADIENT_MODE, GeData(2));
  bc->SetData(1, gradient);

  GeData grey(CUSTOMDATATYPE_GRADIENT, DEFAULTVALUE);
  Gradient::From(grey.GetCustomDataType(CUSTOMDATATYPE_GRADIENT))
      ->SetData(GRADIENT_MODE, GeData(1));
  Gradient::From(grey.GetCustomDataType(CUSTOMDATATYPE_GRADIENT))->InsertKnot(k);
  bc->SetData(2, grey);

  GeData spline(CUSTOMDATATYPE_SPLINE, DEFAULTVALUE);
  SplineData* s = SplineData::From(spline.GetCustomDataType(CUSTOMDATATYPE_SPLINE));
  s->SetRange(0, 2, 0.5, -1, 1, 0.5);
  s->MakeAbsCosSpline(6);
  s->Flip();
  bc->SetData(3, spline);
  bc->SetInt32(4, 9);

  GeData list(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE);
  InExcludeData* l = InExcludeData::From(list.GetCustomDataType(CUSTOMDATATYPE_INEXCLUDE_LIST));
  for (BaseList2D* node : {&n.b, &n.a}) {
    BaseLink link;
    link.SetLink(node);
    l->InsertObject(link, node == &n.a ? 1 : 2);
  }
  l->GetData(0)->SetFloat(5, 0.5);
  bc->SetData(5, list);
}

}  // namespace

TEST(CustomTypesInContainers, RoundTripByteForByte) {
  Nodes nodes;
  BaseContainer bc(12);
  Fill(&bc, nodes);
  const Bytes first = Masked(WriteBc(nodes, bc));

  Nodes read;
  lumtest::MemReader r(WriteBc(nodes, bc));
  BaseContainer back;
  ASSERT_TRUE(Read(r.hf, read, &back));
  EXPECT_TRUE(r.AtEnd());
  ASSERT_EQ(5, back.GetCount());
  EXPECT_NE(nullptr, back.GetCustomDataType(1, CUSTOMDATATYPE_GRADIENT));
  EXPECT_NE(nullptr, back.GetCustomDataType(3, CUSTOMDATATYPE_SPLINE));
  const InExcludeData* l =
      InExcludeData::From(back.GetCustomDataType(5, CUSTOMDATATYPE_INEXCLUDE_LIST));
  ASSERT_NE(nullptr, l);
  EXPECT_EQ(&read.b, l->ObjectFromIndex(nullptr, 0));
  EXPECT_EQ(&read.a, l->ObjectFromIndex(nullptr, 1));
  EXPECT_EQ(lumtest::ToHex(first), lumtest::ToHex(Masked(WriteBc(read, back))));

  BaseContainer copy;
  ASSERT_TRUE(back.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(lumtest::ToHex(first), lumtest::ToHex(Masked(WriteBc(read, copy))));

  // Through a file on disk as well.
  const std::string path = lumtest::TempPath("custom.hf");
  {
    HyperFile hf;
    ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(Write(hf, read, copy));
    ASSERT_TRUE(hf.Close());
  }
  EXPECT_EQ(first, Masked(lumtest::ReadFileBytes(path)));
  HyperFile hf;
  ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_READ));
  Nodes fromDiskNodes;
  BaseContainer fromDisk;
  ASSERT_TRUE(Read(hf, fromDiskNodes, &fromDisk));
  EXPECT_EQ(lumtest::ToHex(first), lumtest::ToHex(Masked(WriteBc(fromDiskNodes, fromDisk))));
}

// Writes the seed of fuzz/container_fuzz.cpp that holds a value of every custom type (the
// container alone, as that target reads it). Run by hand:
//   customcontainer_test --gtest_also_run_disabled_tests --gtest_filter=CustomSeeds.*
TEST(CustomSeeds, DISABLED_WriteFuzzCorpus) {
  Nodes nodes;
  BaseContainer bc(12);
  Fill(&bc, nodes);
  lumtest::MemWriter w;
  ASSERT_TRUE(w.hf.WriteContainer(bc));
  const std::string path = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/container/custom-types";
  ASSERT_TRUE(lumtest::WriteFileBytes(path, w.Finish())) << path;
}
