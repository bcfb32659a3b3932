#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

BaseObject* NewObject(Int32 type, const char* name) {
  BaseObject* o = BaseObject::Alloc(type);
  if (o != nullptr) o->SetName(String(name));
  return o;
}

BaseTake* TakeBelow(BaseTake* parent, const char* name) {
  BaseTake* t = BaseTake::Alloc();
  t->GetNode()->SetName(String(name));
  t->GetNode()->InsertUnderLast(parent->GetNode());
  return t;
}

// Every part: a polygon object with a camera child and a plain object, two render settings
// (the second active), and a take that chooses the camera and overrides the plain object.
// The take's camera, its override and the active settings all link from one part into another.
void BuildEveryPart(Scene& scene) {
  PolygonObject* mesh = PolygonObject::Alloc(4, 1);
  mesh->SetName(String("mesh"));
  mesh->SetRelPos(Vector64(1, 2, 3));
  BaseObject* camera = NewObject(TYPE_CAMERAOBJECT, "camera");
  BaseObject* plain = NewObject(TYPE_OBJECT, "plain");
  scene.GetObjects()->InsertLast(mesh);
  camera->InsertUnder(mesh);
  scene.GetObjects()->InsertLast(plain);
  for (BaseObject* o : {static_cast<BaseObject*>(mesh), camera, plain})
    o->SetDocument(scene.GetDocument());
  scene.AddRenderData()->SetName(String("draft"));
  BaseList2D* final = scene.AddRenderData();
  final->SetName(String("final"));
  ASSERT_TRUE(scene.GetDocument()->SetActiveRenderData(final));

  TakeSystemHook* hook = scene.GetTakeSystem();
  ASSERT_TRUE(hook->AddCamera(camera));
  ASSERT_TRUE(hook->AddRenderData(final));
  BaseTake* take = TakeBelow(scene.GetTakeData()->GetMainTake(), "close-up");
  take->GetNode()->SetDocument(scene.GetDocument());
  ASSERT_TRUE(take->GetTakeData()->SetCamera(scene.GetTakeData(), camera));
  ASSERT_NE(take->GetTakeData()->AddOverride(plain), nullptr);
}

std::string Name(const BaseList2D* node) {
  char buf[64] = {};
  if (node != nullptr) node->GetName().GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

// Goal and link identities are addresses of the writing process: masked for comparison.
Bytes MaskIdentities(Bytes bytes) {
  for (size_t i = 0; i + 14 <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], "agoal1", 6) == 0 || std::memcmp(&bytes[i], "alias2", 6) == 0)
      std::memset(&bytes[i + 6], 0, 8);
  }
  return bytes;
}

long FirstDifference(const Bytes& a, const Bytes& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

}  // namespace

TEST(Scene, EveryPartRoundTripsAndLinksAcrossPartsReconnect) {
  const std::string first = lumtest::TempPath("every-part.lum");
  const std::string second = lumtest::TempPath("every-part-again.lum");
  {
    Scene scene;
    BuildEveryPart(scene);
    FileErrorInfo error;
    ASSERT_TRUE(scene.Write(Filename(first.c_str()), &error)) << error.Describe();
  }
  Scene scene;
  FileErrorInfo error;
  ASSERT_TRUE(scene.Read(Filename(first.c_str()), &error)) << error.Describe();
  EXPECT_EQ(error.code, FILEERROR_NONE);

  BaseObject* mesh = scene.GetFirstObject();
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(Name(mesh), "mesh");
  EXPECT_EQ(mesh->GetRelPos().y, 2);
  ASSERT_TRUE(mesh->IsInstanceOf(TYPE_POLYGONOBJECT));
  EXPECT_EQ(static_cast<PolygonObject*>(mesh)->GetPointCount(), 4);
  BaseObject* camera = mesh->GetDown();
  BaseObject* plain = mesh->GetNext();
  ASSERT_NE(camera, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(Name(camera), "camera");

  BaseDocument* doc = scene.GetDocument();
  EXPECT_EQ(Name(doc->GetFirstRenderData()), "draft");
  EXPECT_EQ(Name(doc->GetActiveRenderData()), "final");

  TakeData* td = scene.GetTakeData();
  ASSERT_NE(td, nullptr);
  BaseTake* main = td->GetMainTake();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Name(main->GetNode()), "Main");
  EXPECT_EQ(td->GetCurrentTake(), main);
  BaseTake* take = BaseTake::From(main->GetNode()->GetDown());
  ASSERT_NE(take, nullptr);
  EXPECT_EQ(Name(take->GetNode()), "close-up");
  TakeSystemHook* hook = scene.GetTakeSystem();
  EXPECT_EQ(hook->GetCamera(0), camera);
  EXPECT_EQ(Name(hook->GetRenderData(0)), "final");
  EXPECT_EQ(take->GetNode()->GetDataInstance()->GetLink(TAKE_CAMERA_LINK), camera);
  EXPECT_NE(take->GetTakeData()->FindOverride(doc, plain), nullptr);

  // What a read scene writes is what it read: a second round gives the same bytes.
  const std::string third = lumtest::TempPath("every-part-third.lum");
  ASSERT_TRUE(scene.Write(Filename(second.c_str()), &error)) << error.Describe();
  Scene again;
  ASSERT_TRUE(again.Read(Filename(second.c_str()), &error)) << error.Describe();
  ASSERT_TRUE(again.Write(Filename(third.c_str()), &error)) << error.Describe();
  const Bytes a = MaskIdentities(lumtest::ReadFileBytes(third));
  const Bytes b = MaskIdentities(lumtest::ReadFileBytes(second));
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a.size(), b.size());
  EXPECT_EQ(FirstDifference(a, b), -1);
}
