#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
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

// A file of a single object list, as the examples and Python's write_objects wrote them, reads
// as a scene; a top-level chunk the reader does not know is kept and written back unchanged.
TEST(Scene, ObjectListFileReadsAsSceneAndUnknownChunksSurvive) {
  const std::string path = lumtest::TempPath("object-list.lum");
  {
    RootObject list;
    list.InsertLast(NewObject(TYPE_OBJECT, "alone"));
    BaseObject* child = NewObject(TYPE_LIGHTOBJECT, "lamp");
    child->InsertUnder(list.GetFirst());
    HyperFile hf;
    ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(list.WriteObject(&hf, 1));
    ASSERT_TRUE(hf.WriteChunkStart(424242, 3) && hf.WriteString(String("future")) &&
                hf.WriteChunkEnd() && hf.Close());
  }
  Scene scene;
  ASSERT_TRUE(scene.Read(Filename(path.c_str())));
  std::vector<std::string> names;
  for (BaseObject* o : Objects(scene.GetObjects())) {
    names.push_back(Name(o));
    for (BaseObject* c : Children(o)) names.push_back(Name(c));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alone", "lamp"}));
  EXPECT_EQ(scene.GetFirstObject()->GetDocument(), scene.GetDocument());
  ASSERT_NE(scene.GetTakeData(), nullptr);
  EXPECT_NE(scene.GetTakeData()->GetMainTake(), nullptr);
  EXPECT_EQ(scene.GetKeptChunkCount(), 1);

  const std::string again = lumtest::TempPath("object-list-again.lum");
  ASSERT_TRUE(scene.Write(Filename(again.c_str())));
  const Bytes original = lumtest::ReadFileBytes(path), written = lumtest::ReadFileBytes(again);
  // The kept chunk closes both files, byte for byte.
  const Bytes tail(original.end() - 27, original.end());  // start 9, string 17, end 1
  ASSERT_GE(written.size(), tail.size());
  EXPECT_EQ(lumtest::ToHex(tail),
            lumtest::ToHex(Bytes(written.end() - tail.size(), written.end())));

  // A read replaces everything, and a failed one leaves the scene empty.
  EXPECT_FALSE(scene.Read(Filename(lumtest::TempPath("absent.lum").c_str())));
  EXPECT_EQ(scene.GetFirstObject(), nullptr);
  EXPECT_EQ(scene.GetKeptChunkCount(), 0);
  EXPECT_NE(scene.GetTakeData()->GetMainTake(), nullptr);
}

TEST(Scene, RangesVisitEveryMemberAndSurviveRemovingTheCurrentOne) {
  BaseObject* parent = NewObject(TYPE_OBJECT, "parent");
  for (const char* n : {"a", "b", "c"}) NewObject(TYPE_OBJECT, n)->InsertUnderLast(parent);
  std::string seen;
  for (BaseObject* child : Children(parent)) {
    seen += Name(child);
    if (Name(child) == "b") BaseObject::Free(child);  // the range already holds "c"
  }
  EXPECT_EQ(seen, "abc");
  seen.clear();
  for (BaseObject* child : Children(parent)) seen += Name(child);
  EXPECT_EQ(seen, "ac");
  // Over nothing, or a node without such members, every range is empty.
  auto empty = [](auto range) { return !(range.begin() != range.end()); };
  EXPECT_TRUE(empty(Objects(nullptr)) && empty(Children(nullptr)) && empty(Tags(nullptr)) &&
              empty(Tags(parent)) && empty(Tracks(nullptr)) && empty(Tracks(parent)) &&
              empty(Keys(nullptr)));

  CTrack* track = CTrack::Alloc(parent, VectorComponentID(ID_BASEOBJECT_REL_POSITION, VECTOR_Y),
                                String("Position . Y"));
  ASSERT_TRUE(parent->InsertTrackSorted(track));
  for (double t : {2.0, 0.5, 1.0}) track->GetCurve()->AddKey(BaseTime(t));
  std::vector<double> times;
  for (CTrack* tr : Tracks(parent))
    for (CKey* key : Keys(tr->GetCurve())) times.push_back(key->GetTime().Get());
  EXPECT_EQ(times, (std::vector<double>{0.5, 1.0, 2.0}));
  // The helper's id is the one the object's parameters answer to.
  GeData y;
  parent->SetRelPos(Vector64(0, 7, 0));
  ASSERT_TRUE(parent->GetDParameter(track->GetDescriptionID(), y));
  EXPECT_EQ(y.GetFloat(), 7);
  BaseObject::Free(parent);
}

namespace {

struct Failure {
  const char* what;
  Int32 code;
  Int32 osError;    // -1: any non-zero errno
  Int64 maxOffset;  // the offset lies in 0 .. maxOffset
};

void ExpectFailure(const Failure& f, const FileErrorInfo& e, const std::string& path) {
  SCOPED_TRACE(f.what);
  EXPECT_EQ(e.code, f.code) << FileErrorName(e.code);
  EXPECT_STREQ(FileErrorName(e.code), FileErrorName(f.code));
  if (f.osError < 0)
    EXPECT_NE(e.osError, 0);
  else
    EXPECT_EQ(e.osError, f.osError);
  EXPECT_GE(e.offset, 0);
  EXPECT_LE(e.offset, f.maxOffset);
  // One line naming the file, what went wrong and, past the opening, where.
  const std::string line = e.Describe();
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.rfind(path + ": ", 0), 0u) << line;
  if (e.osError != 0) {
    EXPECT_NE(line.find(std::strerror(e.osError)), std::string::npos) << line;
  }
  if (e.code != FILEERROR_OPEN) {
    EXPECT_NE(line.find(" at byte " + std::to_string(e.offset)), std::string::npos) << line;
  }
}

int TemporariesIn(const std::string& dir) {
  int found = 0;
  DIR* d = opendir(dir.c_str());
  while (dirent* entry = d != nullptr ? readdir(d) : nullptr)
    found += std::strncmp(entry->d_name, ".lumora-scene-", 14) == 0;
  if (d != nullptr) closedir(d);
  return found;
}

}  // namespace

