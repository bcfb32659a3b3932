// Camera parameters on a container: the defaults in their order, the derived values and the
// writes that turn them back into stored ones.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <typeinfo>
#include <vector>

#include "lights/lum_cameraobjectdata.h"
#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Utf8(const String& s) {
  char buf[256];
  s.GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

struct Camera {
  Camera() { CameraParameters::InitDefaults(&bc); }
  GeData Get(Int32 id, bool* result = nullptr) {
    GeData out(Int32(-12345));
    bool handled = false;
    const bool r = CameraParameters::GetParameter(&bc, id, env, &out, &handled);
    EXPECT_TRUE(handled) << id;
    if (result != nullptr) *result = r;
    return out;
  }
  bool Set(Int32 id, const GeData& value) {
    bool handled = false;
    const bool r = CameraParameters::SetParameter(&bc, id, value, env, &handled);
    EXPECT_TRUE(handled) << id;
    return r;
  }
  BaseContainer bc;
  CameraEnvironment env;
};

TEST(CameraParameters, DefaultsInTheirOrder) {
  Camera c;
  ASSERT_EQ(CameraParameters::kDefaultCount, c.bc.GetCount());
  // Spot checks along the order: the first of each group, the last, and every kind.
  struct Entry {
    Int32 index, id, type;
    double value;
  } entries[] = {
      {0, 1001, VALUETYPE_INT32, 0},         {2, 500, VALUETYPE_FLOAT, 36},
      {6, 1130, VALUETYPE_LINK, 0},          {12, 1170, VALUETYPE_FLOAT, -kPi},
      {28, 1111, VALUETYPE_INT32, 0},        {38, 1007, VALUETYPE_INT32, 1},
      {39, 5001, VALUETYPE_INT32, 1},        {44, 5031, VALUETYPE_VECTOR, 0},
      {67, 5036, VALUETYPE_FLOAT, 1},        {68, 1201, VALUETYPE_FLOAT, 8},
      {69, 1211, VALUETYPE_FLOAT, 1.0 / 30}, {81, 1305, VALUETYPE_LINK, 0},
      {89, 4200, VALUETYPE_INT32, 0},        {93, 4205, VALUETYPE_FLOAT, 1000},
      {96, 1311, VALUETYPE_FLOAT, 6500},     {98, 1344, VALUETYPE_INT32, 1},
  };
  for (const Entry& e : entries) {
    EXPECT_EQ(e.id, c.bc.GetIndexId(e.index)) << e.index;
    const GeData* d = c.bc.GetData(e.id);
    EXPECT_EQ(e.type, d->GetType()) << e.id;
    if (e.type == VALUETYPE_FLOAT || e.type == VALUETYPE_INT32) {
      EXPECT_DOUBLE_EQ(e.value, d->GetFloat()) << e.id;
    }
    if (e.type == VALUETYPE_VECTOR) {
      EXPECT_TRUE(Vector64(0.77, 0.87, 0.81) == d->GetVector());
    }
  }
}

TEST(CameraParameters, DerivedValuesOfAFreshCamera) {
  Camera c;
  EXPECT_DOUBLE_EQ(2 * std::atan(0.5), c.Get(CAMERAOBJECT_FOV).GetFloat());
  EXPECT_DOUBLE_EQ(2 * std::atan(0.5), c.Get(CAMERAOBJECT_FOV_RENDER).GetFloat());
  struct Preset {
    Int32 id, index;
  } presets[] = {{1132, 3}, {1131, 3}, {1200, 19}, {1215, 6}, {1232, 3}, {1310, 5}};
  for (const Preset& p : presets) EXPECT_EQ(p.index, c.Get(p.id).GetInt32()) << p.id;
  EXPECT_EQ(" 36 mm", Utf8(c.Get(CAMERAOBJECT_35MM).GetString()));
  c.bc.SetFloat(CAMERAOBJECT_FOCUS, 50);
  c.bc.SetFloat(CAMERAOBJECT_APERTURE, 24);
  EXPECT_EQ(" 75 mm", Utf8(c.Get(CAMERAOBJECT_35MM).GetString()));

  // The render correction: 1 / pixel aspect unless the render settings' mode is 1150.
  BaseContainer render;
  EXPECT_EQ(1.0, CameraParameters::RenderFactor(nullptr));
  render.SetInt32(RDATA_PIXELASPECT_MODE, RDATA_PIXELASPECT_NONE);
  render.SetFloat(RDATA_PIXELASPECT, 2.0);
  EXPECT_EQ(1.0, CameraParameters::RenderFactor(&render));
  render.SetInt32(RDATA_PIXELASPECT_MODE, 0);
  c.env.renderFactor = CameraParameters::RenderFactor(&render);
  EXPECT_EQ(0.5, c.env.renderFactor);
  EXPECT_DOUBLE_EQ(2 * std::atan(0.5 * 12 / 50), c.Get(CAMERAOBJECT_FOV_RENDER).GetFloat());

  // No focal length: the field of view is left as the caller had it.
  c.bc.SetFloat(CAMERAOBJECT_FOCUS, 0);
  bool result = false;
  EXPECT_EQ(-12345, c.Get(CAMERAOBJECT_FOV, &result).GetInt32());
  EXPECT_TRUE(result);
}

