// The custom data types together: a container holding a value of each round-trips byte for
// byte, through memory and through a file, and so does a copy of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes WriteBc(const BaseContainer& bc) {
  lumtest::MemWriter w;
  EXPECT_TRUE(w.hf.WriteContainer(bc));
  return w.Finish();
}

void Fill(BaseContainer* bc) {
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
}

}  // namespace

TEST(CustomTypesInContainers, RoundTripByteForByte) {
  BaseContainer bc(12);
  Fill(&bc);
  const Bytes first = WriteBc(bc);

  lumtest::MemReader r(first);
  BaseContainer back;
  ASSERT_TRUE(r.hf.ReadContainer(&back, true));
  EXPECT_TRUE(r.AtEnd());
  ASSERT_EQ(4, back.GetCount());
  EXPECT_NE(nullptr, back.GetCustomDataType(1, CUSTOMDATATYPE_GRADIENT));
  EXPECT_NE(nullptr, back.GetCustomDataType(3, CUSTOMDATATYPE_SPLINE));
  EXPECT_EQ(lumtest::ToHex(first), lumtest::ToHex(WriteBc(back)));

  BaseContainer copy;
  ASSERT_TRUE(back.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(lumtest::ToHex(first), lumtest::ToHex(WriteBc(copy)));

  // Through a file on disk as well.
  const std::string path = lumtest::TempPath("custom.hf");
  {
    HyperFile hf;
    ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(hf.WriteContainer(copy));
    ASSERT_TRUE(hf.Close());
  }
  EXPECT_EQ(first, lumtest::ReadFileBytes(path));
  HyperFile hf;
  ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_READ));
  BaseContainer fromDisk;
  ASSERT_TRUE(hf.ReadContainer(&fromDisk, true));
  EXPECT_EQ(lumtest::ToHex(first), lumtest::ToHex(WriteBc(fromDisk)));
}