TEST(Scene, FailuresSayWhatAndWhereAndAFailedWriteKeepsTheOldFile) {
  const std::string dir = lumtest::TempDir();
  const std::string good = lumtest::TempPath("failures-good.lum");
  {
    Scene scene;
    BuildEveryPart(scene);
    ASSERT_TRUE(scene.Write(Filename(good.c_str())));
  }
  const Bytes whole = lumtest::ReadFileBytes(good);
  ASSERT_GT(whole.size(), 2000u);

  const std::string missing = lumtest::TempPath("failures-missing.lum");
  const Failure readFailures[] = {
      {"missing file", FILEERROR_OPEN, ENOENT, 0},
      {"directory", FILEERROR_READ, EISDIR, 0},
  };
  for (const auto& [f, path] :
       {std::make_pair(readFailures[0], missing), std::make_pair(readFailures[1], dir)}) {
    Scene scene;
    FileErrorInfo e;
    EXPECT_FALSE(scene.Read(Filename(path.c_str()), &e));
    ExpectFailure(f, e, path);
    EXPECT_EQ(scene.GetFirstObject(), nullptr);
  }
  FileErrorInfo named;
  named.Set(FILEERROR_OPEN, 0, ENOENT, Filename("in.lum"));
  EXPECT_STREQ(named.Describe(), "in.lum: No such file or directory");
  named.Set(FILEERROR_CHUNKEND_MISSING, 997, 0, Filename("in.lum"));
  EXPECT_STREQ(named.Describe(), "in.lum: chunk end missing at byte 997");
  named.Set(99, 5, 0, Filename());  // a code of no kind, and no name
  EXPECT_STREQ(named.Describe(), "(no file): error 99 at byte 5");
  EXPECT_STREQ(FileErrorName(99), "UNKNOWN");

  // Cut anywhere, a file fails inside its last value, never at byte 0.
  for (size_t cut : {size_t(1), size_t(20), size_t(997), whole.size() / 2, whole.size() - 1}) {
    const std::string path = lumtest::TempPath("failures-cut-" + std::to_string(cut) + ".lum");
    ASSERT_TRUE(lumtest::WriteFileBytes(path, Bytes(whole.begin(), whole.begin() + cut)));
    Scene scene;
    FileErrorInfo e;
    EXPECT_FALSE(scene.Read(Filename(path.c_str()), &e));
    EXPECT_TRUE(e.code == FILEERROR_READ || e.code == FILEERROR_CHUNKEND_MISSING)
        << cut << " " << FileErrorName(e.code);
    ExpectFailure({"truncated", e.code, 0, Int64(cut)}, e, path);
    EXPECT_GE(e.offset, cut > 20 ? Int64(cut) - 200 : 0) << cut;
    EXPECT_EQ(scene.GetFirstObject(), nullptr);
  }

  // A full device: the write fails with the system's word, the old file stays whole and no
  // temporary file is left beside it.
  const std::string target = lumtest::TempPath("failures-target.lum");
  const Bytes old = {1, 2, 3};
  ASSERT_TRUE(lumtest::WriteFileBytes(target, old));
  {
    Scene scene;
    BuildEveryPart(scene);
    rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 1000;
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    FileErrorInfo e;
    const bool written = scene.Write(Filename(target.c_str()), &e);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(written);
    ExpectFailure({"full device", FILEERROR_WRITE, EFBIG, Int64(whole.size())}, e, target);
  }
  EXPECT_EQ(lumtest::ReadFileBytes(target), old);
  EXPECT_EQ(TemporariesIn(dir), 0);

  // A target where nothing may be created.
  struct stat st;
  const std::string readOnly = "/sys/lumora-scene.lum";
  if (stat("/sys", &st) == 0) {
    Scene scene;
    FileErrorInfo e;
    EXPECT_FALSE(scene.Write(Filename(readOnly.c_str()), &e));
    ExpectFailure({"read-only place", FILEERROR_OPEN, -1, 0}, e, readOnly);
  }
  // No name at all.
  Scene scene;
  FileErrorInfo e;
  EXPECT_FALSE(scene.Write(Filename(), &e));
  EXPECT_EQ(FILEERROR_INVALID, e.code);
}