TEST(CameraParameters, FieldOfViewWritesStoreTheFocalLengthOrNothing) {
  struct Case {
    Int32 id;
    double renderFactor, fov, focus;  // focus 0: nothing stored (the default 36 stays)
  } cases[] = {
      {CAMERAOBJECT_FOV, 1, 2 * std::atan(0.5), 36},
      {CAMERAOBJECT_FOV, 1, kPi / 2, 18},
      {CAMERAOBJECT_FOV_RENDER, 0.5, kPi / 2, 9},
      {CAMERAOBJECT_FOV, 1, 0, 0},
      {CAMERAOBJECT_FOV, 1, -1, 0},
      // pi and beyond would store a vanishing or negative focal length
      {CAMERAOBJECT_FOV, 1, kPi, 0},
      {CAMERAOBJECT_FOV_RENDER, 1, 4.0, 0},
      {CAMERAOBJECT_FOV, 1, NAN, 0},
  };
  for (const Case& k : cases) {
    Camera c;
    c.env.renderFactor = k.renderFactor;
    EXPECT_TRUE(c.Set(k.id, GeData(k.fov))) << k.fov;
    EXPECT_NEAR(k.focus == 0 ? 36 : k.focus, c.bc.GetFloat(CAMERAOBJECT_FOCUS), 1e-12) << k.fov;
    if (k.focus != 0) {
      EXPECT_NEAR(k.fov, c.Get(k.id).GetFloat(), 1e-12);
    }
  }
}

TEST(CameraParameters, PresetsWriteTheirValuesAndReadWithinTolerance) {
  struct Case {
    Int32 preset, stored, index;
    bool result;
    double expected;  // the stored value afterwards
  } cases[] = {
      {1131, 1006, 5, true, 52.5},
      {1132, 500, 7, true, 300},
      {1200, 1201, 28, true, 22},
      {1215, 1211, 5, true, 1.0 / 60},
      {1232, 1231, 8, true, 6400},
      {1310, 1311, 1, true, 2000},
      // outside the tables: nothing stored; only white balance reports it
      {1215, 1211, 10, true, 1.0 / 30},
      {1232, 1231, 9, true, 200},
      {1310, 1311, 8, false, 6500},
      {1131, 1006, 0, true, 36},
      {1200, 1201, -1, true, 8},
  };
  for (const Case& k : cases) {
    Camera c;
    EXPECT_EQ(k.result, c.Set(k.preset, GeData(k.index))) << k.preset << " " << k.index;
    EXPECT_DOUBLE_EQ(k.expected, c.bc.GetFloat(k.stored)) << k.preset << " " << k.index;
  }
  // Reading: the first index within the tolerance (strictly), else 0.
  struct Read {
    Int32 preset, stored;
    double value;
    Int32 index;
  } reads[] = {
      {1215, 1211, 0.5, 0},       {1215, 1211, 0.00109, 1}, {1215, 1211, 0.0011, 0},
      {1131, 1006, 36.0009, 3},   {1131, 1006, 36.0011, 0}, {1200, 1201, 1.1, 2},
      {1310, 1311, 5500.0005, 4}, {1232, 1231, 0, 0},
  };
  for (const Read& r : reads) {
    Camera c;
    c.bc.SetFloat(r.stored, r.value);
    EXPECT_EQ(r.index, c.Get(r.preset).GetInt32()) << r.preset << " " << r.value;
  }
}

TEST(CameraParameters, DistancePairAndTargetFlag) {
  {  // 4208 off: only the written value is stored
    Camera c;
    EXPECT_TRUE(c.Set(CAMERAOBJECT_DISTANCE_Z, GeData(2000.0)));
    EXPECT_EQ(2000.0, c.bc.GetFloat(CAMERAOBJECT_DISTANCE_Z));
    EXPECT_EQ(800.0, c.bc.GetFloat(CAMERAOBJECT_DISTANCE_NEAR));
    EXPECT_EQ(1200.0, c.bc.GetFloat(CAMERAOBJECT_DISTANCE_FAR));
  }
  struct Case {
    Int32 formula, sw, mode;
    double nearValue, farValue;
  } cases[] = {
      // S / F * Z = 1000, E = 6.5
      {0, 1, 0, 1000 * 6.5 * 30 / 1000, 1000 * 6.5 * 30 / 1000},
      {0, 2, 0, 1000 * 6.5 * 23 / 1000, 1000 * 6.5 * 23 / 1000},
      {1, 1, 0, 1000 - 1000.0 * 1000 / ((1000 / 60.0 / 6.5 + 1) * (6.5 * 60)),
       1000 + 1000.0 * 1000 / ((1000 / 60.0 / 6.5 + 1) * (6.5 * 60))},
      {1, 7, 0, 1000 - 1000.0 * 1000 / ((1000 / 46.0 / 6.5 + 1) * (6.5 * 46)),
       1000 + 1000.0 * 1000 / ((1000 / 46.0 / 6.5 + 1) * (6.5 * 46))},
      {1, 1, 1, 800, 1200},  // mode 1001 not 0: the pair is left alone
  };
  for (const Case& k : cases) {
    Camera c;
    c.bc.SetInt32(CAMERAOBJECT_DISTANCE_FORMULA, k.formula);
    c.bc.SetInt32(CAMERAOBJECT_MODE, k.mode);
    EXPECT_TRUE(c.Set(CAMERAOBJECT_DISTANCE_SWITCH, GeData(Int32(k.sw))));
    EXPECT_DOUBLE_EQ(k.nearValue, c.bc.GetFloat(CAMERAOBJECT_DISTANCE_NEAR)) << k.formula << k.sw;
    EXPECT_DOUBLE_EQ(k.farValue, c.bc.GetFloat(CAMERAOBJECT_DISTANCE_FAR)) << k.formula << k.sw;
  }

  // The flag stays only while a linked target tag is there; without one it is cleared.
  Camera c;
  c.bc.SetBool(CAMERAOBJECT_TARGETFLAG, true);
  c.env.targetLinked = true;
  EXPECT_TRUE(c.Get(CAMERAOBJECT_TARGETFLAG).GetBool());
  c.env.targetLinked = false;
  EXPECT_FALSE(c.Get(CAMERAOBJECT_TARGETFLAG).GetBool());
  EXPECT_FALSE(c.bc.GetBool(CAMERAOBJECT_TARGETFLAG));

  // Ids the camera does not derive are the caller's.
  GeData out;
  bool handled = true;
  EXPECT_FALSE(CameraParameters::GetParameter(&c.bc, 500, c.env, &out, &handled));
  EXPECT_FALSE(handled);
  EXPECT_FALSE(CameraParameters::SetParameter(&c.bc, 4204, GeData(1.0), c.env, &handled));
  EXPECT_FALSE(handled);
}

}  // namespace

namespace {

// Attaches camera data from the application's object hook to node.
CameraObjectData* AttachCamera(BaseList2D& node) {
  bool known = false;
  NodeData* data = AllocAlienObjectData(TYPE_CAMERAOBJECT, known, &node);
  EXPECT_TRUE(known);
  CameraObjectData* camera = dynamic_cast<CameraObjectData*>(data);
  EXPECT_NE(nullptr, camera);
  data->SetNode(&node);
  node.SetNodeData(data);
  EXPECT_TRUE(data->Init());
  return camera;
}

TEST(CameraObjectData, AnObjectNodeServesTheDerivedParameters) {
  BaseObject node(TYPE_CAMERAOBJECT);
  CameraObjectData* camera = AttachCamera(node);
  EXPECT_EQ(CameraParameters::kDefaultCount, node.GetDataInstance()->GetCount());
  GeData out;
  ASSERT_TRUE(node.GetDParameter(DescID(CAMERAOBJECT_FOV), out));
  EXPECT_DOUBLE_EQ(2 * std::atan(0.5), out.GetFloat());
  // Stored ids go past the camera to the container.
  ASSERT_TRUE(node.GetDParameter(DescID(CAMERAOBJECT_FOCUS), out));
  EXPECT_EQ(36.0, out.GetFloat());
  ASSERT_TRUE(node.SetDParameter(DescID(CAMERAOBJECT_LENSPRESET), GeData(Int32(4))));
  EXPECT_EQ(50.0, node.GetDataInstance()->GetFloat(CAMERAOBJECT_FOCUS));
  EXPECT_FALSE(camera->SetDParameter(DescID(CAMERAOBJECT_WHITEBALANCEPRESET), GeData(Int32(8))));
  EXPECT_EQ(6500.0, node.GetDataInstance()->GetFloat(CAMERAOBJECT_WHITEBALANCE));

  // The render correction comes from the document's active render settings.
  BaseDocument doc;
  BaseList2D render(110050);
  render.GetDataInstance()->SetInt32(RDATA_PIXELASPECT_MODE, 0);
  render.GetDataInstance()->SetFloat(RDATA_PIXELASPECT, 2.0);
  node.SetDocument(&doc);
  ASSERT_TRUE(node.GetDParameter(DescID(CAMERAOBJECT_FOV_RENDER), out));
  EXPECT_DOUBLE_EQ(2 * std::atan(0.5 * 36 / 50), out.GetFloat());
  doc.SetActiveRenderData(&render);
  ASSERT_TRUE(node.GetDParameter(DescID(CAMERAOBJECT_FOV_RENDER), out));
  EXPECT_DOUBLE_EQ(2 * std::atan(0.25 * 36 / 50), out.GetFloat());
  ASSERT_TRUE(node.SetDParameter(DescID(CAMERAOBJECT_FOV_RENDER), GeData(kPi / 2)));
  EXPECT_DOUBLE_EQ(9.0, node.GetDataInstance()->GetFloat(CAMERAOBJECT_FOCUS));

  // Render settings correct the view only when they hold both the mode and the aspect and the
  // factor is finite and positive; otherwise 4600 is the uncorrected view (never pi), and
  // writing it stores a finite focal length.
  const struct {
    bool mode, aspect;
    double value, factor;
  } settings[] = {
      {true, true, 2.0, 0.5},   {true, true, 0.25, 4.0},  {false, true, 2.0, 1.0},
      {true, false, 2.0, 1.0},  {false, false, 2.0, 1.0}, {true, true, 0.0, 1.0},
      {true, true, -2.0, 1.0},  {true, true, NAN, 1.0},   {true, true, INFINITY, 1.0},
  };
  for (const auto& k : settings) {
    BaseContainer* rc = render.GetDataInstance();
    rc->FlushAll();
    if (k.mode) rc->SetInt32(RDATA_PIXELASPECT_MODE, 0);
    if (k.aspect) rc->SetFloat(RDATA_PIXELASPECT, k.value);
    node.GetDataInstance()->SetFloat(CAMERAOBJECT_FOCUS, 36.0);
    ASSERT_TRUE(node.GetDParameter(DescID(CAMERAOBJECT_FOV_RENDER), out));
    EXPECT_DOUBLE_EQ(2 * std::atan(k.factor * 0.5), out.GetFloat()) << k.mode << k.aspect << k.value;
    ASSERT_TRUE(node.SetDParameter(DescID(CAMERAOBJECT_FOV_RENDER), GeData(0.8)));
    EXPECT_DOUBLE_EQ(k.factor * 18.0 / std::tan(0.4),
                     node.GetDataInstance()->GetFloat(CAMERAOBJECT_FOCUS))
        << k.mode << k.aspect << k.value;
  }
  node.SetDocument(nullptr);
}

TEST(CameraObjectData, TheTargetFlagFollowsTheCamerasTargetTag) {
  enum Link { kNone, kObject, kNoObject, kGone };
  struct Tag {
    Int32 type;
    Link link;
  };
  struct Case {
    const char* name;
    std::vector<Tag> tags;  // on the camera, in list order
    bool flag;              // 1009 as read, and as the camera's container keeps it after
  } cases[] = {
      {"no tag", {}, false},
      {"a target tag linking an object", {{CAMERA_TARGET_TAG, kObject}}, true},
      {"a target tag without a link", {{CAMERA_TARGET_TAG, kNone}}, false},
      {"a target tag linking a node that is no object", {{CAMERA_TARGET_TAG, kNoObject}}, false},
      {"a target tag whose object is gone", {{CAMERA_TARGET_TAG, kGone}}, false},
      {"another tag linking an object", {{TAG_PROTECTION, kObject}}, false},
      {"another tag, then the linked target tag",
       {{TAG_PROTECTION, kNone}, {CAMERA_TARGET_TAG, kObject}},
       true},
      {"only the first target tag counts",
       {{CAMERA_TARGET_TAG, kNone}, {CAMERA_TARGET_TAG, kObject}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BaseObject camera(TYPE_CAMERAOBJECT);
    AttachCamera(camera);
    BaseObject target(TYPE_OBJECT);
    BaseList2D plain(110050);
    BaseObject* gone = BaseObject::Alloc(TYPE_OBJECT);
    ASSERT_NE(nullptr, gone);
    for (const Tag& t : c.tags) {
      BaseTag* tag = BaseTag::Alloc(t.type);
      ASSERT_NE(nullptr, tag);
      BaseList2D* to[] = {nullptr, &target, &plain, gone};
      if (to[t.link] != nullptr) {
        BaseLink link;
        link.SetLink(to[t.link]);
        tag->GetDataInstance()->SetData(CAMERA_TARGET_LINK, GeData(link));
      }
      // Straight into the list: InsertTag would keep one tag of a type only.
      ASSERT_TRUE(camera.MakeTagList()->InsertLast(tag));
      tag->SetObject(&camera);
    }
    BaseObject::Free(gone);
    camera.GetDataInstance()->SetBool(CAMERAOBJECT_TARGETFLAG, true);
    GeData out;
    ASSERT_TRUE(camera.GetDParameter(DescID(CAMERAOBJECT_TARGETFLAG), out));
    EXPECT_EQ(c.flag, out.GetBool());
    EXPECT_EQ(c.flag, camera.GetDataInstance()->GetBool(CAMERAOBJECT_TARGETFLAG));
    // A flag that is clear stays clear with the tag there: the tag keeps it, it does not set it.
    camera.GetDataInstance()->SetBool(CAMERAOBJECT_TARGETFLAG, false);
    ASSERT_TRUE(camera.GetDParameter(DescID(CAMERAOBJECT_TARGETFLAG), out));
    EXPECT_FALSE(out.GetBool());
  }
}

TEST(CameraObjectData, ANodeThatIsNoObjectGetsNoDerivedParameters) {
  BaseList2D node(TYPE_CAMERAOBJECT);
  CameraObjectData* camera = AttachCamera(node);
  GeData out;
  EXPECT_FALSE(camera->GetDParameter(DescID(CAMERAOBJECT_FOV), out));
  EXPECT_FALSE(camera->SetDParameter(DescID(CAMERAOBJECT_FOV), GeData(1.0)));
  EXPECT_EQ(36.0, node.GetDataInstance()->GetFloat(CAMERAOBJECT_FOCUS));
  EXPECT_TRUE(camera->IsInstanceOf(0));
  EXPECT_FALSE(camera->IsInstanceOf(TYPE_CAMERAOBJECT));
  // Without a node there is nothing to initialise.
  CameraObjectData loose;
  EXPECT_FALSE(loose.Init());
}

// A camera, a light and a variation shader made with Alloc have what the same nodes read from a
// file have: the node data's class, the type, and every container entry in order (a camera's 99
// defaults among them), with or without the application's hooks.
TEST(AllocatedNodes, HaveWhatTheSameNodesReadFromAFileHave) {
  const struct {
    Int32 type;
    bool shader;
  } cases[] = {{TYPE_CAMERAOBJECT, false}, {TYPE_LIGHTOBJECT, false}, {1033825, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    RootList2D* list = c.shader ? static_cast<RootList2D*>(RootShader::Alloc())
                                : static_cast<RootList2D*>(AllocAlienRootObject());
    RootList2D* back = c.shader ? static_cast<RootList2D*>(RootShader::Alloc())
                                : static_cast<RootList2D*>(AllocAlienRootObject());
    BaseList2D* made = c.shader ? static_cast<BaseList2D*>(BaseShader::Alloc(c.type))
                                : static_cast<BaseList2D*>(BaseObject::Alloc(c.type));
    ASSERT_NE(nullptr, made);
    ASSERT_NE(nullptr, made->GetNodeData());
    if (c.type == TYPE_CAMERAOBJECT) {
      EXPECT_EQ(CameraParameters::kDefaultCount, made->GetDataInstance()->GetCount());
    }
    list->InsertLast(made);
    const BaseContainer before = *made->GetDataInstance();
    lumtest::MemWriter w;
    ASSERT_TRUE(list->WriteObject(&w.hf, 1));
    lumtest::MemReader r(w.Finish());
    ASSERT_TRUE(back->ReadObject(&r.hf, true));
    BaseList2D* read = static_cast<BaseList2D*>(back->GetFirst());
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(made->GetType(), read->GetType());
    ASSERT_NE(nullptr, read->GetNodeData());
    const NodeData& a = *made->GetNodeData();
    const NodeData& b = *read->GetNodeData();
    EXPECT_EQ(typeid(a), typeid(b));
    EXPECT_TRUE(IdenticalContainer(before, *read->GetDataInstance()));
    EXPECT_EQ(before.GetCount(), read->GetDataInstance()->GetCount());
    DeleteObj(list);
    DeleteObj(back);
  }
}

}  // namespace
