// Fault sweeps across the families. Whole workflows run with allocation 1, 2, 3 ... failing in
// turn; every prefix of valid streams is read back, from memory and from disk; writes fail at
// every buffer flush (a full device, a file size limit, a memory file that cannot grow). Each
// step must end as its contract says (the result, the error code, the object's stated state),
// and nothing may leak.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lights/lum_cameraobjectdata.h"
#include "lumora.h"
#include "objects/tag_support.h"
#include "takes/take_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

// Ends the current scenario run as failed, naming the condition that did not hold.
#define STEP(cond)                               \
  do {                                           \
    if (!(cond)) {                               \
      ADD_FAILURE() << "step failed: " << #cond; \
      return false;                              \
    }                                            \
  } while (0)

// Whether the step just run met the injected allocation failure (a sweep injects one per run).
// Checks between steps must not allocate, or they would take the failure themselves.
class Fault {
 public:
  bool Here() {
    const bool now = lumtest::InjectedFailureHappened();
    const bool here = now && !_seen;
    _seen = now;
    return here;
  }

 private:
  bool _seen = false;
};

// The allocations a scenario makes from here on are the ones the sweep's failure counts.
void Arm(std::int64_t n) { lumtest::FailNthAllocation(n); }

String U(const char* utf8) { return String(utf8, STRINGENCODING_UTF8); }

std::string Utf8(const String& s) {
  char buf[8192];
  s.GetCString(buf, sizeof buf, STRINGENCODING_UTF8);
  return buf;
}

bool Empty(const String& s) { return s.GetLength() == 0 && s.GetCapacity() == 0; }

template <typename T>
const CustomDataType& AsCustom(const T& object) {
  return *reinterpret_cast<const CustomDataType*>(&object);
}

const Matrix64 kMatrix(Vector64(1, 2, 3), Vector64(4, 5, 6), Vector64(7, 8, 9),
                       Vector64(10, 11, 12));

// A container with a value of every kind a container stores and writes, one nested.
void FillSample(BaseContainer& bc, bool withAddress = true) {
  bc.SetId(77);
  bc.SetInt32(1, -5);
  bc.SetFloat(2, 0.25);
  bc.SetVector(3, Vector64(1, -2, 3.5));
  bc.SetString(4, U("Grüße, Welt"));
  bc.SetTime(5, BaseTime(3, 25));
  bc.SetFilename(6, Filename("dir/file.txt"));
  bc.SetData(7, GeData(Int64(1) << 40));
  bc.SetData(8, GeData(kMatrix));
  ByteArray bytes;
  bytes.Init("abcdef", 6);
  bc.SetData(9, GeData(bytes));
  BaseContainer inner(5);
  inner.SetString(1, U("inner"));
  inner.SetInt32(2, 3);
  bc.SetContainer(10, inner);
  const DescID id(DescLevel(5, 5, 0), DescLevel(1001, 23, 7));
  if (withAddress) bc.SetData(11, GeData(CUSTOMDATATYPE_DESCID, AsCustom(id)));
  PriorityData priority;
  priority.first = 3;
  priority.second = -2;
  priority.flag = true;
  bc.SetData(12, GeData(CUSTOMDATATYPE_PRIORITY, AsCustom(priority)));
  bc.SetData(13, GeData(CUSTOMDATATYPE_DATETIME, DEFAULTVALUE));
}

// A tree of plug-in nodes with links (in the node, in a container, in a notify entry), unique
// ids, a store, a child, a kept-bytes slot and a slot of a type without a class.
void BuildNodeTree(RootPluginNode& list) {
  PluginNode* a = PluginNode::Alloc(1001101);
  PluginNode* b = PluginNode::Alloc(465001514);
  PluginNode* c = PluginNode::Alloc(1234567);
  list.InsertLast(a);
  list.InsertLast(b);
  c->InsertUnderLast(a);
  bool known = false;
  a->AddSlot();
  a->ValidateNth(0, 1001101, known);
  b->AddSlot();
  b->ValidateNth(0, 465001514, known);
  a->SetName(U("a"));
  FillSample(*a->GetDataInstance(), false);
  GeData link(VALUETYPE_LINK, DEFAULTVALUE);
  link.GetBaseLink()->SetLink(c);
  a->GetDataInstance()->SetData(40, link);
  b->GetNodeLink().SetLink(a);
  c->GetNodeLink().SetLink(b);
  a->AddUniqueID(7, "uid", 3);
  NotifyData* nd = a->MakeNotifyList()->Append(77, 0x1000);
  nd->data.SetFloat(1, 0.5);
  nd->link->SetLink(b);
  b->GetSavedStore() = NewObj<DescIdStore>();
  b->GetSavedStore()->SetId(DescID(903), GeData(Int32(1)));
}

// A named node with animation: a synchronised vector-component track with keys in its main
// curve and in two further curves, a data track, a special track and the time track.
void BuildAnimatedNode(BaseList2D& node) {
  const DescLevel pos(903, 23, 0);
  CTrack* x = CTrack::Alloc(&node, DescID(pos, DescLevel(1000, 19, 0)), U("x"));
  node.InsertTrackSorted(x);
  for (Int32 i = 0; i < 12; ++i) {
    CKey* k = x->GetCurve()->AddKey(BaseTime(i, 24));
    k->SetValue(nullptr, i * 0.5);
    k->SetValueRight(nullptr, 0.25);
  }
  x->GetCurve(CCURVE(3), true)->AddKey(BaseTime(1.0));
  x->GetCurve(CCURVE(8), true)->AddKey(BaseTime(2.0));
  x->SetSynchronized(true);
  CTrack* d = CTrack::Alloc(&node, DescID(DescLevel(904, 130, 0)), U("d"));
  node.InsertTrackSorted(d);
  d->GetCurve()->AddKey(BaseTime(1.0))->SetGeData(nullptr, GeData(U("on")));
  CTrack* s = CTrack::Alloc(&node, DescID(1029124), U("special"));
  node.InsertTrackSorted(s);
  s->GetCurve()->AddKey(BaseTime(0.5));
  node.InsertTrackSorted(CTrack::Alloc(&node, DescID(DescLevel(-1, 0, 0)), U("")));
}

// The tracks and keys of a node, to compare a read or a copy with its source.
int CountKeys(const BaseList2D& node) {
  int n = 0;
  for (CTrack* t = node.GetFirstCTrack(); t != nullptr; t = t->GetNext()) {
    n += 1000;
    for (Int32 w = 0; w <= 10; ++w) {
      CCurve* c = t->GetCurve(CCURVE(w), false);
      if (c != nullptr && (w == 0 || w >= 2)) n += c->GetKeyCount();
    }
  }
  return n;
}

// Counts the nodes of a list and of their children.
int CountNodes(const RootList2D& list) {
  int n = 0;
  for (GeListNode* m = list.GetFirst(); m != nullptr; m = m->GetNext())
    n += 1 + (m->GetChildren() != nullptr ? CountNodes(*m->GetChildren()) : 0);
  return n;
}

// Scene parts the stream items and the sweeps below share (defined with their sweeps).
bool BuildObjects(RootObject& list);
int CountObjects(const RootList2D& list);
void BuildShaderTree(BaseList2D& owner);
BaseShader* FirstShader(BaseList2D& node);

// ---- streams ----------------------------------------------------------------------------------

// A stream writer over a memory file.
Bytes WriteStream(const std::function<bool(HyperFile&)>& body) {
  Filename name;
  name.SetMemoryTarget();
  HyperFile hf;
  EXPECT_TRUE(hf.Open(name, FILEOPEN_WRITE));
  EXPECT_TRUE(body(hf));
  EXPECT_TRUE(hf.Close());
  const void* p = nullptr;
  Int64 n = 0;
  EXPECT_TRUE(name.CollectMemoryData(&p, &n));
  const unsigned char* b = static_cast<const unsigned char*>(p);
  return n > 0 ? Bytes(b, b + n) : Bytes();
}

// Outcome of reading one item: 1 read back as written; 0 failed (false) with its outputs in
// their documented state; -1 anything else.
int Judge(bool ok, bool same, bool failedState = true) {
  if (ok) return same ? 1 : -1;
  return failedState ? 0 : -1;
}

// One value or record of a stream, written by its writer and read by its reader.
struct Item {
  std::string name;
  std::function<bool(HyperFile&)> write;
  std::function<int(HyperFile&)> read;
};

// Raw bytes in the stream (for the kinds only older writers produced).
bool Raw(HyperFile& hf, const char* hex) {
  const Bytes b = lumtest::FromHex(hex);
  return hf.WriteUnknownChunk(b.data(), static_cast<Int64>(b.size()), true);
}

// A reader of a plain value leaves its output unchanged when it fails.
template <typename T, typename W>
Item Plain(const char* name, T value, bool (HyperFile::*write)(W), bool (HyperFile::*read)(T*),
           T untouched) {
  return {name, [=](HyperFile& hf) { return (hf.*write)(value); },
          [=](HyperFile& hf) {
            T v = untouched;
            const bool ok = (hf.*read)(&v);
            return Judge(ok, v == value, v == untouched);
          }};
}

std::function<bool(HyperFile&)> RawWriter(const char* hex) {
  return [hex](HyperFile& hf) { return Raw(hf, hex); };
}

// A reader that allocates its result: null and 0 unless it succeeds.
template <typename T>
Item BlockOf(const char* name, std::function<bool(HyperFile&)> write,
             std::function<bool(HyperFile&, T**, Int32*)> read, std::vector<T> want) {
  return {name, std::move(write), [=](HyperFile& hf) {
            T* data = reinterpret_cast<T*>(1);
            Int32 n = -1;
            const bool ok = read(hf, &data, &n);
            bool same = n == static_cast<Int32>(want.size());
            for (Int32 i = 0; same && i < n; ++i) same = data[i] == want[i];
            const bool cleared = data == nullptr && n == 0;
            void* block = ok ? data : nullptr;
            MemFree(block);
            return Judge(ok, same, cleared);
          }};
}

template <typename T>
Item Block(const char* name, std::function<bool(HyperFile&)> write,
           bool (*read)(HyperFile*, T**, Int32*), std::vector<T> want) {
  return BlockOf<T>(
      name, std::move(write), [read](HyperFile& hf, T** d, Int32* n) { return read(&hf, d, n); },
      std::move(want));
}

template <typename T>
Item Block(const char* name, std::function<bool(HyperFile&)> write,
           bool (HyperFile::*read)(T**, Int32*), std::vector<T> want) {
  return BlockOf<T>(
      name, std::move(write), [read](HyperFile& hf, T** d, Int32* n) { return (hf.*read)(d, n); },
      std::move(want));
}

// A GeData value: a failed read leaves nil.
Item Value(const char* name, std::function<bool(HyperFile&)> write,
           std::function<bool(const GeData&)> same) {
  return {name, std::move(write), [=](HyperFile& hf) {
            GeData v(Int32(99));
            const bool ok = hf.ReadGeData(&v);
            return Judge(ok, same(v), v.GetType() == VALUETYPE_NIL);
          }};
}

Item Value(const char* name, const GeData& value) {
  return Value(
      name, [value](HyperFile& hf) { return hf.WriteGeData(value); },
      [value](const GeData& v) { return v == value; });
}

// Items, the stream they make, where each item starts in it (one more entry: the end), and
// the file version the stream is read as.
struct ItemSet {
  std::vector<Item> items;
  Bytes bytes;
  std::vector<size_t> starts;
  Int32 version = HYPERFILE_CURRENT_VERSION;

  void Write() {
    bytes = WriteStream([&](HyperFile& hf) {
      for (const Item& item : items) {
        starts.push_back(static_cast<size_t>(hf.GetPosition()));
        if (!item.write(hf)) {
          ADD_FAILURE() << "cannot write " << item.name;
          return false;
        }
      }
      starts.push_back(static_cast<size_t>(hf.GetPosition()));
      return true;
    });
  }
  // Opens a reader over the first `length` bytes (not copied).
  bool Open(HyperFile& hf, Filename& name, size_t length) const {
    name.SetMemoryData(bytes.data(), static_cast<Int64>(length), false);
    hf.SetFileVersion(version);
    return hf.Open(name, FILEOPEN_READ);
  }
};

// One value read from what `write` wrote.
GeData ReadBack(const std::function<bool(HyperFile&)>& write) {
  const Bytes b = WriteStream(write);
  Filename name;
  name.SetMemoryData(b.data(), static_cast<Int64>(b.size()), false);
  HyperFile hf;
  GeData v;
  EXPECT_TRUE(hf.Open(name, FILEOPEN_READ) && hf.ReadGeData(&v));
  return v;
}

// The values the stream items write and compare with, and the item sets. Each test builds its
// own, so that no library memory outlives a test.
struct Samples {
  Samples();
  ~Samples() { DescIdStore_Free(store); }
  Samples(const Samples&) = delete;
  Samples& operator=(const Samples&) = delete;

  String shortText = U("Hi, Ünïcode");
  String longText;
  Filename path{"some/dir/file.name"};
  BaseContainer sample;
  BaseSelect runs;
  SelectBlockArray blocks;
  SelectBitArray bits;
  DescID address{DescLevel(10, 5, 0), DescLevel(1002, 23, 1009)};
  DescIdStore* store = nullptr;
  GeData storeValue{U("value")};
  GeData addressValue;
  GeData unknownValue;   // a custom type this library does not know
  GeData rawValue;       // a known custom type it keeps uninterpreted
  RootPluginNode tree;   // a tree of nodes
  GeData gradientValue;  // with a grey child
  GeData splineValue;
  BaseList2D listed[2];  // the nodes the include/exclude list links
  GeData inexcludeValue;
  BaseList2D tagOwner{tagtest::kPolygonObject};
  RootTag tags{&tagOwner};  // points, polygons and a plug-in tag
  BaseList2D animated{1};   // a node with tracks, curves and keys
  RootObject objects;       // polygon, plain and spline objects with tags
  BaseList2D meshOwner{tagtest::kPolygonObject};
  RootTag mesh{&meshOwner};       // a tag of every kind, every variable tag filled
  PluginNode shaderOwner{12345};  // a layer shader tree in a node's shader list
  taketest::TakeScene takeScene;  // a take tree with overrides and groups
  IESLight ies;                   // a photometric record with tables and texts
  ItemSet current;                // the current layouts
  ItemSet older;                  // the layouts of older files

 private:
  void MakeItems();
  void MakeOlderItems();
};

const Vector64 kVectors[3] = {Vector64(1, 2, 3), Vector64(-4, 5, 6), Vector64(7, 8, -9)};
const Float32 kFloats[2] = {1.5f, -2.25f};
const Int32 kInts[3] = {7, -8, 9};
const Int16 kShorts[2] = {-3, 4};

Samples::Samples() {
  longText.Init(700, 0x263A);  // 1400 bytes: read through an allocated buffer
  FillSample(sample, false);
  for (Int32 i : {1, 2, 3, 7, 9, 10, 200}) runs.Select(i);
  for (Int32 i = 0; i < 40; i += 3) blocks.Select(i);
  bits.SetWordCount(3);
  bits.GetWords()[1] = -5;
  bits.SetHeader(64, 2, 3, 4);
  store = NewObj<DescIdStore>();
  store->SetId(DescID(5), GeData(Int32(0)));
  store->SetId(DescID(6), GeData(Int32(4)));
  store->SetId(address, storeValue);
  addressValue = GeData(CUSTOMDATATYPE_DESCID, AsCustom(address));
  BuildNodeTree(tree);
  gradientValue.InitType(CUSTOMDATATYPE_GRADIENT);
  Gradient* gradient = Gradient::From(gradientValue.GetCustomDataType(CUSTOMDATATYPE_GRADIENT));
  for (Int32 i = 0; i < 3; ++i) gradient->InsertKnot(GradientKnot());
  gradient->SetData(GRADIENT_MODE, GeData(2));
  for (Int32 i = 0; i < 2; ++i) gradient->GetChild()->InsertKnot(GradientKnot());
  splineValue.InitType(CUSTOMDATATYPE_SPLINE);
  SplineData::From(splineValue.GetCustomDataType(CUSTOMDATATYPE_SPLINE))->MakeAbsCosSpline(5);
  inexcludeValue.InitType(CUSTOMDATATYPE_INEXCLUDE_LIST);
  InExcludeData* list =
      InExcludeData::From(inexcludeValue.GetCustomDataType(CUSTOMDATATYPE_INEXCLUDE_LIST));
  for (BaseList2D& node : listed) {
    BaseLink link;
    link.SetLink(&node);
    list->InsertObject(link, 6);
  }
  list->GetData(1)->SetString(3, U("entry settings"));
  PointTag* points = tagtest::Add<PointTag>(tags, TAG_POINT);
  EXPECT_TRUE(points->Resize(4));
  EXPECT_TRUE(tagtest::Add<PolygonTag>(tags, TAG_POLYGON)->Resize(2));
  tagtest::Add(tags, TAG_POSEMORPH);
  BuildAnimatedNode(animated);
  EXPECT_TRUE(BuildObjects(objects));
  EXPECT_TRUE(tagtest::BuildMesh(mesh));
  BuildShaderTree(shaderOwner);
  EXPECT_TRUE(takeScene.ok);
  const std::string iesPath = std::string(LUMORA_SHARED_DATA_DIR) + "/ies/7.ies";
  EXPECT_EQ(1, ies.ImportFromFile(Filename(iesPath.c_str())));
  MakeItems();
  MakeOlderItems();
  current.Write();
  older.Write();
  older.version = 10001;
  unknownValue = ReadBack([](HyperFile& hf) {
    return hf.WriteInt32(1234567) && hf.WriteChunkStart(0, 3) && hf.WriteInt32(42) &&
           hf.WriteChunkEnd();
  });
  rawValue = ReadBack([](HyperFile& hf) {
    return hf.WriteInt32(CUSTOMDATATYPE_FONT) && hf.WriteChunkStart(0, 1) && hf.WriteFloat(0.5) &&
           hf.WriteChunkEnd();
  });
}

// Every kind the readers take: plain values, blocks, arrays, chunks, typed values of every kind,
// containers in both forms, selections and parameter addresses. The readers' checks do not
// allocate, so that under an allocation sweep only the readers meet the failure.
void Samples::MakeItems() {
  Samples* d = this;
  auto sameRuns = [d](const BaseSelect& a) {
    if (a.GetSegments() != d->runs.GetSegments() ||
        a.GetLastSelected() != d->runs.GetLastSelected())
      return false;
    for (Int32 i = 0; i < a.GetSegments(); ++i)
      if (a.GetData()[i].first != d->runs.GetData()[i].first ||
          a.GetData()[i].last != d->runs.GetData()[i].last)
        return false;
    return true;
  };
  auto sameStore = [d](const DescIdStore* s, bool withValues) {
    if (s == nullptr) return false;
    if (!withValues) return s->GetCount() == 1;  // the one entry whose value is a non-zero Int32
    const GeData* v = s->GetData(d->address);
    return s->GetCount() == 3 &&
           ((v != nullptr && *v == d->storeValue) || lumtest::InjectedFailureHappened());
  };
  current.items = {
      Plain<UChar>("uchar", 0xA7, &HyperFile::WriteUChar, &HyperFile::ReadUChar, 0x11),
      Plain<Int32>("int32", -123456, &HyperFile::WriteInt32, &HyperFile::ReadInt32, 5),
      Plain<UInt32>("uint32", 0xDEADBEEF, &HyperFile::WriteUInt32, &HyperFile::ReadUInt32, 5),
      Plain<Int64>("int64", -(Int64(1) << 50), &HyperFile::WriteInt64, &HyperFile::ReadInt64, 5),
      Plain<Float32>("float32", 0.75f, &HyperFile::WriteFloat32, &HyperFile::ReadFloat32, 5),
      Plain<Float>("float", -1e300, &HyperFile::WriteFloat, &HyperFile::ReadFloat, 5),
      Plain<bool>("bool", true, &HyperFile::WriteBool, &HyperFile::ReadBool, false),
      Plain("time", BaseTime(7, 30), &HyperFile::WriteTime, &HyperFile::ReadTime, BaseTime(1, 1)),
      Plain("vector", Vector64(1, 2, 3), &HyperFile::WriteVector, &HyperFile::ReadVector,
            Vector64(9, 9, 9)),
      Plain("vector32", Vector32(1, 2, 3), &HyperFile::WriteVector32, &HyperFile::ReadVector32,
            Vector32(9, 9, 9)),
      Plain("vector64", Vector64(-1, 0.5, 3), &HyperFile::WriteVector64, &HyperFile::ReadVector64,
            Vector64(9, 9, 9)),
      Plain("matrix", kMatrix, &HyperFile::WriteMatrix, &HyperFile::ReadMatrix, Matrix64()),
      {"float64", [](HyperFile& hf) { return Raw(hf, "14 3ff8000000000000"); },
       [](HyperFile& hf) {
         Float64 x = 5;
         const bool ok = hf.ReadFloat64(&x);
         return Judge(ok, x == 1.5, x == 5);
       }},
      {"short string", [d](HyperFile& hf) { return hf.WriteString(d->shortText); },
       [d](HyperFile& hf) {
         String s;
         const bool ok = hf.ReadString(&s);
         return Judge(ok, s == d->shortText);
       }},
      {"long string", [d](HyperFile& hf) { return hf.WriteString(d->longText); },
       [d](HyperFile& hf) {
         String s;
         const bool ok = hf.ReadString(&s);
         return Judge(ok, s == d->longText);
       }},
      {"file name", [d](HyperFile& hf) { return hf.WriteFilename(d->path); },
       [d](HyperFile& hf) {
         Filename f;
         const bool ok = hf.ReadFilename(&f);
         return Judge(ok, f == d->path);
       }},
      {"memory", [](HyperFile& hf) { return hf.WriteMemory("\x01\x02\x03\x04\x05", 5); },
       [](HyperFile& hf) {
         void* b = reinterpret_cast<void*>(1);
         Int64 n = -1;
         const bool ok = hf.ReadMemory(&b, &n);
         const bool same = n == 5 && std::memcmp(b, "\x01\x02\x03\x04\x05", 5) == 0;
         const bool cleared = b == nullptr && n == 0;
         MemFree(b);
         return Judge(ok, same, cleared);
       }},
      {"int32 array",
       [](HyperFile& hf) { return hf.WriteArray(kInts, HYPERFILEARRAY_INT32, 4, 3); },
       [](HyperFile& hf) {
         Int32 got[3] = {};
         const bool ok = hf.ReadArray(got, HYPERFILEARRAY_INT32, 4, 3);
         return Judge(ok, std::equal(got, got + 3, kInts));
       }},
      {"float arrays",
       [](HyperFile& hf) {
         return hf.WriteArray(&kVectors[0].y, HYPERFILEARRAY_FLOAT64, sizeof(Vector64), 3) &&
                hf.WriteArray(kFloats, HYPERFILEARRAY_FLOAT32, 4, 2);
       },
       [](HyperFile& hf) {
         Float32 y[3] = {};
         Float64 f[2] = {};
         const bool ok = hf.ReadArray(y, HYPERFILEARRAY_FLOAT32, 4, 3) &&
                         hf.ReadArray(f, HYPERFILEARRAY_FLOAT64, 8, 2);
         return Judge(ok, y[2] == 8 && f[1] == -2.25);
       }},
      Block<Float32>("older float32 array", RawWriter("89 00000008 3fc00000 c0100000"),
                     (&HyperFile::ReadFloat32ArrayEx), {1.5f, -2.25f}),
      Block<Vector64>("older vector array",
                      RawWriter("85 0000000c 3ff0000000000000 4000000000000000 4008000000000000"),
                      (&HyperFile::ReadVectorArrayEx), {Vector64(1, 2, 3)}),
      Block<CPolygon>("older polygon array",
                      RawWriter("86 00000010 00000001 0001 0002 0003 0003 0004 0005 0006 0007"),
                      (&HyperFile::ReadPolygonArrayEx),
                      {CPolygon(1, 2, 3, 3), CPolygon(4, 5, 6, 7)}),
      Block<UInt16>("older uint16 array", RawWriter("87 00000004 abcd 0001"),
                    (&HyperFile::ReadUInt16ArrayEx), {0xABCD, 1}),
      Block<Vector64>("vector array helper",
                      [](HyperFile& hf) { return _HFWriteArray(&hf, kVectors, 3); }, _HFReadArray,
                      {kVectors[0], kVectors[1], kVectors[2]}),
      Block<Float32>("float32 array helper",
                     [](HyperFile& hf) { return _HFWriteArray(&hf, kFloats, 2); }, _HFReadArray,
                     {kFloats[0], kFloats[1]}),
      Block<Int32>("int32 array helper", [](HyperFile& hf) { return _HFWriteArray(&hf, kInts, 3); },
                   _HFReadArray, {7, -8, 9}),
      Block<Int16>("int16 array helper",
                   [](HyperFile& hf) { return _HFWriteArray(&hf, kShorts, 2); }, _HFReadArray,
                   {-3, 4}),
      {"skipped chunk",
       [d](HyperFile& hf) {
         return hf.WriteChunkStart(7, 1) && hf.WriteString(d->shortText) &&
                hf.WriteChunkStart(8, 0) && hf.WriteVector(Vector64()) && hf.WriteChunkEnd() &&
                hf.WriteMemory("xy", 2) &&
                Raw(hf, "8b 0000000000000002 abcd 8c 00000000 01 0000000000000002 0102") &&
                hf.WriteChunkEnd();  // a block with a 64-bit size, an array with a 64-bit count
       },
       [](HyperFile& hf) {
         Int32 id = 0, level = 0;
         const bool ok = hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && hf.ReadChunkStart(&id, &level) &&
                         hf.SkipToEndChunk();
         return Judge(ok, id == 7 && level == 1 && hf.GetChunkDepth() == 0);
       }},
      {"kept chunk",
       [](HyperFile& hf) {
         return hf.WriteChunkStart(9, 2) && hf.WriteInt32(1) && hf.WriteChunkStart(1, 1) &&
                hf.WriteChunkEnd() && hf.WriteChunkEnd();
       },
       [](HyperFile& hf) {
         void* b = reinterpret_cast<void*>(1);
         Int64 n = -1;
         const bool ok = hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) &&
                         hf.ReadChunkStart(nullptr, nullptr) && hf.ReadUnknownChunk(&b, &n, true);
         const bool same = n == 15 && static_cast<UChar*>(b)[14] == HYPERFILEVALUE_CHUNKEND;
         const bool cleared = (b == nullptr && n == 0) || (b == reinterpret_cast<void*>(1));
         if (ok) MemFree(b);
         return Judge(ok, same, cleared);
       }},
      Value(
          "nil value", [](HyperFile& hf) { return hf.WriteGeData(GeData()); },
          [](const GeData& v) { return v.GetType() == VALUETYPE_NIL; }),
      Value(
          "pointer value", [](HyperFile& hf) { return hf.WriteGeData(GeData(&hf, VOIDVALUE)); },
          [](const GeData& v) { return v.GetType() == VALUETYPE_VOID && v.GetVoid() == nullptr; }),
      Value("int32 value", GeData(Int32(-7))),
      Value("float value", GeData(2.5)),
      Value("int64 value", GeData(-(Int64(1) << 45))),
      Value("time value", GeData(BaseTime(5, 24))),
      Value("vector value", GeData(Vector64(3, 2, 1))),
      Value("matrix value", GeData(kMatrix)),
      Value("byte array value", *d->sample.GetData(9)),
      Value("string value", GeData(d->longText)),
      Value("file name value", GeData(d->path)),
      Value("container value", GeData(d->sample)),
      Value(
          "address value", [d](HyperFile& hf) { return hf.WriteGeData(d->addressValue); },
          [d](const GeData& v) {
            const CustomDataType* id = v.GetCustomDataType(CUSTOMDATATYPE_DESCID);
            return id != nullptr && *reinterpret_cast<const DescID*>(id) == d->address;
          }),
      Value("priority value", *d->sample.GetData(12)),
      Value(
          "gradient value", [d](HyperFile& hf) { return hf.WriteGeData(d->gradientValue); },
          [](const GeData& v) {
            const Gradient* g = Gradient::From(v.GetCustomDataType(CUSTOMDATATYPE_GRADIENT));
            return g != nullptr && g->GetKnotCount() == 3 && g->GetChild() != nullptr &&
                   g->GetChild()->GetKnotCount() == 2;
          }),
      Value("spline value", d->splineValue),
      Value(
          "include/exclude value", [d](HyperFile& hf) { return hf.WriteGeData(d->inexcludeValue); },
          [](const GeData& v) {
            // Read without a document, the links find no nodes.
            const InExcludeData* l =
                InExcludeData::From(v.GetCustomDataType(CUSTOMDATATYPE_INEXCLUDE_LIST));
            return l != nullptr && l->GetObjectCount() == 2 && l->GetFlags(1) == 6 &&
                   l->GetData(1)->GetData(3)->GetString().GetLength() == 14;
          }),
      Value("date value", *d->sample.GetData(13)),
      Value(
          "uninterpreted custom value",
          [d](HyperFile& hf) {
            return hf.WriteInt32(CUSTOMDATATYPE_FONT) && hf.WriteChunkStart(0, 1) &&
                   hf.WriteFloat(0.5) && hf.WriteString(d->shortText) && hf.WriteChunkEnd();
          },
          [](const GeData& v) { return v.GetCustomDataType(CUSTOMDATATYPE_FONT) != nullptr; }),
      Value(
          "unknown custom value",
          [](HyperFile& hf) {
            return hf.WriteInt32(1234567) && hf.WriteChunkStart(0, 3) && hf.WriteInt32(42) &&
                   hf.WriteChunkEnd();
          },
          [](const GeData& v) {
            const UnknownCustomData* u = v.GetUnknownCustomData();
            return v.GetType() == VALUETYPE_NIL && u != nullptr && u->originalType == 1234567 &&
                   u->level == 3 && u->size == 6;
          }),
      {"node tree", [d](HyperFile& hf) { return d->tree.WriteObject(&hf, 1); },
       [d](HyperFile& hf) {
         RootPluginNode back;
         const bool ok = back.ReadObject(&hf, true);
         const PluginNode* a = back.GetFirst();
         return Judge(ok, CountNodes(back) == CountNodes(d->tree) && a != nullptr &&
                              a->GetSlotCount() == 1 && a->GetUniqueIDs() != nullptr &&
                              a->GetDataInstance()->GetInt32(1) == -5);
       }},
      {"tag list", [d](HyperFile& hf) { return d->tags.WriteObject(&hf, 1); },
       [d](HyperFile& hf) {
         BaseList2D owner(tagtest::kPolygonObject);
         RootTag back(&owner);
         const bool ok = back.ReadObject(&hf, true);
         const PointTag* pt = PointTag::Cast(back.GetTag(TAG_POINT));
         return Judge(ok, back.GetCount() == d->tags.GetCount() && pt != nullptr &&
                              pt->GetCount() == 4 && back.GetLast()->GetObject() == &owner &&
                              back.GetLast()->GetNodeData() != nullptr);
       }},
      {"animated node", [d](HyperFile& hf) { return d->animated.WriteObject(&hf, 1); },
       [d](HyperFile& hf) {
         BaseList2D back(1);
         const bool ok = back.ReadObject(&hf, true);
         return Judge(ok, CountKeys(back) == CountKeys(d->animated));
       }},
      {"object hierarchy", [d](HyperFile& hf) { return d->objects.WriteObject(&hf, 1); },
       [d](HyperFile& hf) {
         RootObject back;
         const bool ok = back.ReadObject(&hf, true);
         return Judge(ok, CountObjects(back) == CountObjects(d->objects));
       }},
      {"mesh tag list", [d](HyperFile& hf) { return d->mesh.WriteObject(&hf, 1); },
       [d](HyperFile& hf) {
         BaseList2D owner(tagtest::kPolygonObject);
         RootTag back(&owner);
         const bool ok = back.ReadObject(&hf, true);
         return Judge(ok, back.GetCount() == d->mesh.GetCount());
       }},
      {"shader tree", [d](HyperFile& hf) { return d->shaderOwner.WriteObject(&hf, 1); },
       [](HyperFile& hf) {
         PluginNode back;
         const bool ok = back.ReadObject(&hf, true);
         BaseShader* first = ok ? FirstShader(back) : nullptr;
         return Judge(ok, first != nullptr && first->GetChildren()->GetCount() == 2 &&
                              first->GetNext() != nullptr);
       }},
      {"take tree",
       [d](HyperFile& hf) { return d->takeScene.hook->GetTakeList()->WriteObject(&hf, 1); },
       [d](HyperFile& hf) {
         RootPluginNode back;
         const bool ok = back.ReadObject(&hf, true);
         return Judge(ok, CountNodes(back) == CountNodes(*d->takeScene.hook->GetTakeList()));
       }},
      {"take system links", [d](HyperFile& hf) { return d->takeScene.hook->WriteLinks(&hf); },
       [](HyperFile& hf) {
         TakeSystemHook back;
         const bool ok = back.ReadLinks(&hf);
         return Judge(ok, back.GetCameraCount() == 2 && back.GetRenderDataCount() == 2);
       }},
      {"IES record", [d](HyperFile& hf) { return d->ies.Write(&hf); },
       [d](HyperFile& hf) {
         IESLight back;
         const bool ok = back.Read(&hf);
         return Judge(ok,
                      back.GetVerticalCount() == d->ies.GetVerticalCount() &&
                          back.GetHorizontalCount() == d->ies.GetHorizontalCount(),
                      back.GetVerticalCount() == 0);
       }},
      {"container", [d](HyperFile& hf) { return hf.WriteContainer(d->sample); },
       [d](HyperFile& hf) {
         BaseContainer bc;
         const bool ok = hf.ReadContainer(&bc, true);
         return Judge(ok, IdenticalContainer(bc, d->sample));
       }},
      {"older container",
       [](HyperFile& hf) {
         return Raw(hf,
                    "84 00000000 0f 00000009 00000001 0f 0f 0000002a"
                    " 00000003 82 82 00000004 0048 0069"
                    " 00000004 84 84 00000000 0f 00000005 00000001 0f 0f 00000007 ffffffff 03"
                    " 00000005 80 80 00000002 abcd 00000006 16") &&
                hf.WriteTime(BaseTime(1, 2)) && Raw(hf, "00000007 19") && hf.WriteMatrix(kMatrix) &&
                Raw(hf, "00000008 83 83 00000004 002f 0061 00000009 80 80 00000000 ffffffff 03");
       },
       [](HyperFile& hf) {
         BaseContainer bc;
         const bool ok = hf.ReadContainer(&bc, true);
         return Judge(
             ok, bc.GetId() == 9 && bc.GetCount() == 8 && bc.GetContainerInstance(4) != nullptr &&
                     bc.GetContainerInstance(4)->GetInt32(1) == 7 &&
                     bc.GetTime(6) == BaseTime(1, 2) && bc.GetData(7)->GetMatrix() == kMatrix &&
                     bc.GetData(9)->GetType() == VALUETYPE_BYTEARRAY);
       }},
      {"selection chunk", [d](HyperFile& hf) { return d->runs.Write(&hf); },
       [=](HyperFile& hf) {
         BaseSelect s;
         Int32 id = 0, level = 0;
         const bool ok = hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && hf.ReadChunkStart(&id, &level) &&
                         s.Read(&hf, id, level);
         // Runs read whole are kept when only the chunk's end is missing.
         return Judge(ok, sameRuns(s), s.GetSegments() == 0 || sameRuns(s));
       }},
      {"selection runs", [d](HyperFile& hf) { return d->runs.Write_API(&hf); },
       [=](HyperFile& hf) {
         BaseSelect s;
         s.Select(1000);
         const bool ok = s.Read_API(&hf);
         // Built aside: a failed read leaves the selection as it was.
         return Judge(
             ok, s.GetCount() == d->runs.GetCount() && s.GetSegments() == d->runs.GetSegments(),
             s.GetCount() == 1 && s.IsSelected(1000));
       }},
      {"block selection", [d](HyperFile& hf) { return WriteSelectBlock(&hf, &d->blocks); },
       [d](HyperFile& hf) {
         SelectBlockArray s;
         const bool ok = ReadSelectBlock(&hf, &s);
         return Judge(ok, s.GetCount() == d->blocks.GetCount() &&
                              s.GetSegments() == d->blocks.GetSegments());
       }},
      {"bit array", [d](HyperFile& hf) { return d->bits.Write(&hf); },
       [](HyperFile& hf) {
         SelectBitArray s;
         const bool ok = s.Read(&hf);
         return Judge(ok,
                      s.GetWordCount() == 3 && s.GetWords()[1] == -5 && s.GetSecond() == 2 &&
                          s.GetFourth() == 3 && s.GetFifth() == 4,
                      s.GetWordCount() == 0 && s.GetWords() == nullptr && s.GetFifth() == -1);
       }},
      {"address", [d](HyperFile& hf) { return d->address.Write(&hf); },
       [d](HyperFile& hf) {
         DescID id(3);
         const bool ok = id.Read(&hf);
         return Judge(ok, id == d->address);
       }},
      {"address store", [d](HyperFile& hf) { return DescIdStore_Write(d->store, &hf, true); },
       [=](HyperFile& hf) {
         DescIdStore* s = nullptr;
         const bool ok = DescIdStore_Read(s, &hf, true);
         // A value that cannot be read is kept as nil and the read goes on: the stream's
         // error tells.
         const bool same = hf.GetError() == FILEERROR_NONE ? sameStore(s, true) : true;
         DescIdStore_Free(s);
         return ok && hf.GetError() != FILEERROR_NONE ? 0 : Judge(ok, same);
       }},
      {"address flags", [d](HyperFile& hf) { return DescIdStore_Write(d->store, &hf, false); },
       [=](HyperFile& hf) {
         DescIdStore* s = nullptr;
         const bool ok = DescIdStore_Read(s, &hf, false);
         const bool same = sameStore(s, false);
         DescIdStore_Free(s);
         return Judge(ok, same);
       }},
  };
}

// What files before the current layouts hold, read as a file of version 10001.
void Samples::MakeOlderItems() {
  static const std::string colonPath = [] {
    std::string p = "Disk";
    for (int i = 0; i < 100; ++i) p += ":dir";  // long enough for an allocated conversion
    return p + ":file";
  }();
  auto memory = [](const char* hex) {
    return [hex](HyperFile& hf) {
      const Bytes b = lumtest::FromHex(hex);
      return hf.WriteMemory(b.data(), static_cast<Int64>(b.size()));
    };
  };
  older.items = {
      {"float32 as a float", [](HyperFile& hf) { return Raw(hf, "13 3f400000"); },
       [](HyperFile& hf) {
         Float32 x = 5;
         const bool ok = hf.ReadFloat32(&x);
         return Judge(ok, x == 0.75f, x == 5);
       }},
      {"colon path", [](HyperFile& hf) { return hf.WriteFilename(Filename(colonPath.c_str())); },
       [](HyperFile& hf) {
         Filename f;
         const bool ok = hf.ReadFilename(&f);
         const String& p = f.GetPath();
         return Judge(ok, p.GetLength() == 418 && p.GetUnit(0) == '/' && p.GetUnit(417) == 'e');
       }},
      Block<Vector64>("vectors in memory", memory("0000803f 00000040 00004040"),
                      _HFReadMemoryVectorArray, {Vector64(1, 2, 3)}),
      Block<Int32>("int32 in memory", memory("07000000 f8ffffff"), _HFReadMemoryL, {7, -8}),
      Block<Int16>("int16 in memory", memory("fdff 0400"), _HFReadMemoryW, {-3, 4}),
      {"block selection in memory", memory("01000000 03000000 07000000 07000000"),
       [](HyperFile& hf) {
         SelectBlockArray s;
         const bool ok = ReadSelectBlock(&hf, &s);
         return Judge(ok, s.GetSegments() == 2 && s.GetCount() == 4);
       }},
      {"bit array in memory",
       [](HyperFile& hf) {
         const Bytes words = lumtest::FromHex("05000000 faffffff");
         return hf.WriteUInt32(64) && hf.WriteUInt32(1) && hf.WriteUInt32(2) && hf.WriteUInt32(2) &&
                hf.WriteInt32(3) && hf.WriteMemory(words.data(), 8);
       },
       [](HyperFile& hf) {
         SelectBitArray s;
         const bool ok = s.Read(&hf);
         return Judge(ok, s.GetWordCount() == 2 && s.GetWords()[1] == -6 && s.GetFifth() == 3,
                      s.GetWordCount() == 0 && s.GetFifth() == -1);
       }},
      Value(
          "unknown custom value of an older file",
          [](HyperFile& hf) {
            return hf.WriteInt32(1234567) && hf.WriteChunkStart(0, 3) && hf.WriteInt32(42) &&
                   hf.WriteChunkEnd();
          },
          [](const GeData& v) {
            const UnknownCustomData* u = v.GetUnknownCustomData();
            return u != nullptr && u->level == -1 && u->size == 0;  // its contents are dropped
          }),
      {"older kinds skipped",
       [](HyperFile& hf) {
         // Kind 133 holds two bytes for every counted one, kind 136 84 for every 44.
         // An array then held a type byte and its size.
         return hf.WriteChunkStart(3, 0) && Raw(hf, "85 00000004 0000000000000000 88 0000002c") &&
                Raw(hf, std::string(168, '0').c_str()) && Raw(hf, "8c 03 00000004 01020304") &&
                hf.WriteChunkEnd();
       },
       [](HyperFile& hf) {
         const bool ok = hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) &&
                         hf.ReadChunkStart(nullptr, nullptr) && hf.SkipToEndChunk();
         return Judge(ok, hf.GetChunkDepth() == 0);
       }},
  };
}

// Reads the items in order until one fails; returns the index of the failing item (or the
// count), and -1 - index when an item did not end as documented.
int ReadItems(const ItemSet& set, HyperFile& hf) {
  const std::vector<Item>& items = set.items;
  for (size_t i = 0; i < items.size(); ++i) {
    const int r = items[i].read(hf);
    if (r < 0) {
      ADD_FAILURE() << items[i].name << " did not end as documented";
      return -1 - static_cast<int>(i);
    }
    if (r == 0) return static_cast<int>(i);
  }
  return static_cast<int>(items.size());
}

// ---- allocation-failure sweep -----------------------------------------------------------------

// A step ended as documented: it did its work, or it met the injected failure and failed as
// its contract says. (An operation may absorb a failure, say of a block it only reserves, and
// still succeed.)
bool Ended(Fault& f, bool done, bool failed) {
  const bool here = f.Here();
  return done || (here && failed);
}

bool StringBuilding(std::int64_t n, void*) {
  lumtest::StopFailing();
  const String source = U("Grüße aus Köln");
  const String piece = U("-ab");
  const String digits = U("x-1234y");
  Arm(n);
  Fault f;
  // Strings built anew are empty without a buffer when memory runs out; Insert changes
  // nothing then.
  String s;
  s.SetCString("Grüße aus Köln", -1, STRINGENCODING_UTF8);
  STEP(Ended(f, s == source, Empty(s)));
  std::string expected = Utf8(s);
  for (int i = 0; i < 8; ++i) {  // across two capacity steps: the buffer grows twice
    s.Insert(s.GetLength(), piece);
    const bool grown = Utf8(s) == expected + "-ab";
    STEP(Ended(f, grown, Utf8(s) == expected) && s.GetLength() <= s.GetCapacity());
    if (grown) expected += "-ab";
  }
  const String copy(s);
  STEP(Ended(f, copy == s, Empty(copy)));
  const String joined = source + piece;
  STEP(Ended(f, joined.GetLength() == 17, Empty(joined)));
  struct Derived {
    String value;
    Int32 length;
  } derived[] = {{source.SubStr(2, 5), 5},
                 {source.Left(5), 5},
                 {source.Right(4), 4},
                 {source.ToLower(), 14},
                 {String::IntToString(Int64(-9223372036854775807LL - 1)), 20},
                 {String::FloatToString(-1.5, 4, 2, false, '0'), 7},
                 {String::FloatToString(1.0, 600, 2, false, ' '), 603}};  // formatted on the heap
  int empty = 0;  // one failure empties one of them at most
  for (const Derived& d : derived) {
    if (Empty(d.value))
      ++empty;
    else
      STEP(d.value.GetLength() == d.length);
  }
  STEP(Ended(f, empty == 0, empty == 1));
  String filled;
  filled.Init(40, 'x');
  STEP(Ended(f, filled.GetLength() == 40 && filled.GetUnit(39) == 'x', Empty(filled)));
  filled.SetUcBlock(source.GetUnits(), source.GetLength());
  STEP(Ended(f, filled == source, Empty(filled)));
  Int32 error = 0;
  const Int32 parsed = digits.ParseToInt32(&error);
  STEP(Ended(f, parsed == -1234 && error == 0, parsed == 0 && error == 1));
  return true;
}

bool DiskFiles(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const std::string& path = *static_cast<const std::string*>(ctx);
  static const UChar big[40000] = {1, 2, 3};
  Arm(n);
  Fault f;
  const Filename name(path.c_str());
  STEP(Ended(f, name.GetPath().GetLength() == static_cast<Int32>(path.size()),
             name.GetPath().GetLength() == 0));
  if (name.GetPath().GetLength() == 0) return true;
  // The open needs the path's conversion buffer and the file's own buffer: when one cannot be
  // had, the open fails and says so.
  auto openFailed = [](const BaseFile& file, bool opened) {
    return !opened && !file.IsOpen() &&
           (file.GetError() == FILEERROR_OUTOFMEMORY || file.GetError() == FILEERROR_OPEN);
  };
  for (FILEOPEN mode : {FILEOPEN_WRITE, FILEOPEN_APPEND}) {
    BaseFile out;
    const bool opened = out.Open(name, mode, FILEDIALOG_NONE, BYTEORDER_INTEL);
    STEP(Ended(f, opened, openFailed(out, opened)));
    if (!opened) return true;
    STEP(out.WriteInt32(-17) && out.WriteFloat64(0.5) && out.WriteBytes(big, sizeof big));
    STEP(out.Close());
  }
  FSRef ref;
  const bool found = name.GetFSRef(&ref);
  STEP(Ended(f, found, !found));
  BaseFile in;
  const bool opened = in.Open(name, FILEOPEN_READ, FILEDIALOG_NONE, BYTEORDER_INTEL);
  STEP(Ended(f, opened, openFailed(in, opened)));
  if (!opened) return true;
  STEP(in.GetLength() == 2 * 40012);
  static UChar back[40000];
  for (int i = 0; i < 2; ++i) {
    Int32 v = 0;
    Float64 x = 0;
    STEP(in.ReadInt32(&v) && v == -17 && in.ReadFloat64(&x) && x == 0.5);
    STEP(in.ReadBytes(back, sizeof back) == Int64(sizeof back) && back[2] == 3);
  }
  STEP(in.Seek(40012 + 4) && in.ReadBytes(back, 8) == 8 && in.Close());
  return true;
}

bool MemoryFiles(std::int64_t n, void*) {
  lumtest::StopFailing();
  static const UChar big[120000] = {9};
  String text;
  text.Init(3000, 'm');
  Arm(n);
  Fault f;
  Filename name;
  name.SetMemoryTarget();
  {
    HyperFile hf;
    bool ok = hf.Open(name, FILEOPEN_WRITE);
    STEP(Ended(f, ok, hf.GetError() == FILEERROR_OUTOFMEMORY));
    if (!ok) return true;
    // 50000 + 100000 + 200000 bytes of blocks: the memory file grows three times.
    for (int i = 0; i < 2 && ok; ++i) ok = hf.WriteMemory(big, sizeof big) && hf.WriteString(text);
    for (int i = 0; i < 5000 && ok; ++i) ok = hf.WriteInt32(i);
    const bool closed = hf.Close();
    // A memory file that cannot grow: the sticky error, and every later write fails.
    STEP(Ended(f, ok && closed,
               !ok && !closed && hf.GetError() == FILEERROR_OUTOFMEMORY && !hf.WriteInt32(1)));
    if (!ok) return true;
  }
  constexpr Int64 total = 2 * (120005 + 6005) + 25000;
  // Copies of a memory file hold their own copy of its content, or nothing when that cannot
  // be had: written blocks joined, collected bytes, and readable bytes copied again.
  auto holds = [](const Filename& m) {
    return m.GetMemoryFile() != nullptr && m.GetMemoryFile()->size == total;
  };
  auto empty = [](const Filename& m) {
    return m.GetMemoryFile() != nullptr && m.GetMemoryFile()->size == 0 &&
           m.GetMemoryFile()->GetWrittenSize() == 0;
  };
  const Filename copy(name);
  STEP(Ended(f, holds(copy), empty(copy)));
  const void* bytes = nullptr;
  Int64 size = 0;
  const bool collected = name.CollectMemoryData(&bytes, &size);
  STEP(Ended(f, collected && size == total, !collected));
  if (!collected) return true;
  Filename readable;
  const bool kept = readable.SetMemoryData(bytes, size, true);
  STEP(Ended(f, kept && holds(readable), !kept && empty(readable)));
  if (!kept) return true;
  const Filename again(readable);
  STEP(Ended(f, holds(again), empty(again)));
  if (!holds(again)) return true;
  HyperFile hf;
  STEP(hf.Open(again, FILEOPEN_READ) && hf.GetLength() == total);
  void* block = nullptr;
  Int64 blockSize = 0;
  String back;
  const bool ok = hf.ReadMemory(&block, &blockSize) && hf.ReadString(&back);
  MemFree(block);
  STEP(Ended(f, ok && blockSize == 120000 && back == text,
             !ok && hf.GetError() == FILEERROR_OUTOFMEMORY));
  return true;
}

bool StreamReads(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const ItemSet& set = *static_cast<const ItemSet*>(ctx);
  Arm(n);
  Fault f;
  Filename name;
  HyperFile hf;
  STEP(set.Open(hf, name, set.bytes.size()));
  const int stopped = ReadItems(set, hf);
  STEP(stopped >= 0);
  // Every item read back; or the one that met the failure said so, and the stream stays failed.
  const bool failed = stopped < static_cast<int>(set.items.size());
  // A node's chunk loop reports an error met inside it as the missing end of the node's chunk.
  static const std::set<std::string> nodes = {"node tree",        "tag list",      "animated node",
                                              "object hierarchy", "mesh tag list", "shader tree",
                                              "take tree"};
  const FILEERROR expected = failed && nodes.count(set.items[stopped].name) != 0
                                 ? FILEERROR_CHUNKEND_MISSING
                                 : FILEERROR_OUTOFMEMORY;
  STEP(Ended(f, !failed, hf.GetError() == expected || hf.GetError() == FILEERROR_OUTOFMEMORY));
  if (failed) STEP(!hf.ReadInt32(nullptr) && hf.GetError() == expected);
  return true;
}

// Every item written under the failing allocation: the writer that meets it says so, and what
// a run that succeeds writes is what the items write without failures. (The reference is
// written anew: writing an object stores its checksum in its container, which the next write
// of the object holds.)
bool WriteItems(const ItemSet& set, HyperFile& hf) {
  bool ok = true;
  for (const Item& item : set.items) ok = ok && item.write(hf);
  return ok;
}

bool StreamWrites(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const ItemSet& set = *static_cast<const ItemSet*>(ctx);
  const Bytes reference = WriteStream([&](HyperFile& hf) { return WriteItems(set, hf); });
  Filename name;
  name.SetMemoryTarget();
  Arm(n);
  Fault f;
  bool ok;
  {
    HyperFile hf;
    ok = hf.Open(name, FILEOPEN_WRITE) && WriteItems(set, hf);
    ok = hf.Close() && ok;
  }
  STEP(Ended(f, ok, !ok));
  lumtest::StopFailing();
  const void* p = nullptr;
  Int64 size = 0;
  const UChar* b = ok && name.CollectMemoryData(&p, &size) ? static_cast<const UChar*>(p) : nullptr;
  STEP(!ok || (b != nullptr && Bytes(b, b + size) == reference));
  return true;
}

bool ContainerCopies(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const Samples& d = *static_cast<const Samples*>(ctx);
  BaseContainer sample;
  FillSample(sample);
  BaseContainer target(3);
  target.SetString(1, U("old"));
  BaseContainer merged;
  merged.SetFloat(1, 5.0);
  DescID deep(DescLevel(20, 5, 0), DescLevel(21, 5, 0));
  deep.PushId(DescLevel(3));
  const GeData nine(U("nine"));
  DescID ids[20];
  for (Int32 i = 0; i < 20; ++i) ids[i] = DescID(i + 1);
  struct Stores {
    DescIdStore* store = nullptr;
    DescIdStore* copy = nullptr;
    ~Stores() {
      DescIdStore_Free(store);
      DescIdStore_Free(copy);
    }
  } stores;
  Arm(n);
  Fault f;
  BaseContainer* clone = sample.GetClone(COPYFLAGS_NONE, nullptr);
  const bool none = clone == nullptr;
  const bool cloned = !none && IdenticalContainer(*clone, sample);
  BaseContainer::Free(clone);
  STEP(Ended(f, cloned, none));
  // A copy that fails keeps the entries it could copy and reports the failure.
  const bool copied = sample.CopyTo(&target, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, copied && IdenticalContainer(target, sample),
             !copied && target.GetId() == 77 && target.GetCount() < sample.GetCount()));
  const BaseContainer byValue(sample);  // skips an entry it cannot copy
  STEP(Ended(f, IdenticalContainer(byValue, sample), byValue.GetCount() == sample.GetCount() - 1));
  const GeData held(sample);
  STEP(Ended(f, held.GetContainer() != nullptr, held.GetType() == VALUETYPE_NIL));
  // Every kind copied by CopyData; markers and unknown custom values never compare equal.
  auto same = [](const GeData& a, const GeData& b) {
    const UnknownCustomData* u = a.GetUnknownCustomData();
    if (u != nullptr)
      return b.GetUnknownCustomData() != nullptr && b.GetUnknownCustomData()->size == u->size;
    if (a.GetType() == VALUETYPE_NIL) return b.GetType() == VALUETYPE_NIL;  // one not made
    if (a.GetMarker() != nullptr) return b.GetMarker() != nullptr;
    const Gradient* g = Gradient::From(a.GetCustomDataType(CUSTOMDATATYPE_GRADIENT));
    if (g != nullptr) {  // gradients never compare equal
      const Gradient* h = Gradient::From(b.GetCustomDataType(CUSTOMDATATYPE_GRADIENT));
      return h != nullptr && h->GetKnotCount() == g->GetKnotCount() &&
             (g->GetChild() == nullptr) == (h->GetChild() == nullptr);
    }
    return a == b;
  };
  const GeData marker{GeMarker(reinterpret_cast<const UChar*>("0123456789abcdef"))};
  STEP(Ended(f, marker.GetMarker() != nullptr, marker.GetType() == VALUETYPE_NIL));
  std::vector<const GeData*> values = {&d.unknownValue,  &d.rawValue,    &marker,
                                       &d.gradientValue, &d.splineValue, &d.inexcludeValue};
  for (Int32 id = 1; id <= 13; ++id) values.push_back(sample.GetData(id));
  for (const GeData* v : values) {
    GeData copy;
    v->CopyData(&copy, nullptr);
    STEP(Ended(f, same(*v, copy), copy.GetType() == VALUETYPE_NIL));
  }
  for (Int32 kind : {Int32(VALUETYPE_BYTEARRAY), Int32(VALUETYPE_MARKER), Int32(VALUETYPE_MATRIX),
                     CUSTOMDATATYPE_DESCID, CUSTOMDATATYPE_GRADIENT, CUSTOMDATATYPE_SPLINE,
                     CUSTOMDATATYPE_INEXCLUDE_LIST}) {
    GeData fresh;
    const bool made = fresh.InitType(kind);
    STEP(Ended(f, made && fresh.GetType() == kind, !made && fresh.GetType() == VALUETYPE_NIL));
  }
  const bool merge = merged.MergeContainer(sample);
  STEP(Ended(f, merge && merged.GetCount() == sample.GetCount() && merged.GetFloat(1) == -5.0,
             !merge));
  const bool set = merged.SetParameter(deep, nine);
  const BaseContainer* outer = merged.GetContainerInstance(20);
  const BaseContainer* inner = outer != nullptr ? outer->GetContainerInstance(21) : nullptr;
  const bool found = inner != nullptr && inner->FindIndex(3) >= 0 && *inner->GetData(3) == nine;
  STEP(Ended(f, set && found, !set && !found));
  GeData back;
  const bool got = found && merged.GetParameter(deep, back);
  STEP(Ended(f, !found || (got && back == nine), !got && back.GetType() == VALUETYPE_NIL));
  DescID path(deep);
  STEP(Ended(f, path == deep, path.GetCount() == 0));
  const Int32 levels = path.GetCount();
  const bool pushed = path.PushId(DescLevel(4));
  STEP(Ended(f, pushed, !pushed && path.GetCount() == levels));
  stores.store = NewObj<DescIdStore>();
  STEP(Ended(f, stores.store != nullptr, stores.store == nullptr));
  if (stores.store == nullptr) return true;
  for (Int32 i = 0; i < 20; ++i) {
    const bool stored = stores.store->SetId(ids[i], GeData(i));
    STEP(Ended(f, stored, !stored && stores.store->GetCount() == i));
    if (!stored) return true;
  }
  const bool storeCopied = DescIdStore_CopyTo(stores.store, stores.copy, nullptr);
  STEP(Ended(f, storeCopied && stores.copy->GetCount() == 20, !storeCopied));
  return true;
}

bool Bitmaps(std::int64_t n, void*) {
  lumtest::StopFailing();
  static const UChar raw[100] = {1, 2, 3};
  UChar row[33 * 3];
  for (int i = 0; i < 33 * 3; ++i) row[i] = static_cast<UChar>(i * 7);
  BaseBitmap into;
  into.Init(2, 2, 96, INITBITMAPFLAGS_NONE);  // to be replaced by a clone
  Arm(n);
  Fault f;
  BaseBitmap bmp;
  const Int32 made = bmp.Init(33, 20, 24, INITBITMAPFLAGS_NONE);
  STEP(Ended(f, made == BITMAPRESULT_OK,
             made == BITMAPRESULT_FAILED && bmp.GetBw() == 0 && bmp.GetDrawPort() == nullptr));
  if (made != BITMAPRESULT_OK) return true;
  for (Int32 y = 0; y < 20; ++y)
    STEP(bmp.SetPixelCnt(0, y, 33, row, 3, COLORMODE_RGB, PIXELCNT_NONE));
  for (int i = 0; i < 2; ++i) {
    BaseBitmap* channel = bmp.AddChannel(i == 0, false);
    STEP(Ended(f, channel != nullptr, channel == nullptr && bmp.GetChannelCount() == i));
    if (channel == nullptr) return true;
    STEP(bmp.SetAlphaPixel(channel, 5, 6, 200));
  }
  BaseBitmap* clone = bmp.GetClone();
  STEP(Ended(f, clone != nullptr, clone == nullptr));
  if (clone == nullptr) return true;
  UChar back[33 * 3] = {};
  clone->GetPixelCnt(0, 19, 33, back, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr);
  const bool same = std::memcmp(back, row, sizeof back) == 0 && clone->GetChannelCount() == 2;
  DeleteObj(clone);
  STEP(same);
  const bool cloned = bmp.CloneIt(&into);
  STEP(Ended(f, cloned && into.GetBw() == 33 && into.GetChannelCount() == 2, !cloned));
  for (Int32 depth : {8, 16, 32, 24 + 1000, 32 + 1000, 48 + 1000, 96 + 1000}) {
    BaseBitmap other;  // every storage: grey, and colour (depth + 1000)
    const Int32 r = depth > 1000 ? other.Init(17, 3, depth - 1000, INITBITMAPFLAGS_NONE)
                                 : other.Init(17, 3, depth, INITBITMAPFLAGS_GREY);
    STEP(Ended(f, r == BITMAPRESULT_OK, r == BITMAPRESULT_FAILED && other.GetBw() == 0));
  }
  BaseBitmap blob;
  const Int32 r = blob.Init(raw, sizeof raw);
  STEP(Ended(f, r == BITMAPRESULT_OK, r == BITMAPRESULT_FAILED));
  BaseBitmap blobCopy;
  const bool blobCloned = blob.CloneIt(&blobCopy);
  STEP(Ended(f, blobCloned, !blobCloned));
  return true;
}

// The indices a block selection holds.
std::set<Int32> Indices(const SelectBlockArray& s) {
  std::set<Int32> out;
  Int32 first, last;
  for (Int32 i = 0; s.GetRange(i, &first, &last); ++i)
    for (Int32 j = first; j <= last; ++j) out.insert(j);
  return out;
}

bool SelectionEdits(std::int64_t n, void*) {
  lumtest::StopFailing();
  Arm(n);
  Fault f;
  std::set<Int32> model;  // the indices the block selection should hold (not library memory)
  BaseSelect sel;         // the same edits below index 120
  SelectBlockArray blocks;
  // 1200 separate runs fill two blocks and part of a third; then every kind of run edit.
  std::vector<std::pair<Int32, bool>> edits;
  for (Int32 i = 0; i < 2400; i += 2) edits.push_back({i, true});
  for (Int32 i : {1, 3, 1001, 2999, 2399, 2998, 601, 119}) edits.push_back({i, true});
  for (Int32 i : {4, 1001, 700, 2, 2999, 0, 1}) edits.push_back({i, false});
  for (Int32 i : {0, 2}) edits.push_back({i, true});  // a new first run, then one grown down
  // An edit that fails returns false and changes nothing; the scenario ends there.
  for (const auto& e : edits) {
    const Int32 i = e.first;
    const Int32 count = sel.GetCount(), blockCount = blocks.GetCount();
    const bool a = i >= 120 || (e.second ? sel.Select(i) : sel.Deselect(i));
    STEP(Ended(f, a, !a && sel.GetCount() == count));
    const bool b = a && (e.second ? blocks.Select(i) : blocks.Deselect(i));
    STEP(Ended(f, b || !a, !b && blocks.GetCount() == blockCount));
    if (!a || !b) return true;
    if (e.second)
      model.insert(i);
    else
      model.erase(i);
  }
  const Int32 below = static_cast<Int32>(std::distance(model.begin(), model.lower_bound(120)));
  STEP(Indices(blocks) == model && blocks.GetCount() == static_cast<Int32>(model.size()) &&
       sel.GetCount() == below);
  BaseSelect* heap = BaseSelect::Alloc();
  STEP(Ended(f, heap != nullptr, heap == nullptr));
  BaseSelect::Free(heap);
  BaseSelect flat;
  const bool toFlat = blocks.CopyTo(&flat);
  STEP(Ended(f, toFlat && flat.GetCount() == blocks.GetCount(), !toFlat));
  SelectBlockArray back;
  const bool fromFlat = back.CopyFrom(&flat);
  STEP(Ended(f, fromFlat && back.GetCount() == flat.GetCount(), !fromFlat));
  SelectBlockArray blockCopy;
  const bool copiedBlocks = blocks.CopyTo(&blockCopy);
  STEP(Ended(f, copiedBlocks && Indices(blockCopy) == model, !copiedBlocks));
  BaseSelect selCopy;
  const bool copiedSel = sel.CopyTo(&selCopy);
  STEP(Ended(f, copiedSel && selCopy.GetCount() == sel.GetCount(), !copiedSel));
  const BaseSelectData runs[2] = {{1, 4}, {9, 9}};
  const bool from = selCopy.CopyFrom(runs, 2);
  STEP(Ended(f, from && selCopy.GetCount() == 5, !from));
  BitArray bits;
  const bool init = bits.Init(1000);
  STEP(Ended(f, init && bits.GetWordCount() == 32, !init && bits.GetWordCount() == 0));
  SelectBitArray words, wordCopy;
  const bool sized = words.SetWordCount(9);
  STEP(Ended(f, sized, !sized && words.GetWordCount() == 0));
  const bool wordsCopied = words.CopyTo(&wordCopy);
  STEP(Ended(f, wordsCopied && wordCopy.GetWordCount() == words.GetWordCount(), !wordsCopied));
  GeToolDynArray pointers(4, 0);
  for (Int32 i = 0; i < 40; ++i) {
    const Int32 kept = pointers.GetCount();
    const bool in = i % 3 ? pointers.Append(&model) : pointers.Insert(&sel, 0);
    STEP(Ended(f, in && pointers.GetCount() == kept + 1, !in && pointers.GetCount() == kept));
  }
  return true;
}

bool SaverRuns(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const std::string& dir = *static_cast<const std::string*>(ctx);
  BaseBitmap bmp;
  bmp.Init(40, 30, 24, INITBITMAPFLAGS_NONE);
  UChar row[40 * 3];
  for (int i = 0; i < 40 * 3; ++i) row[i] = static_cast<UChar>(i * 5);
  for (Int32 y = 0; y < 30; ++y) bmp.SetPixelCnt(0, y, 40, row, 3, COLORMODE_RGB, PIXELCNT_NONE);
  BaseContainer settings;
  settings.SetInt32(JPGSAVER_QUALITY, 80);
  settings.SetInt32(BMPSAVER_DPI, 300);
  const Filename jpg((dir + "/sweep.jpg").c_str());
  const Filename bmpName((dir + "/sweep.bmp").c_str());
  Arm(n);
  Fault f;
  // The saver object or a row buffer (-3), or the file's buffer (-4: it cannot be opened).
  for (SAVEBIT bits : {SAVEBIT_NONE, SAVEBIT_GREY}) {
    const Int32 r = bmp.Save(jpg, FILTER_JPG, &settings, bits);
    STEP(Ended(f, r == BITMAPRESULT_OK, r == BITMAPRESULT_FAILED || r == BITMAPRESULT_FILE));
  }
  const Int32 r = bmp.Save(bmpName, FILTER_BMP, &settings, SAVEBIT_NONE);
  STEP(Ended(f, r == BITMAPRESULT_OK, r == BITMAPRESULT_FAILED || r == BITMAPRESULT_FILE));
  return true;
}

// A real IES file imported, copied, stored and read back. The import fails with -1 (the
// file's buffer), -3 (the head) or -5 (a table) and leaves a new light without tables; the
// copy is null; the record read fails with FILEERROR_OUTOFMEMORY and leaves the light as it
// was.
struct IesFile {
  Bytes bytes;
  Int32 nv;  // the vertical count of the light (a type B file's after resampling)
};
bool IesLights(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const IesFile& ies = *static_cast<const IesFile*>(ctx);
  const Bytes& file = ies.bytes;
  Filename name;
  name.SetMemoryData(file.data(), static_cast<Int64>(file.size()), false);
  Filename record;
  record.SetMemoryTarget();
  {
    IESLight light;
    HyperFile out;
    STEP(light.ImportFromFile(name) == 1 && out.Open(record, FILEOPEN_WRITE) && light.Write(&out) &&
         out.Close());
  }
  const void* bytes = nullptr;
  Int64 size = 0;
  STEP(record.CollectMemoryData(&bytes, &size));
  Filename stored;
  stored.SetMemoryData(bytes, size, false);
  BaseList2D node(TYPE_LIGHTOBJECT);
  bool known = false;
  NodeData* data = AllocAlienObjectData(TYPE_LIGHTOBJECT, known, &node);
  STEP(data != nullptr);
  data->SetNode(&node);
  node.SetNodeData(data);
  Arm(n);
  Fault f;
  IESLight light;
  const Int32 r = light.ImportFromFile(name);
  STEP(Ended(f, r == 1, (r == -1 || r == -3 || r == -5) && light.GetVerticalCount() == 0));
  IESLight* copy = light.Copy();
  STEP(Ended(f, copy != nullptr, copy == nullptr));
  IESLight::Free(copy);
  // Applied to a light object, whose data copies the light it holds or fails.
  STEP(SetIESLight(&node, &light, nullptr));
  LightObjectData* own = static_cast<LightObjectData*>(data);
  LightObjectData copied;
  const bool done = own->CopyToX(&copied, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, done && (copied.GetIESLight() != nullptr) == (own->GetIESLight() != nullptr),
             !done));
  HyperFile hf;
  const bool opened = hf.Open(stored, FILEOPEN_READ);
  STEP(Ended(f, opened, !opened));
  if (!opened) return true;
  IESLight back;
  const bool read = back.Read(&hf);
  STEP(Ended(f, read && back.GetVerticalCount() == ies.nv,
             !read && hf.GetError() == FILEERROR_OUTOFMEMORY && back.GetVerticalCount() == 0));
  return true;
}

// A camera's defaults: Init reports a default it could not store.
bool CameraDefaults(std::int64_t n, void*) {
  lumtest::StopFailing();
  BaseList2D node(TYPE_CAMERAOBJECT);
  CameraObjectData data;
  data.SetNode(&node);
  Arm(n);
  Fault f;
  const bool ok = data.Init();
  STEP(Ended(f, ok && node.GetDataInstance()->GetCount() == CameraParameters::kDefaultCount, !ok));
  return true;
}

// A path that the file layer converts into an allocated buffer (it is longer than its local
// one) and that still names a file in the temporary directory.
std::string LongPath() {
  std::string p = lumtest::TempDir();
  while (p.size() < 2400) p += "/.";
  return p + "/sweep.bin";
}

// A scenario's stream to read (its bytes, not copied) and the memory target it writes into.
struct MemoryNames {
  explicit MemoryNames(const Bytes& bytes) {
    read.SetMemoryData(bytes.data(), Int64(bytes.size()), false);
    write.SetMemoryTarget();
  }
  Filename read, write;
};

// The write step of the scenarios below: node into the memory target name, under the armed
// failures; true when the write and the close succeeded.
bool WriteUnderFailures(const Filename& name, PrivateChunk& node) {
  HyperFile hf;
  bool ok = hf.Open(name, FILEOPEN_WRITE) && node.WriteObject(&hf, 1);
  return hf.Close() && ok;
}

// Their read step: node from name through a document with an alias translation, resolved after.
bool ReadThroughDocument(const Filename& name, PrivateChunk& node) {
  BaseDocument doc;
  AliasTrans trans;
  HyperFile hf;
  bool ok = trans.Init() && hf.Open(name, FILEOPEN_READ);
  doc.SetAliasTrans(&trans);
  hf.SetDocument(&doc);
  ok = ok && node.ReadObject(&hf, true);
  trans.Zap(true);
  return ok;
}

// Node trees are written, read through a document's alias translation, and copied.
bool NodeTrees(std::int64_t n, void*) {
  lumtest::StopFailing();
  RootPluginNode tree;
  BuildNodeTree(tree);
  const Bytes written = WriteStream([&](HyperFile& hf) { return tree.WriteObject(&hf, 1); });
  const int nodes = CountNodes(tree);
  const MemoryNames names(written);
  Arm(n);
  Fault f;
  {
    const bool ok = WriteUnderFailures(names.write, tree);
    STEP(Ended(f, ok, !ok));
  }
  {
    RootPluginNode back;
    const bool ok = ReadThroughDocument(names.read, back);
    STEP(Ended(f, ok && CountNodes(back) == nodes, !ok));
  }
  RootPluginNode copy;
  const bool copied = tree.CopyTo(&copy, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, copied && CountNodes(copy) == nodes, !copied));
  PluginNode* clone = static_cast<PluginNode*>(tree.GetFirst()->GetClone(COPYFLAGS_NONE, nullptr));
  const bool cloned = clone != nullptr;
  PluginNode::Free(clone);
  STEP(Ended(f, cloned, !cloned));
  return true;
}

// A plug-in list with a chunk no class takes and a nested member list among its members is
// read, copied and written.
bool KeptListChunks(std::int64_t n, void*) {
  lumtest::StopFailing();
  const Bytes file = lumtest::FromHex(
      "01 00000000 00000000 01 0001ae14 00000000 01 0001adee 00000000 02"
      "01 00001092 00000003 0f00000007 02 01 0001ae14 00000000 02 01 0001adee 00000000 02 02 02");
  Filename firstName;
  firstName.SetMemoryData(file.data(), Int64(file.size()), false);
  RootPluginNode list;
  STEP(ReadThroughDocument(firstName, list) && list.GetKeptChunkCount() == 1);
  const MemoryNames names(file);
  Arm(n);
  Fault f;
  {
    RootPluginNode back;
    const bool ok = ReadThroughDocument(names.read, back);
    STEP(Ended(f, ok && back.GetKeptChunkCount() == 1, !ok));
  }
  RootPluginNode copy;
  const bool copied = list.CopyTo(&copy, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, copied && copy.GetKeptChunkCount() == 1, !copied));
  const bool wrote = WriteUnderFailures(names.write, list);
  STEP(Ended(f, wrote, !wrote));
  return true;
}

// Tag lists with a tag of every kind are built, written, read, copied and cloned, and their
// vertex colours converted both ways.
bool TagLists(std::int64_t n, void*) {
  lumtest::StopFailing();
  BaseList2D owner(tagtest::kPolygonObject);
  RootTag tags(&owner);
  STEP(tagtest::BuildMesh(tags));
  const Bytes written = WriteStream([&](HyperFile& hf) { return tags.WriteObject(&hf, 1); });
  const Int32 count = tags.GetCount();
  const MemoryNames names(written);
  Arm(n);
  Fault f;
  {
    RootTag built(&owner);
    const bool ok = tagtest::BuildMesh(built);
    STEP(Ended(f, ok && built.GetCount() == count, !ok));
  }
  {
    const bool ok = WriteUnderFailures(names.write, tags);
    STEP(Ended(f, ok, !ok));
  }
  {
    RootTag back(&owner);
    HyperFile hf;
    const bool ok = hf.Open(names.read, FILEOPEN_READ) && back.ReadObject(&hf, true);
    STEP(Ended(f, ok && back.GetCount() == count,
               !ok && back.GetCount() < count && hf.GetError() != FILEERROR_NONE));
  }
  RootTag copy(&owner);
  const bool copied = tags.CopyTo(&copy, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, copied && copy.GetCount() == count, !copied && copy.GetCount() == 0));
  for (BaseTag* t = tags.GetFirst(); t != nullptr; t = t->GetNext()) {
    GeListNode* clone = t->GetClone(COPYFLAGS_NONE, nullptr);
    const bool cloned = clone != nullptr;
    DeleteObj(clone);
    STEP(Ended(f, cloned, !cloned));
  }
  VertexColorTag* vc = VertexColorTag::Cast(tags.GetTag(TAG_VERTEXCOLOR, 1));
  const Int32 before = vc->GetCount();
  const bool toPoints = VertexColorTag_ConvertVertexColorMode(vc, true);
  STEP(Ended(f, toPoints && vc->GetCount() == 4, !toPoints && vc->GetCount() == before));
  return true;
}

// A hierarchy of objects: a polygon object with UVW and normal tags, selections and n-gon
// records, a child with a plug-in tag, and a spline with points and a point selection beside
// them. False when out of memory.
bool BuildObjects(RootObject& list) {
  PolygonObject* mesh = PolygonObject::Alloc(4, 2);
  if (mesh == nullptr) return false;
  list.InsertLast(mesh);
  mesh->SetName(String("mesh"));
  mesh->SetFrozenRot(Vector64(0.2, 0, 0));
  mesh->GetPolygonW()[1] = CPolygon(0, 1, 3);
  if (mesh->MakeTag(TAG_UVW) == nullptr || mesh->MakeTag(TAG_NORMAL) == nullptr ||
      !mesh->ResizeObject(4, 2, 1)) {
    return false;
  }
  PolygonObjectData* d = static_cast<PolygonObjectData*>(mesh->GetNodeData());
  const UInt32 v[] = {1, 2, 3};
  if (!d->GetPolygonSelection(1).Select(1) || !d->GetNgonBase()->GetRecord(0)->Set(v, 3))
    return false;
  BaseObject* child = BaseObject::Alloc(TYPE_OBJECT);
  if (child == nullptr) return false;
  child->InsertUnder(mesh);
  if (child->MakeTag(1019597) == nullptr) return false;
  BaseObject* spline = BaseObject::Alloc(TYPE_SPLINEOBJECT);
  if (spline == nullptr) return false;
  list.InsertLast(spline);
  PointObjectData* sd = static_cast<PointObjectData*>(spline->GetNodeData());
  return sd->_ResizeObject(3) && sd->GetPointSelection(0).Select(2);
}

int CountObjects(const RootList2D& list) {
  int n = 0;
  for (GeListNode* m = list.GetFirst(); m != nullptr; m = m->GetNext()) {
    const BaseObject* o = static_cast<const BaseObject*>(m);
    n += 1 + (o->GetChildren() != nullptr ? CountObjects(*o->GetChildren()) : 0);
    for (BaseTag* t = o->GetFirstTag(); t != nullptr; t = t->GetNext()) ++n;
  }
  return n;
}

// Object hierarchies with geometry are written, read and copied.
bool ObjectHierarchies(std::int64_t n, void*) {
  lumtest::StopFailing();
  RootObject list;
  STEP(BuildObjects(list));
  const Bytes written = WriteStream([&](HyperFile& hf) { return list.WriteObject(&hf, 1); });
  const int count = CountObjects(list);
  const MemoryNames names(written);
  Arm(n);
  Fault f;
  {
    const bool ok = WriteUnderFailures(names.write, list);
    STEP(Ended(f, ok, !ok));
  }
  {
    RootObject back;
    HyperFile hf;
    bool ok = hf.Open(names.read, FILEOPEN_READ) && back.ReadObject(&hf, true);
    STEP(Ended(f, ok && CountObjects(back) == count, !ok));
  }
  RootObject copy;
  const bool copied = list.CopyTo(&copy, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, copied && CountObjects(copy) == count, !copied));
  BaseObject* clone = list.GetFirst()->GetCloneObject(true, COPYFLAGS_NONE, nullptr);
  const bool cloned = clone != nullptr;
  BaseObject::Free(clone);
  STEP(Ended(f, cloned, !cloned));
  return true;
}

// Writing, reading and copying an animated node, cloning a track, and building keys.
bool Tracks(std::int64_t n, void*) {
  lumtest::StopFailing();
  BaseList2D node(1);
  BuildAnimatedNode(node);
  const int keys = CountKeys(node);
  const Bytes written = WriteStream([&](HyperFile& hf) { return node.WriteObject(&hf, 1); });
  const MemoryNames names(written);
  Arm(n);
  Fault f;
  {
    const bool ok = WriteUnderFailures(names.write, node);
    STEP(Ended(f, ok, !ok));
  }
  {
    BaseList2D back(1);
    const bool ok = ReadThroughDocument(names.read, back);
    STEP(Ended(f, ok && CountKeys(back) == keys, !ok));
  }
  BaseList2D copy(1);
  const bool copied = node.CopyTo(&copy, COPYFLAGS_NONE, nullptr);
  STEP(Ended(f, copied && CountKeys(copy) == keys, !copied));
  GeListNode* clone = node.GetFirstCTrack()->GetClone(COPYFLAGS_NONE, nullptr);
  const bool cloned = clone != nullptr;
  DeleteObj(clone);
  STEP(Ended(f, cloned, !cloned));
  // Keys added to a fresh curve and moved to another: a failure leaves both as they were.
  CTrack* t = CTrack::Alloc(&node, DescID(905), U("t"));
  STEP(Ended(f, t != nullptr, t == nullptr));
  if (t == nullptr) return true;
  CCurve* a = t->GetCurve();
  CCurve* b = t->GetCurve(CCURVE(2), true);
  STEP(Ended(f, b != nullptr, b == nullptr));
  for (Int32 i = 0; b != nullptr && i < 40; ++i) {
    const Int32 before = a->GetKeyCount();
    CKey* k = a->AddKey(BaseTime(i, 10));
    STEP(Ended(f, k != nullptr && a->GetKeyCount() == before + 1,
               k == nullptr && a->GetKeyCount() == before));
    if (k == nullptr || i % 3 != 0) continue;
    const Int32 inB = b->GetKeyCount();
    const Int32 moved = a->MoveKey(BaseTime(i, 10), a->GetKeyCount() - 1, b);
    const bool ok = k->GetCurve() == b && b->GetKeyCount() == inB + 1 && moved == inB - 1;
    STEP(Ended(f, ok, moved == -1 && k->GetCurve() == a && b->GetKeyCount() == inB));
  }
  CTrack::Free(t);
  return true;
}

// Takes: a scene with a take tree and overrides read back, written, copied with its overrides,
// and a take and an override made anew.
bool TakeScenes(std::int64_t n, void*) {
  lumtest::StopFailing();
  taketest::TakeScene s;
  STEP(s.ok);
  const Bytes written = taketest::WriteRoots(s.Roots());
  STEP(!written.empty());
  Arm(n);
  Fault f;
  {
    BaseDocument doc;
    taketest::SceneSkeleton back;
    const bool ok = taketest::ReadRoots(written, back.Roots(), &doc);
    STEP(Ended(f, ok && BaseTake::From(back.takes.GetFirst()) != nullptr, !ok));
  }
  {
    Filename name;
    name.SetMemoryTarget();
    HyperFile hf;
    bool ok = hf.Open(name, FILEOPEN_WRITE);
    for (PrivateChunk* root : s.Roots()) ok = ok && root->WriteObject(&hf, 1);
    ok = hf.Close() && ok;
    STEP(Ended(f, ok, !ok));
  }
  {
    RootPluginNode takes;
    BaseList2D node(taketest::kTypeNode);
    AliasTrans trans;
    bool ok = trans.Init() && s.node->CopyTo(&node, COPYFLAGS(COPYFLAGS_TRANSLATE_TAKES), &trans) &&
              s.hook->GetTakeList()->CopyTo(&takes, COPYFLAGS(COPYFLAGS_TRANSLATE_TAKES), &trans);
    trans.Zap(true);
    BaseTake* main = ok ? BaseTake::From(takes.GetFirst()) : nullptr;
    BaseTake* a = main != nullptr ? main->GetDown() : nullptr;
    ok = ok && a != nullptr && a->GetTakeData()->FindOverride(&s.doc, &node) != nullptr;
    STEP(Ended(f, ok, !ok));
  }
  BaseTake* take = BaseTake::Alloc();
  BaseOverride* ov = take != nullptr ? take->GetTakeData()->AddOverride(s.other) : nullptr;
  const bool made = ov != nullptr && ov->GetOverrideData()->AddOverriddenParam(taketest::ParamQy());
  if (ov != nullptr) {
    PluginNode* node = ov->GetNode();
    PluginNode::Free(node);
  }
  BaseTake::Free(take);
  STEP(Ended(f, made, !made));
  return true;
}

// A node with a layer shader whose stack (a shader layer, a folder with a colorize layer)
// links to its two child shaders; a second shader after it.
void BuildShaderTree(BaseList2D& owner) {
  BaseShader* layer = BaseShader::Alloc(1011123);
  BaseShader* noise = BaseShader::Alloc(1011116);
  BaseShader* variation = BaseShader::Alloc(1033825);
  noise->InsertUnderLast(layer);
  variation->InsertUnderLast(layer);
  GeData value(CUSTOMDATATYPE_BLEND, DEFAULTVALUE);
  CBlendLayers& stack = iBlendDataType::From(value.GetCustomDataType(CUSTOMDATATYPE_BLEND))->layers;
  static_cast<BlendShader*>(stack.Add(LAYERTYPE_SHADER, 1, true))->SetLink(noise);
  auto* folder = static_cast<BlendFolder*>(stack.Add(LAYERTYPE_FOLDER, 2, true));
  static_cast<BlendShader*>(folder->GetLayers().Add(LAYERTYPE_SHADER, 3, true))->SetLink(variation);
  folder->GetLayers().Add(LAYERTYPE_COLORIZE, 4, true);
  layer->GetDataInstance()->SetData(1000, value);
  owner.InsertShader(layer, nullptr);
  owner.InsertShader(BaseShader::Alloc(1012161), layer);
}

BaseShader* FirstShader(BaseList2D& node) {
  RootList2D* list = node.GetAttachedList(ATTACHEDLIST_SHADERS);
  return list != nullptr ? static_cast<BaseShader*>(list->GetFirst()) : nullptr;
}

// Shader trees with layer stacks are read through a document's translation, written, cloned
// (a shader and a whole list), copied with their owner, and their stacks copied as values.
bool ShaderTrees(std::int64_t n, void*) {
  lumtest::StopFailing();
  PluginNode owner(12345);
  BuildShaderTree(owner);
  BaseShader* shader = FirstShader(owner);
  const Bytes written = WriteStream([&](HyperFile& hf) { return owner.WriteObject(&hf, 1); });
  Filename readName;
  readName.SetMemoryData(written.data(), Int64(written.size()), false);
  Arm(n);
  Fault f;
  {
    PluginNode back;
    const bool ok = ReadThroughDocument(readName, back);
    BaseShader* read = ok ? FirstShader(back) : nullptr;
    STEP(Ended(f, read != nullptr && read->GetChildren()->GetCount() == 2, !ok));
    // The comparison allocates its own bookkeeping: out of memory it says "different".
    const bool same = read == nullptr || shader->Compare(read);
    STEP(Ended(f, same, !same));
  }
  {
    Filename name;
    name.SetMemoryTarget();
    HyperFile hf;
    bool ok = hf.Open(name, FILEOPEN_WRITE) && owner.WriteObject(&hf, 1);
    ok = hf.Close() && ok;
    STEP(Ended(f, ok, !ok));
  }
  BaseShader* clone = static_cast<BaseShader*>(shader->GetClone(COPYFLAGS_NONE, nullptr));
  const bool cloned = clone != nullptr;
  STEP(Ended(f, cloned && clone->GetChildren()->GetCount() == 2, !cloned));
  BaseShader::Free(clone);
  GeListNode* list = owner.GetAttachedList(ATTACHEDLIST_SHADERS)->GetClone(COPYFLAGS_NONE, nullptr);
  const bool listCloned = list != nullptr && static_cast<RootShader*>(list)->GetCount() == 2;
  STEP(Ended(f, listCloned, list == nullptr));
  DeleteObj(list);
  PluginNode copiedOwner(12345);
  const bool copied = owner.CopyTo(&copiedOwner, COPYFLAGS_NONE, nullptr);
  BaseShader* copiedFirst = copied ? FirstShader(copiedOwner) : nullptr;
  STEP(Ended(f, copiedFirst != nullptr && copiedFirst->GetChildren()->GetCount() == 2, !copied));
  const GeData* stack = shader->GetDataInstance()->GetData(1000);
  GeData copy;
  stack->CopyData(&copy, nullptr);
  STEP(Ended(f, copy.GetType() == CUSTOMDATATYPE_BLEND, copy.GetType() == VALUETYPE_NIL));
  const bool equal = copy.GetType() == VALUETYPE_NIL || copy == *stack;
  STEP(Ended(f, equal, !equal));
  return true;
}

// An object and a shader tree read with chunks no class takes: in the object, in the shader and
// among the shader's children.
const char* const kKeptInObject =
    "01 00000000 00000000 01 0001ae14 00000000 01 0000141a 00000000"
    "01 00001092 00000003 0f00000007 02 02 02 02";
const char* const kKeptInShaders =
    "01 00000000 00000000 01 0001ae14 00000000 01 0000164b 00000000"
    "01 0001ae14 00000000 01 00001093 00000001 0f00000008 02 01 0000164b 00000000 02 02"
    "01 00001092 00000003 0f00000007 02 02 02 02";

// The copies the library makes, under one COPYFLAGS value (ctx): object hierarchies with tags,
// tracks and shader trees, an object and shaders with kept chunks, and plug-in node trees;
// copied as lists, cloned as nodes (plug-in and shader lists whole as well), and copied through a
// translation of the caller's.
bool CopiesUnderFlags(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const COPYFLAGS flags = COPYFLAGS(*static_cast<const Int32*>(ctx));
  RootObject objects;
  STEP(BuildObjects(objects));
  BuildAnimatedNode(*objects.GetFirst());
  BuildShaderTree(*objects.GetFirst());
  RootObject kept;
  RootShader shaders;
  {
    lumtest::MemReader r(lumtest::FromHex(kKeptInObject));
    lumtest::MemReader rs(lumtest::FromHex(kKeptInShaders));
    STEP(kept.ReadObject(&r.hf, true) && kept.GetFirst()->GetKeptChunkCount() == 1 &&
         shaders.ReadObject(&rs.hf, true) && shaders.GetFirst()->GetKeptChunkCount() == 1);
  }
  RootPluginNode tree;
  BuildNodeTree(tree);
  Arm(n);
  Fault f;
  for (RootList2D* list : {static_cast<RootList2D*>(&objects), static_cast<RootList2D*>(&kept),
                           static_cast<RootList2D*>(&shaders), static_cast<RootList2D*>(&tree)}) {
    RootObject objectCopy;
    RootShader shaderCopy;
    RootPluginNode nodeCopy;
    RootList2D* into = &objectCopy;
    if (list == &shaders) into = &shaderCopy;
    if (list == &tree) into = &nodeCopy;
    const bool copied = list->CopyTo(into, flags, nullptr);
    STEP(Ended(f, copied, !copied));
    GeListNode* node = list->GetFirst()->GetClone(flags, nullptr);
    const bool cloned = node != nullptr;
    DeleteObj(node);
    STEP(Ended(f, cloned, !cloned));
    if (into == &objectCopy) continue;
    GeListNode* whole = list->GetClone(flags, nullptr);
    const bool wholeCloned = whole != nullptr;
    DeleteObj(whole);
    STEP(Ended(f, wholeCloned, !wholeCloned));
  }
  AliasTrans trans;
  RootObject into;
  const bool copied = trans.Init() && objects.CopyTo(&into, flags, &trans);
  trans.Zap(true);
  STEP(Ended(f, copied, !copied));
  return true;
}

// Whole scene files: a scene is made, read from memory (objects, two render settings, a take
// with an override, a top-level chunk no part takes), and written into memory and beside a
// file on disk. A scene that could not be made has no parts and reads nothing.
bool SceneFiles(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const Filename disk(static_cast<const std::string*>(ctx)->c_str());
  Bytes file;
  Int32 objects = 0;
  {
    Scene source;
    STEP(BuildObjects(*source.GetObjects()));
    objects = CountObjects(*source.GetObjects());
    source.AddRenderData();
    STEP(source.GetDocument()->SetActiveRenderData(source.AddRenderData()));
    BaseTake* take = taketest::NewTake(source.GetTakeData()->GetMainTake(), "t");
    STEP(take != nullptr && take->GetTakeData()->AddOverride(source.GetFirstObject()) != nullptr);
    file = WriteStream([&](HyperFile& hf) {
      return source.WriteTo(&hf) && hf.WriteChunkStart(424242, 3) && hf.WriteString(U("future")) &&
             hf.WriteChunkEnd();
    });
  }
  const MemoryNames names(file);
  Arm(n);
  Fault f;
  Scene scene;
  const bool made = scene.GetTakeSystem() != nullptr;
  STEP(Ended(f, made, scene.GetDocument() == nullptr && scene.GetObjects() == nullptr));
  FileErrorInfo err;
  const bool read = scene.Read(names.read, &err);
  STEP(Ended(f,
             read && CountObjects(*scene.GetObjects()) == objects && scene.GetKeptChunkCount() == 1,
             !read && err.code != FILEERROR_NONE && scene.GetFirstObject() == nullptr));
  if (!read) return true;
  const Filename* targets[] = {&names.write, &disk};
  for (const Filename* to : targets) {
    const bool wrote = scene.Write(*to, &err);
    STEP(Ended(f, wrote, !wrote && err.code != FILEERROR_NONE));
  }
  return true;
}

// ---- the fuzz corpus as rows ---------------------------------------------------------------

// The node readers' seeds (fuzz/corpus) hold every chunk level the readers accept, old and new:
// each entry is read as its fuzz target reads it, in the stream its layout byte picks.
// The take target's entries are also read as an override's and a take's record, at the level
// their first byte names.
enum CorpusKind {
  kCorpusObjects,
  kCorpusTags,
  kCorpusPlugins,
  kCorpusShaders,
  kCorpusTracks,
  kCorpusOverrideRecord,
  kCorpusTakeRecord
};

struct CorpusRow {
  const char* dir;
  CorpusKind kind;
  bool layoutFirst;  // the layout byte leads the entry, else it ends it (counted from 2)
};

const CorpusRow kCorpusRows[] = {
    {"object", kCorpusObjects, true},     {"tag", kCorpusTags, true},
    {"pluginnode", kCorpusPlugins, true}, {"shader", kCorpusShaders, true},
    {"node", kCorpusPlugins, false},      {"track", kCorpusTracks, false},
    {"take", kCorpusPlugins, false},
};

// One entry: its stream and the layout it is read in.
struct CorpusEntry {
  std::string name;
  CorpusKind kind;
  Bytes stream;
  Int32 version = HYPERFILE_CURRENT_VERSION;
  bool float32 = false;
  BYTEORDER order = BYTEORDER_MOTOROLA;
  Int32 level = 0;          // of a record
  bool readsWhole = false;  // without injected failures
  Int64 readTo = 0;         // where that read stopped
};

// The names in a directory, sorted.
std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<CorpusEntry> CorpusEntries() {
  static const Int32 kVersions[8] = {
      HYPERFILE_CURRENT_VERSION, 12000, 11924, 11903, 11700, 11004, 10001, 7000};
  std::vector<CorpusEntry> entries;
  for (const CorpusRow& row : kCorpusRows) {
    const std::string dir = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/" + row.dir;
    for (const std::string& name : ListDir(dir)) {
      Bytes b = lumtest::ReadFileBytes(dir + "/" + name);
      if (b.empty()) continue;
      CorpusEntry e;
      e.name = std::string(row.dir) + "/" + name;
      e.kind = row.kind;
      const UChar layout = row.layoutFirst ? b.front() : UChar(b.back() - 2);
      e.stream = row.layoutFirst ? Bytes(b.begin() + 1, b.end()) : b;
      e.version = kVersions[layout & 7];
      e.float32 = (layout & 8) != 0;
      e.order = (layout & 16) != 0 ? BYTEORDER_INTEL : BYTEORDER_MOTOROLA;
      if (row.kind == kCorpusPlugins && !row.layoutFirst && std::string(row.dir) == "take") {
        for (CorpusKind record : {kCorpusOverrideRecord, kCorpusTakeRecord}) {
          CorpusEntry r;
          r.name = e.name + (record == kCorpusTakeRecord ? " as a take" : " as an override");
          r.kind = record;
          r.stream = Bytes(b.begin() + 1, b.end());
          r.level = record == kCorpusTakeRecord ? (b[0] & 3) % 3 : b[0] & 3;
          entries.push_back(std::move(r));
        }
      }
      entries.push_back(std::move(e));
    }
  }
  return entries;
}

// A list of the entry's kind, read from its first `length` bytes through a document's
// translation; written back into memory when write is set.
struct CorpusList {
  explicit CorpusList(CorpusKind kind) {
    switch (kind) {
      case kCorpusObjects:
        list = NewObj<RootObject>();
        break;
      case kCorpusTags:
        list = NewObj<RootTag>(&owner);
        break;
      case kCorpusPlugins:
        list = NewObj<RootPluginNode>();
        break;
      case kCorpusShaders:
        list = NewObj<RootShader>();
        break;
      case kCorpusTracks:
        list = NewObj<RootCTrack>();
        break;
      case kCorpusOverrideRecord:
        record = PluginNode::Alloc(TYPE_OVERRIDE);
        break;
      case kCorpusTakeRecord:
        record = PluginNode::Alloc(TYPE_TAKE);
        break;
    }
    bool known = false;
    if (record != nullptr && record->AddSlot()) record->ValidateNth(0, record->GetType(), known);
  }
  ~CorpusList() {
    DeleteObj(list);
    PluginNode::Free(record);
  }
  CorpusList(const CorpusList&) = delete;
  CorpusList& operator=(const CorpusList&) = delete;
  bool Read(const CorpusEntry& e, size_t length, Int64* stopped) {
    NodeData* data = record != nullptr ? record->GetNthData(0) : nullptr;
    if (list == nullptr && data == nullptr) return false;
    Filename name;
    if (!name.SetMemoryData(e.stream.data(), Int64(length), false)) return false;
    HyperFile hf;
    hf.SetFileVersion(e.version);
    hf.SetFloat32Mode(e.float32);
    if (!hf.Open(name, FILEOPEN_READ)) return false;
    hf.SetByteOrder(e.order);
    BaseDocument doc;
    AliasTrans trans;
    if (!trans.Init()) return false;
    doc.SetAliasTrans(&trans);
    hf.SetDocument(&doc);
    const bool ok = (data != nullptr ? data->Read(&hf, CHUNK_PLUGINDATA, e.level)
                                     : list->ReadObject(&hf, true)) &&
                    hf.GetError() == FILEERROR_NONE;
    trans.Zap(true);
    hf.SetDocument(nullptr);
    if (stopped != nullptr) *stopped = hf.GetPosition();
    return ok;
  }
  bool Write() {
    Filename name;
    name.SetMemoryTarget();
    HyperFile hf;
    const bool ok = hf.Open(name, FILEOPEN_WRITE) && WriteTo(&hf);
    return hf.Close() && ok;
  }
  bool WriteTo(HyperFile* hf) {
    return list != nullptr ? list->WriteObject(hf, 1) : record->GetNthData(0)->Write(hf);
  }
  // Copies what was read into a fresh list of the kind, and clones its first member (or the
  // record), with the copy flags given.
  bool Copy(CorpusKind kind, COPYFLAGS flags) {
    GeListNode* first = list != nullptr ? list->GetFirst() : record;
    GeListNode* clone = first != nullptr ? first->GetClone(flags, nullptr) : nullptr;
    const bool cloned = first == nullptr || clone != nullptr;
    DeleteObj(clone);
    if (list == nullptr) return cloned;
    CorpusList into(kind);
    return into.list != nullptr && list->CopyTo(into.list, flags, nullptr) && cloned;
  }

  BaseList2D owner{5100};
  RootList2D* list = nullptr;
  PluginNode* record = nullptr;
};

// Reads and writes one corpus entry: a failure met makes the step fail, never a different
// success.
bool CorpusReads(std::int64_t n, void* ctx) {
  lumtest::StopFailing();
  const CorpusEntry& e = *static_cast<const CorpusEntry*>(ctx);
  Arm(n);
  Fault f;
  CorpusList l(e.kind);
  const bool ok = l.Read(e, e.stream.size(), nullptr);
  STEP(Ended(f, ok == e.readsWhole, !ok));
  if (ok) {
    const bool wrote = l.Write();
    STEP(Ended(f, wrote, !wrote));
    const bool copied = l.Copy(e.kind, COPYFLAGS_NONE);
    STEP(Ended(f, copied, !copied));
  }
  return true;
}

TEST(AllocationSweep, EveryAllocationOfEveryWorkflowCanFail) {
  std::string longPath = LongPath();
  std::string dir = lumtest::TempDir();
  std::string scenePath = lumtest::TempPath("sweep.lum");
  Samples samples;
  const std::string ies = std::string(LUMORA_SHARED_DATA_DIR) + "/ies/";
  IesFile iesFile = {lumtest::ReadFileBytes(ies + "5.ies"), 37};
  IesFile floodFile = {lumtest::ReadFileBytes(ies + "flood-1.ies"), 91};
  ASSERT_FALSE(iesFile.bytes.empty() || floodFile.bytes.empty());
  struct Scenario {
    const char* name;
    bool (*run)(std::int64_t, void*);
    void* ctx;
    int atLeast;  // failing runs the scenario has at the very least
  } scenarios[] = {
      {"string building", StringBuilding, nullptr, 10},
      {"disk files", DiskFiles, &longPath, 6},
      {"memory files", MemoryFiles, nullptr, 8},
      {"stream reads", StreamReads, &samples.current, 100},
      {"older stream reads", StreamReads, &samples.older, 10},
      {"stream writes", StreamWrites, &samples.current, 50},
      {"container copies", ContainerCopies, &samples, 160},
      {"node trees", NodeTrees, nullptr, 100},
      {"lists with kept chunks", KeptListChunks, nullptr, 8},
      {"object hierarchies", ObjectHierarchies, nullptr, 100},
      {"tag lists", TagLists, nullptr, 100},
      {"tracks", Tracks, nullptr, 100},
      {"take scenes", TakeScenes, nullptr, 150},
      {"bitmaps", Bitmaps, nullptr, 22},
      {"selection edits", SelectionEdits, nullptr, 36},
      {"saver runs", SaverRuns, &dir, 6},
      {"IES lights", IesLights, &iesFile, 8},
      {"IES lights of type B", IesLights, &floodFile, 11},
      {"camera defaults", CameraDefaults, nullptr, 99},
      {"shader trees", ShaderTrees, nullptr, 100},
      {"scene files", SceneFiles, &scenePath, 100},
  };
  for (const Scenario& s : scenarios) {
    const int failing = lumtest::SweepAllocationFailures(s.name, s.run, s.ctx);
    EXPECT_GE(failing, s.atLeast) << s.name;
  }
  // Copies under each COPYFLAGS bit.
  static const Int32 kCopyFlags[] = {
      COPYFLAGS_NONE,         COPYFLAGS_IDENTITY,         COPYFLAGS_NO_CHILDREN,
      COPYFLAGS_NO_TRACKS,    COPYFLAGS_NO_BITS,          COPYFLAGS_NO_BRANCHES,
      COPYFLAGS_NO_GOAL,      COPYFLAGS_NO_PLUGINDATA,    COPYFLAGS_TRANSLATE_TAKES,
      COPYFLAGS_NO_NGONS,     COPYFLAGS_NOTIFY_ALTERNATE, COPYFLAGS_NOTIFY_MARKED,
      COPYFLAGS_NO_OVERRIDES, COPYFLAGS_NO_TAGS};
  for (Int32 flags : kCopyFlags) {
    const std::string name = "copies under flags " + std::to_string(flags);
    EXPECT_GE(lumtest::SweepAllocationFailures(name.c_str(), CopiesUnderFlags, &flags), 30) << name;
  }
  // Reading and writing every chunk level of the node readers' seeds.
  std::vector<CorpusEntry> corpus = CorpusEntries();
  ASSERT_GE(corpus.size(), 30u);
  for (CorpusEntry& e : corpus) {
    e.readsWhole = CorpusList(e.kind).Read(e, e.stream.size(), nullptr);
    lumtest::SweepAllocationFailures(e.name.c_str(), CorpusReads, &e);
    // And what they read copies under each COPYFLAGS bit.
    CorpusList read(e.kind);
    if (!e.readsWhole || !read.Read(e, e.stream.size(), nullptr)) continue;
    for (Int32 flags : kCopyFlags)
      EXPECT_TRUE(read.Copy(e.kind, COPYFLAGS(flags))) << e.name << flags;
  }
}

// ---- misuse ------------------------------------------------------------------------------------

// The public copy and stream calls refuse a null target or stream (false, or nothing done), and
// a copy onto itself is done at once and changes nothing.
TEST(Misuse, NullTargetsAreRefusedAndSelfCopiesChangeNothing) {
  BaseSelect runs;
  runs.Select(3);
  SelectBlockArray blocks;
  blocks.Select(4);
  SelectBitArray bits;
  DescIdStore store;
  DescIdStore* noStore = nullptr;
  GeData value(Int32(5)), read;
  BaseLink link;
  UniqueIDArray ids;
  NotifyList notify;
  KeptChunks kept;
  MemoryFileStruct memory;
  iGradient gradient;
  iSpline spline;
  CustomDataType* custom = GradientDataTypeClass::AllocData();
  CustomDataType* raw = RawCustomDataTypeClass::AllocData();
  BaseList2D node(5100);
  DescID id(903);
  Vector64* vectors = nullptr;
  Int32 count = 0;
  BaseTake* take = BaseTake::Alloc();
  BaseOverride* ov = BaseOverride::Alloc();
  NodeData* takeData = take->GetTakeData();
  NodeData* ovData = ov->GetOverrideData();
  BaseBitmap empty, pic;
  ASSERT_EQ(BITMAPRESULT_OK, pic.Init(2, 2, 24, INITBITMAPFLAGS_NONE));
  UChar px[4] = {7, 7, 7, 7};
  UInt16 alpha = 9;
  Filename memoryName;
  // Take, group and override data made on their own, in no node's slot.
  BaseTakeData looseTake;
  OverrideGroupData looseGroup;
  BaseOverrideData looseOverride;
  DescID translated;
  GeListNode* translatedNode = nullptr;
  CTrack looseTrack;
  CCurve looseCurve;
  looseCurve.AddKey(BaseTime(1.0));
  bool flag = false;
  BaseList2D loose(5100);
  RawNodeData rawData(5);
  Pgon record;
  PluginNode unregistered(990001);
  bool knownType = true;
  const UInt32 corners[2] = {4, 5};
  BaseOverride* noOverride = nullptr;
  BaseTag* selfTag = BaseTag::Alloc(TAG_POINT);
  RootPluginNode looseList;
  PluginNode outsider(5);
  CBlendLayers stack;
  BlendLayer* colorize = stack.Add(LAYERTYPE_COLORIZE, 1, true);
  BlendLayer* shaderLayer = stack.Add(LAYERTYPE_SHADER, 2, true);
  ASSERT_TRUE(colorize != nullptr && shaderLayer != nullptr);
  GeSetAttachedListAllocator(ATTACHEDLIST(-1), nullptr);
  GeSetAttachedListAllocator(ATTACHEDLIST_COUNT, nullptr);
  GeSetAttachedListAllocator(ATTACHEDLIST_OVERRIDES, nullptr);  // back to the library's own
  const struct {
    const char* what;
    bool ok;  // the call kept its contract
  } cases[] = {
      {"selection onto null", !runs.CopyTo(nullptr)},
      {"selection onto itself", runs.CopyTo(&runs) && runs.IsSelected(3)},
      {"block selection onto null", !blocks.CopyTo(static_cast<SelectBlockArray*>(nullptr))},
      {"block selection onto itself", blocks.CopyTo(&blocks) && blocks.IsSelected(4)},
      {"block selection into null runs", !blocks.CopyTo(static_cast<BaseSelect*>(nullptr))},
      {"block selection from null", !blocks.CopyFrom(nullptr) && blocks.IsSelected(4)},
      {"bit array onto null", !bits.CopyTo(nullptr)},
      {"bit array onto itself", bits.CopyTo(&bits)},
      {"store onto null", !store.CopyTo(nullptr, nullptr)},
      {"store onto itself", store.CopyTo(&store, nullptr)},
      {"link onto null", !link.CopyData(nullptr, nullptr)},
      {"link onto itself", link.CopyData(&link, nullptr)},
      {"unique ids onto itself", ids.CopyTo(&ids)},
      {"notify list onto null", !notify.CopyTo(nullptr, COPYFLAGS_NONE, nullptr)},
      {"notify list onto itself", notify.CopyTo(&notify, COPYFLAGS_NONE, nullptr)},
      {"kept chunks onto itself", kept.CopyTo(&kept)},
      {"memory file from itself", memory.CopyFrom(memory)},
      {"gradient from itself", gradient.CopyFrom(gradient)},
      {"spline from itself", spline.Assign(spline)},
      {"raw value onto itself", RawCustomDataTypeClass::CopyData(raw, raw, nullptr)},
      {"raw values beside null", RawCustomDataTypeClass::Compare(nullptr, nullptr) == 0 &&
                                     RawCustomDataTypeClass::Compare(raw, nullptr) == 1},
      {"node onto null", !node.CopyTo(nullptr, COPYFLAGS_NONE, nullptr)},
      {"attached lists out of range",
       node.GetAttachedList(ATTACHEDLIST(-1), true) == nullptr &&
           node.GetAttachedList(ATTACHEDLIST_COUNT, true) == nullptr &&
           !node.HasAttachedList(ATTACHEDLIST(-1)) && !node.HasAttachedList(ATTACHEDLIST_COUNT)},
      {"node bits out of range", !node.ChangeNBit(-1, NBITCONTROL_SET) &&
                                     !node.ChangeNBit(128, NBITCONTROL_SET) &&
                                     node.GetNBitWord(-1) == 0 && node.GetNBitWord(4) == 0},
      {"a null shader", !node.InsertShader(nullptr, nullptr)},
      {"selection ranges into no outputs",
       runs.GetRange(0, nullptr, nullptr) && runs.FindNum(3, nullptr) &&
           !runs.FindNum(-5, nullptr) && blocks.GetRange(0, nullptr, nullptr) &&
           blocks.GetBlockRange(&count, nullptr, nullptr) &&
           !blocks.GetBlockRange(nullptr, nullptr, nullptr)},
      {"selection to no stream", !runs.Write(nullptr) && !runs.Write_API(nullptr)},
      {"selection from no stream", !runs.Read(nullptr, BaseSelect::kChunkId, 1) &&
                                       !runs.Read_API(nullptr) && runs.IsSelected(3)},
      {"block selection and no stream",
       !WriteSelectBlock(nullptr, &blocks) && !ReadSelectBlock(nullptr, &blocks)},
      {"bit array to no stream", !bits.Write(nullptr)},
      {"address and no stream", !id.Write(nullptr) && !id.Read(nullptr)},
      {"bitmap transfers without storage or buffer",
       (empty.GetPixelCnt(0, 0, 1, px, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr), px[0] == 7) &&
           (pic.GetPixelCnt(0, 0, 1, nullptr, 3, COLORMODE_RGB, PIXELCNT_NONE, nullptr), true) &&
           !pic.SetAlphaPixelCnt(0, 0, 1, px, 1, &empty) &&
           (pic.GetAlphaPixel(&empty, 0, 0, &alpha), alpha == 0) &&
           (pic.GetAlphaPixel(&pic, 0, 0, nullptr), true) &&
           (empty.GetAlphaPixelCnt(0, 0, 1, px, 1, &pic), px[0] == 7)},
      {"file calls without a path or data",
       CallFileOpen(nullptr, FILEMODE_READ, OPENSTREAMFLAGSF_NONE) == nullptr &&
           (wMotor(nullptr, 3), lMotor(nullptr, 3), true) &&
           (memoryName.SetMemoryTarget(), memoryName.CollectMemoryData(nullptr, nullptr))},
      {"memory file calls without bytes or outside the written",
       !memory.WriteBytes(nullptr, 3) && !memory.SetReadable(nullptr, 3, true) &&
           memory.WriteBytes(px, 2) && !memory.WriteBytesAt(3, px, 1) &&
           !memory.WriteBytesAt(-1, px, 1) && memory.ReadWritten(0, nullptr, 1) == 0 &&
           memory.ReadWritten(-1, px, 1) == 0 && memory.GetWrittenSize() == 2},
      {"IES record and no stream", !IESLight().Write(nullptr) && !IESLight().Read(nullptr)},
      {"store and no stream",
       !DescIdStore_Write(noStore, nullptr, true) && !DescIdStore_Read(noStore, nullptr, true)},
      {"value and no stream", !value.Write(nullptr) && !read.Read(nullptr)},
      {"vectors and no stream",
       !_HFWriteArray(nullptr, vectors, 0) && !_HFReadMemoryVectorArray(nullptr, &vectors, &count)},
      {"track, curve and key onto themselves",
       looseTrack.CopyToX(&looseTrack, COPYFLAGS_NONE, nullptr) &&
           looseCurve.CopyToX(&looseCurve, COPYFLAGS_NONE, nullptr) &&
           looseCurve.GetKeyCount() == 1 &&
           looseCurve.GetKey(0)->CopyToX(looseCurve.GetKey(0), COPYFLAGS_NONE, nullptr)},
      {"take and override data onto themselves",
       takeData->CopyToX(takeData, COPYFLAGS_NONE, nullptr) &&
           ovData->CopyToX(ovData, COPYFLAGS_NONE, nullptr)},
      {"gradient containers and null",
       !iGradient::GradientToContainer(gradient, nullptr) &&
           !iGradient::ContainerToGradient(BaseContainer(), nullptr, flag) &&
           iGradient::CheckContainer(nullptr, false, false)},
      {"take, group and override data in no node",
       !looseTake.Init() && !looseGroup.Init() && looseTake.GetOverrideList() == nullptr &&
           !looseTake.SetCamera(nullptr, &node) && !looseTake.SetRenderData(nullptr, &node) &&
           looseTake.AddOverride(&node) == nullptr && looseOverride.GetMainNode() == nullptr &&
           !looseOverride.TranslateDescID(nullptr, id, translated, translatedNode)},
      {"tree inserts against no node",
       !loose.InsertBefore(nullptr) && !loose.InsertAfter(nullptr) && !loose.InsertUnder(nullptr) &&
           !loose.InsertUnderLast(nullptr)},
      {"allocators out of range, and overrides reset to the library's",
       loose.GetAttachedList(ATTACHEDLIST_OVERRIDES, true) != nullptr},
      {"unique ids without bytes, before those there are",
       ids.Add(9, px, 2) && ids.Add(3, nullptr, 4) && ids.AppendOwned(12, nullptr, 6) &&
           ids.Get(0).appId == 3 && ids.Get(0).length == 0 && ids.Find(12)->length == 0},
      {"a plug-in type registered without a class",
       GeRegisterPluginData(990001, nullptr) && unregistered.AddSlot() &&
           (unregistered.ValidateNth(0, 990001, knownType), !knownType) &&
           unregistered.GetNthData(0) == nullptr},
      {"layer stacks and layers against null, another kind and places outside",
       stack.GetLayer(-1) == nullptr && stack.GetLayer(2) == nullptr && !stack.Remove(-1) &&
           !stack.Remove(2) && !stack.CopyTo(nullptr, nullptr) && stack.Compare(nullptr) == 1 &&
           colorize->Compare(nullptr) == 1 && colorize->CompareStructure(nullptr, false) == 1 &&
           !colorize->CopyTo(nullptr, nullptr) && !colorize->CopyTo(shaderLayer, nullptr) &&
           stack.GetCount() == 2},
      {"take and override handles of nodes that are neither",
       BaseTake::From(nullptr) == nullptr && BaseTake::From(&node) == nullptr &&
           BaseTake::From(ov->GetNode()) == nullptr && BaseOverride::From(nullptr) == nullptr &&
           BaseOverride::From(&node) == nullptr && BaseOverride::From(take->GetNode()) == nullptr &&
           BaseOverride::From(&unregistered) == nullptr &&
           TakeSystemHook::Alloc(nullptr) == nullptr && !take->SearchHierarchy(nullptr) &&
           (BaseOverride::Free(noOverride), true)},
      {"a list refuses itself and places outside it",
       !looseList.InsertLast(&looseList) && !looseList.InsertBefore(&unregistered, &outsider) &&
           !looseList.InsertAfter(&unregistered, &outsider) && looseList.GetFirst() == nullptr},
      {"raw node data onto itself", rawData.CopyToX(&rawData, COPYFLAGS_NONE, nullptr)},
      {"n-gon record from itself, from null and from no values",
       record.Set(corners, 2) && record.CopyFrom(&record) && record.count == 2 &&
           record.CopyFrom(nullptr) && record.count == 0 && record.Set(nullptr, 3) &&
           record.count == 0},
      {"take and override data onto data of another kind",
       !takeData->CopyToX(ovData, COPYFLAGS_NONE, nullptr) &&
           !ovData->CopyToX(takeData, COPYFLAGS_NONE, nullptr) &&
           !looseGroup.CopyToX(takeData, COPYFLAGS_NONE, nullptr)},
      {"a tag onto itself", selfTag->CopyTo(selfTag, COPYFLAGS_NONE, nullptr)},
  };
  BaseTag::Free(selfTag);
  BaseTake::Free(take);
  BaseOverride::Free(ov);
  value.CopyData(nullptr, nullptr);  // nothing to do: no crash, the value stays
  value.CopyData(&value, nullptr);
  for (const auto& c : cases) EXPECT_TRUE(c.ok) << c.what;
  EXPECT_EQ(5, value.GetInt32());
  using CopyData = bool (*)(const CustomDataType*, CustomDataType*, AliasTrans*);
  for (CopyData copy : {&GradientDataTypeClass::CopyData, &SplineDataTypeClass::CopyData,
                        &InExcludeDataTypeClass::CopyData, &RawCustomDataTypeClass::CopyData,
                        &DescIDDataTypeClass::CopyData, &DateTimeDataTypeClass::CopyData,
                        &BlendDataTypeClass::CopyData})
    EXPECT_FALSE(copy(nullptr, custom, nullptr) || copy(custom, nullptr, nullptr));
  // Nor do their stream calls and comparisons touch a missing value or the stream.
  const struct {
    bool (*write)(const CustomDataType*, HyperFile*);
    bool (*read)(CustomDataType*, HyperFile*, Int32);
    Int32 (*compare)(const CustomDataType*, const CustomDataType*);
  } classes[] = {
      {&GradientDataTypeClass::WriteData, &GradientDataTypeClass::ReadData,
       &GradientDataTypeClass::Compare},
      {&SplineDataTypeClass::WriteData, &SplineDataTypeClass::ReadData,
       &SplineDataTypeClass::Compare},
      {&InExcludeDataTypeClass::WriteData, &InExcludeDataTypeClass::ReadData,
       &InExcludeDataTypeClass::Compare},
      {&DescIDDataTypeClass::WriteData, &DescIDDataTypeClass::ReadData,
       &DescIDDataTypeClass::Compare},
      {&DateTimeDataTypeClass::WriteData, &DateTimeDataTypeClass::ReadData,
       &DateTimeDataTypeClass::Compare},
      {&BlendDataTypeClass::WriteData, &BlendDataTypeClass::ReadData, &BlendDataTypeClass::Compare},
  };
  const Bytes four = lumtest::FromHex("0f00000001");
  for (const auto& k : classes) {
    EXPECT_TRUE(WriteStream([&](HyperFile& hf) { return k.write(nullptr, &hf) || true; }).empty());
    Filename name;
    name.SetMemoryData(four.data(), 5, false);
    HyperFile hf;
    ASSERT_TRUE(hf.Open(name, FILEOPEN_READ));
    k.read(nullptr, &hf, 1);
    EXPECT_EQ(0, hf.GetPosition());
    EXPECT_EQ(k.compare(nullptr, custom), k.compare(custom, nullptr));
  }
  GradientDataTypeClass::FreeData(custom);
  RawCustomDataTypeClass::FreeData(raw);
}

// ---- first writes ----------------------------------------------------------------------------

// Zeroes the 8 identity bytes after every goal and link record: addresses of the writing process.
Bytes MaskIdentities(Bytes b) {
  for (size_t i = 0; i + 14 <= b.size(); ++i) {
    if (std::memcmp(&b[i], "agoal1", 6) == 0 || std::memcmp(&b[i], "alias2", 6) == 0) {
      std::memset(&b[i + 6], 0, 8);
      i += 13;
    }
  }
  return b;
}

// The scene examples/write_scene.cpp writes: a cube with UVW and normal tags and an animated
// position, and a camera with a 50 mm lens.
bool BuildExampleScene(RootObject& list) {
  PolygonObject* cube = PolygonObject::Alloc(8, 6);
  if (cube == nullptr) return false;
  list.InsertLast(cube);
  cube->SetName(U("Cube"));
  UVWTag* uvw = UVWTag::Cast(cube->MakeTag(TAG_UVW));
  NormalTag* normals = NormalTag::Cast(cube->MakeTag(TAG_NORMAL));
  if (uvw == nullptr || normals == nullptr || !uvw->Resize(6) || !normals->Resize(6)) return false;
  uvw->Set(0, UVWStruct{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  const DescID x(DescLevel(903, DTYPE_VECTOR, 0), DescLevel(VECTOR_X, VALUETYPE_FLOAT, 0));
  CTrack* track = CTrack::Alloc(cube, x, U("Position . X"));
  if (track == nullptr || !cube->InsertTrackSorted(track)) return false;
  CKey* key = track->GetCurve()->AddKey(BaseTime(1.0));
  if (key == nullptr) return false;
  key->SetValue(track->GetCurve(), 300);
  BaseObject* camera = BaseObject::Alloc(TYPE_CAMERAOBJECT);
  if (camera == nullptr) return false;
  list.InsertLast(camera);
  camera->SetName(U("Camera"));
  return camera->SetDParameter(DescID(CAMERAOBJECT_FOCUS), GeData(50.0));
}

// Roots of the library's memory, destroyed with DeleteObj.
struct FreeChunk {
  void operator()(PrivateChunk* p) const { DeleteObj(p); }
};
using Owned = std::unique_ptr<PrivateChunk, FreeChunk>;

// A plug-in node of type, with one slot of its type or without slots, in a list.
bool BuildPluginNode(RootPluginNode& list, Int32 type, bool slot) {
  PluginNode* node = PluginNode::Alloc(type);
  if (node == nullptr) return false;
  list.InsertLast(node);
  node->SetName(U("node"));
  bool known = false;
  if (slot && !node->AddSlot()) return false;
  if (slot) node->ValidateNth(0, type, known);
  return true;
}

// Whatever the library builds writes, the first time, the bytes it writes again after being
// read back: the examples' scene, the scenes the test helpers build, nodes made by Alloc, and a
// plug-in node of every type the library has a class for (and of none), with and without a slot.
TEST(FirstWrites, WhatIsBuiltReadsBackAndWritesTheSameBytes) {
  struct Case {
    std::string name;
    // Makes the roots in a holder, built (or empty, to read into), and returns them.
    std::function<std::vector<PrivateChunk*>(std::vector<Owned>&, bool)> make;
  };
  using Holder = std::vector<Owned>;
  auto one = [](Holder& h, PrivateChunk* root) {
    h.emplace_back(root);
    return std::vector<PrivateChunk*>{root};
  };
  auto objects = [one](bool (*build)(RootObject&)) {
    return [one, build](Holder& h, bool full) {
      RootObject* list = AllocAlienRootObject();
      auto roots = one(h, list);
      if (full) {
        EXPECT_TRUE(build(*list));
      }
      return roots;
    };
  };
  auto allocated = [one](Int32 type) {
    return [one, type](Holder& h, bool full) {
      RootObject* list = AllocAlienRootObject();
      auto roots = one(h, list);
      if (full) {
        BaseObject* o = BaseObject::Alloc(type);
        EXPECT_NE(nullptr, o);
        list->InsertLast(o);
      }
      return roots;
    };
  };
  std::vector<Case> cases = {
      {"example scene", objects(BuildExampleScene)},
      {"object hierarchy", objects(BuildObjects)},
      {"camera", allocated(TYPE_CAMERAOBJECT)},
      {"light", allocated(TYPE_LIGHTOBJECT)},
      {"spline", allocated(TYPE_SPLINEOBJECT)},
      {"node tree",
       [one](Holder& h, bool full) {
         auto* list = NewObj<RootPluginNode>();
         auto roots = one(h, list);
         if (full) BuildNodeTree(*list);
         return roots;
       }},
      {"animated node",
       [one](Holder& h, bool full) {
         auto* node = NewObj<BaseList2D>(1);
         auto roots = one(h, node);
         if (full) BuildAnimatedNode(*node);
         return roots;
       }},
      {"shader tree",
       [one](Holder& h, bool full) {
         auto* owner = NewObj<PluginNode>(12345);
         auto roots = one(h, owner);
         if (full) BuildShaderTree(*owner);
         return roots;
       }},
      {"tag list",
       [one](Holder& h, bool full) {
         auto* owner = NewObj<BaseList2D>(tagtest::kPolygonObject);
         auto* tags = NewObj<RootTag>(owner);
         auto roots = one(h, tags);
         h.emplace_back(owner);  // after the tags, which it outlives
         if (full) {
           EXPECT_TRUE(tagtest::BuildMesh(*tags));
         }
         return roots;
       }},
  };
  for (Int32 type : {0, 1001101, 1001102, 1001103, 1001144, 1022471, 100004805, 431000051,
                     431000054, 431000073, 431000075, 465001514, 465001515, 999001}) {
    for (bool slot : {true, false}) {
      cases.push_back({"plug-in node " + std::to_string(type) + (slot ? " with a slot" : ""),
                       [one, type, slot](Holder& h, bool full) {
                         auto* list = NewObj<RootPluginNode>();
                         auto roots = one(h, list);
                         if (full) {
                           EXPECT_TRUE(BuildPluginNode(*list, type, slot));
                         }
                         return roots;
                       }});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Holder built, read;
    const std::vector<PrivateChunk*> roots = c.make(built, true);
    const std::vector<PrivateChunk*> back = c.make(read, false);
    const auto writeAll = [](const std::vector<PrivateChunk*>& rs) {
      return WriteStream([&](HyperFile& hf) {
        for (PrivateChunk* r : rs)
          if (!r->WriteObject(&hf, 1)) return false;
        return true;
      });
    };
    const Bytes first = writeAll(roots);
    Filename name;
    name.SetMemoryData(first.data(), Int64(first.size()), false);
    BaseDocument doc;
    AliasTrans trans;
    HyperFile hf;
    ASSERT_TRUE(trans.Init() && hf.Open(name, FILEOPEN_READ));
    doc.SetAliasTrans(&trans);
    hf.SetDocument(&doc);
    for (PrivateChunk* r : back) EXPECT_TRUE(r->ReadObject(&hf, true)) << hf.GetError();
    trans.Zap(true);
    EXPECT_EQ(FILEERROR_NONE, hf.GetError());
    const Bytes second = writeAll(back);
    EXPECT_EQ(lumtest::ToHex(MaskIdentities(first)), lumtest::ToHex(MaskIdentities(second)));
  }
}

// ---- I/O faults -------------------------------------------------------------------------------

// Reads the first `length` bytes of the stream, from memory or from a file: every item before
// the cut reads back, the item the cut falls into fails as documented, and the stream stays
// failed. Returns false after a reported fault.
bool ReadPrefix(const ItemSet& d, size_t length, bool fromDisk) {
  const std::int64_t live = lumtest::LiveBlocks();
  {
    Filename name;
    if (fromDisk) {
      const std::string path = lumtest::TempPath("prefix.hf");
      if (!lumtest::WriteFileBytes(path, Bytes(d.bytes.begin(), d.bytes.begin() + length)))
        return false;
      name = Filename(path.c_str());
    }
    HyperFile hf;
    hf.SetFileVersion(d.version);
    if (!(fromDisk ? hf.Open(name, FILEOPEN_READ) : d.Open(hf, name, length))) return false;
    const int stopped = ReadItems(d, hf);
    const size_t cut =
        std::upper_bound(d.starts.begin(), d.starts.end(), length) - d.starts.begin() - 1;
    EXPECT_EQ(cut, static_cast<size_t>(stopped)) << "prefix " << length;
    if (stopped < 0 || cut != static_cast<size_t>(stopped)) return false;
    // Cut short: a short read, a chunk without its end, or the end of the file met while
    // skipping to a chunk's end (false without an error).
    const FILEERROR e = hf.GetError();
    EXPECT_TRUE(e == FILEERROR_READ || e == FILEERROR_CHUNKEND_MISSING ||
                (e == FILEERROR_NONE && hf.GetPosition() == static_cast<Int64>(length)))
        << "prefix " << length << " in " << d.items[stopped].name << ": error " << e;
    EXPECT_FALSE(hf.ReadInt32(nullptr)) << "prefix " << length;
    EXPECT_NE(FILEERROR_NONE, hf.GetError()) << "prefix " << length;
  }
  EXPECT_EQ(live, lumtest::LiveBlocks()) << "prefix " << length;
  return !testing::Test::HasFailure();
}

TEST(IoSweep, EveryPrefixOfAValidStreamFailsWhereItIsCut) {
  Samples samples;
  for (const ItemSet* d : {&samples.current, &samples.older}) {
    ASSERT_EQ(d->items.size() + 1, d->starts.size());
    {
      Filename name;
      HyperFile hf;
      ASSERT_TRUE(d->Open(hf, name, d->bytes.size()));
      ASSERT_EQ(static_cast<int>(d->items.size()), ReadItems(*d, hf));  // the whole stream
      EXPECT_EQ(static_cast<Int64>(d->bytes.size()), hf.GetPosition());
    }
    for (size_t length = 0; length < d->bytes.size(); ++length)
      if (!ReadPrefix(*d, length, false) || !ReadPrefix(*d, length, true)) return;  // one will do
  }
}

// The offsets of the kind bytes of the values in the entry's first `length` bytes.
std::vector<size_t> ValueStarts(const CorpusEntry& e, size_t length) {
  std::vector<size_t> starts;
  Filename name;
  HyperFile hf;
  hf.SetFileVersion(e.version);
  hf.SetFloat32Mode(e.float32);
  if (!name.SetMemoryData(e.stream.data(), Int64(length), false) || !hf.Open(name, FILEOPEN_READ))
    return starts;
  hf.SetByteOrder(e.order);
  for (HYPERFILEVALUE kind; size_t(hf.GetPosition()) < length;) {
    const Int64 at = hf.GetPosition();
    if (!hf.ReadValueHeader(&kind) || !hf.SkipValue(kind)) break;
    starts.push_back(size_t(at));
  }
  return starts;
}

// Every prefix of the seeds up to 4 KiB, and of longer ones those cut at and just after the
// start of every value.
TEST(IoSweep, EveryPrefixOfEveryNodeSeedFailsCleanly) {
  for (CorpusEntry& e : CorpusEntries()) {
    if (!CorpusList(e.kind).Read(e, e.stream.size(), &e.readTo)) continue;
    std::vector<size_t> cuts;
    if (e.stream.size() > 4096) {
      for (size_t at : ValueStarts(e, size_t(e.readTo)))
        if (at + 1 < size_t(e.readTo)) cuts.insert(cuts.end(), {at, at + 1});
    } else {
      for (size_t length = 0; length < size_t(e.readTo); ++length) cuts.push_back(length);
    }
    for (size_t length : cuts) {
      const std::int64_t live = lumtest::LiveBlocks();
      {
        CorpusList l(e.kind);
        EXPECT_FALSE(l.Read(e, length, nullptr)) << e.name << " cut at " << length;
      }
      ASSERT_EQ(live, lumtest::LiveBlocks()) << e.name << " cut at " << length;
    }
  }
}

// Every value a node reader meets, given another kind in turn (a byte, or a chunk's end): the
// read fails or goes on, and leaves nothing allocated; what it does read it can write.
TEST(IoSweep, AValueOfAnotherKindInEveryNodeSeedIsHandledCleanly) {
  for (CorpusEntry& e : CorpusEntries()) {
    if (!CorpusList(e.kind).Read(e, e.stream.size(), &e.readTo)) continue;
    const CorpusEntry whole = e;
    for (size_t at : ValueStarts(whole, size_t(whole.readTo))) {
      const UChar was = whole.stream[at];
      for (UChar kind :
           {UChar(was == HYPERFILEVALUE_CHAR ? HYPERFILEVALUE_UCHAR : HYPERFILEVALUE_CHAR),
            UChar(HYPERFILEVALUE_CHUNKEND)}) {
        if (kind == was) continue;
        e.stream[at] = kind;
        const std::int64_t live = lumtest::LiveBlocks();
        {
          CorpusList l(e.kind);
          const bool read = l.Read(e, e.stream.size(), nullptr);
          EXPECT_TRUE(!read || l.Write()) << e.name << " read but not written, changed at " << at;
        }
        ASSERT_EQ(live, lumtest::LiveBlocks()) << e.name << " changed at " << at;
      }
      e.stream[at] = was;
    }
  }
}

// Writes the items over and over until `bytes` are written; returns how many writes succeeded
// before the first failure and checks that none succeeds after it.
int WriteRepeatedly(const Samples& d, HyperFile& hf, size_t bytes) {
  int good = 0;
  bool failed = false;
  for (size_t total = 0; total < bytes; total += d.current.bytes.size()) {
    for (const Item& item : d.current.items) {
      const bool ok = item.write(hf);
      EXPECT_FALSE(failed && ok) << item.name << " wrote after a failure";
      failed = failed || !ok;
      if (!failed) ++good;
    }
  }
  return good;
}

TEST(IoSweep, AFullDeviceLeavesTheStickyWriteError) {
  Samples d;
  for (size_t bytes : {size_t(1), size_t(100000)}) {  // failing at the close, or at a flush
    HyperFile hf;
    ASSERT_TRUE(hf.Open(Filename("/dev/full"), FILEOPEN_WRITE));
    const int good = WriteRepeatedly(d, hf, bytes);
    if (bytes == 1) {
      // The items that fit in the file's 16 KiB buffer are written; the first that reaches past
      // it meets the device.
      int fits = 0;
      while (fits < static_cast<int>(d.current.items.size()) && d.current.starts[fits + 1] <= 16384)
        ++fits;
      EXPECT_EQ(fits, good);
    } else {
      EXPECT_LT(good, static_cast<int>(d.current.items.size()));
    }
    EXPECT_FALSE(hf.Close());
    EXPECT_EQ(FILEERROR_WRITE, hf.GetError());
    EXPECT_FALSE(hf.WriteInt32(1));
  }
  BaseFile file;  // a write larger than the buffer goes to the device at once
  ASSERT_TRUE(file.Open(Filename("/dev/full"), FILEOPEN_WRITE));
  static const UChar big[20000] = {};
  EXPECT_FALSE(file.WriteBytes(big, sizeof big));
  EXPECT_EQ(FILEERROR_WRITE, file.GetError());
  EXPECT_FALSE(file.Close());
  // Read-write files write through the system's buffer, which meets the device at the close.
  ASSERT_TRUE(file.Open(Filename("/dev/full"), FILEOPEN_READWRITE));
  EXPECT_TRUE(file.WriteInt32(7));
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(FILEERROR_CLOSE, file.GetError());
}

// Every write call of every writer meets a full device once: padding puts the end of the
// file's 16 KiB buffer at each byte of each item in turn. The writer whose write reached the
// device says so (no failure reported as success), the error is sticky, and nothing leaks.
TEST(IoSweep, EveryWriteOfEveryWriterCanMeetAFullDevice) {
  Samples d;
  const ItemSet& set = d.current;
  static const UChar zeros[16384] = {};
  const Filename full("/dev/full");
  Int64 start = 0, header = 0;
  {
    HyperFile hf;
    ASSERT_TRUE(hf.Open(full, FILEOPEN_WRITE));
    start = hf.GetPosition();
    ASSERT_TRUE(hf.WriteMemory(zeros, 0));
    header = hf.GetPosition() - start;
  }
  // The items, and a whole scene with every part.
  std::vector<Item> writers = set.items;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < set.items.size(); ++i) sizes.push_back(set.starts[i + 1] - set.starts[i]);
  Scene scene;
  ASSERT_TRUE(BuildObjects(*scene.GetObjects()));
  ASSERT_TRUE(scene.GetDocument()->SetActiveRenderData(scene.AddRenderData()));
  ASSERT_NE(nullptr, taketest::NewTake(scene.GetTakeData()->GetMainTake(), "t"));
  writers.push_back({"scene", [&](HyperFile& hf) { return scene.WriteTo(&hf); }, {}});
  sizes.push_back(WriteStream(writers.back().write).size());
  // And the lists read from the node readers' seeds, with every chunk level they hold.
  std::vector<std::unique_ptr<CorpusList>> lists;
  for (const CorpusEntry& e : CorpusEntries()) {
    lists.push_back(std::make_unique<CorpusList>(e.kind));
    CorpusList* l = lists.back().get();
    if (!l->Read(e, e.stream.size(), nullptr)) continue;
    writers.push_back({e.name, [l](HyperFile& hf) { return l->WriteTo(&hf); }, {}});
    sizes.push_back(WriteStream(writers.back().write).size());
  }
  int failed = 0, runs = 0;
  for (size_t i = 0; i < writers.size(); ++i) {
    for (Int64 at = 1; at <= Int64(sizes[i]); ++at) {  // the buffer ends `at` bytes into it
      const std::int64_t live = lumtest::LiveBlocks();
      {
        HyperFile hf;
        ASSERT_TRUE(hf.Open(full, FILEOPEN_WRITE));
        ASSERT_TRUE(hf.WriteMemory(zeros, 16384 - at - start - header));
        const bool ok = writers[i].write(hf);
        const FILEERROR error = hf.GetError();
        EXPECT_FALSE(ok && error != FILEERROR_NONE) << writers[i].name << " at " << at;
        EXPECT_FALSE(hf.Close()) << writers[i].name << " at " << at;
        EXPECT_FALSE(hf.WriteInt32(1));
        failed += ok ? 0 : 1;
        ++runs;
      }
      EXPECT_EQ(live, lumtest::LiveBlocks()) << writers[i].name << " at " << at;
      if (testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(failed, runs * 9 / 10);  // nearly every cut falls inside an item's writes
}

// Limits the size of the files this process writes, so that the write crossing the limit
// fails (EFBIG, with the signal ignored) as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &_old);
    _oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = _old;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &_old);
    signal(SIGXFSZ, _oldHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit _old;
  void (*_oldHandler)(int);
};

TEST(IoSweep, AWriteCanFailAtEveryBufferFlush) {
  Samples d;
  const std::string path = lumtest::TempPath("limited.hf");
  const Filename name(path.c_str());
  {
    HyperFile hf;
    ASSERT_TRUE(hf.Open(name, FILEOPEN_WRITE));
    WriteRepeatedly(d, hf, 70000);
    ASSERT_TRUE(hf.Close());
  }
  const Bytes reference = lumtest::ReadFileBytes(path);
  ASSERT_GT(reference.size(), 4 * 16384u);
  // The limit at every flush of the 16 KiB buffer, and inside the flushes.
  for (size_t limit = 0; limit < reference.size(); limit += limit % 16384 == 0 ? 5000 : 11384) {
    const std::int64_t live = lumtest::LiveBlocks();
    bool closed;
    FILEERROR error;
    {
      HyperFile hf;
      FileSizeLimit cap(limit);
      ASSERT_TRUE(hf.Open(name, FILEOPEN_WRITE));
      WriteRepeatedly(d, hf, 70000);
      closed = hf.Close();
      error = hf.GetError();
    }
    // A flush that fails, or the C stream's own flush when the file is closed.
    EXPECT_FALSE(closed) << limit;
    EXPECT_TRUE(error == FILEERROR_WRITE || error == FILEERROR_CLOSE) << limit << ": " << error;
    EXPECT_EQ(live, lumtest::LiveBlocks()) << limit;
    // What reached the file is the start of the stream, and no more than the limit.
    const Bytes got = lumtest::ReadFileBytes(path);
    EXPECT_LE(got.size(), limit);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin())) << limit;
    // The file alone, its buffered and its direct writes: its own error is as sticky.
    static const UChar big[20000] = {};
    BaseFile file;
    FileSizeLimit cap(limit);
    ASSERT_TRUE(file.Open(name, FILEOPEN_WRITE));
    bool failed = false;
    for (Int32 i = 0; i < 15000; ++i) {
      const bool ok = i % 5000 == 4999 ? file.WriteBytes(big, sizeof big) : file.WriteInt32(i);
      EXPECT_FALSE(failed && ok) << limit << ": write " << i << " after a failure";
      EXPECT_TRUE(ok || file.GetError() == FILEERROR_WRITE) << limit << ": " << file.GetError();
      failed = failed || !ok;
    }
    EXPECT_FALSE(file.Close()) << limit;
  }
  // A large array of records goes to the file in one pass, each member's blocks written at
  // their places out of order: a limit anywhere in them fails the write as cleanly.
  std::vector<Vector64> points(150000);
  for (size_t i = 0; i < points.size(); ++i) points[i] = Vector64(Float(i), -Float(i), 0.5);
  const auto writePoints = [&](HyperFile& hf) {
    return hf.WriteInt32(7) && hf.WriteArrayMembers(&points[0].x, HYPERFILEARRAY_FLOAT,
                                                    sizeof(Vector64), Int32(points.size()), 3);
  };
  {
    HyperFile hf;
    ASSERT_TRUE(hf.Open(name, FILEOPEN_WRITE));
    ASSERT_TRUE(writePoints(hf) && hf.Close());
  }
  const size_t whole = lumtest::ReadFileBytes(path).size();
  ASSERT_GT(whole, 3 * points.size() * 8);
  for (size_t limit : {size_t(0), size_t(3), whole / 6, whole / 3 + 7, whole / 2, whole - 1}) {
    const std::int64_t live = lumtest::LiveBlocks();
    {
      HyperFile hf;
      FileSizeLimit cap(limit);
      ASSERT_TRUE(hf.Open(name, FILEOPEN_WRITE));
      // The blocks are written by the call itself, which therefore fails.
      EXPECT_FALSE(writePoints(hf)) << limit;
      EXPECT_EQ(FILEERROR_WRITE, hf.GetError()) << limit;
      EXPECT_FALSE(hf.Close()) << limit;
    }
    EXPECT_EQ(live, lumtest::LiveBlocks()) << limit;
    EXPECT_LE(lumtest::ReadFileBytes(path).size(), limit);
  }
}

TEST(IoSweep, SaversReportAFileThatCannotBeWritten) {
  BaseBitmap bmp;
  ASSERT_EQ(BITMAPRESULT_OK, bmp.Init(200, 150, 24, INITBITMAPFLAGS_NONE));
  std::vector<UChar> row(200 * 3);
  for (Int32 y = 0; y < 150; ++y) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<UChar>(i * 31 + y * 17);
    bmp.SetPixelCnt(0, y, 200, row.data(), 3, COLORMODE_RGB, PIXELCNT_NONE);
  }
  const std::string path = lumtest::TempPath("limited.img");
  const Filename name(path.c_str());
  for (Int32 filter : {FILTER_JPG, FILTER_BMP}) {
    ASSERT_EQ(BITMAPRESULT_OK, bmp.Save(name, filter, nullptr, SAVEBIT_NONE));
    const size_t full = lumtest::ReadFileBytes(path).size();
    ASSERT_GT(full, 2 * 16384u) << filter;
    for (size_t limit = 0; limit < full; limit += 4096) {
      Int32 r;
      {
        FileSizeLimit cap(limit);
        r = bmp.Save(name, filter, nullptr, SAVEBIT_NONE);
      }
      // A write that fails inside the compressor stops it (-3); one that only the file
      // records, at its last flush, is found when the file is closed (-4).
      if (filter == FILTER_JPG)
        EXPECT_TRUE(r == BITMAPRESULT_FAILED || r == BITMAPRESULT_FILE) << limit << ": " << r;
      else
        EXPECT_EQ(BITMAPRESULT_FILE, r) << limit;
      EXPECT_LE(lumtest::ReadFileBytes(path).size(), limit);
    }
  }
}

TEST(IoSweep, AMemoryFileThatCannotGrowLeavesTheStickyError) {
  static const UChar big[60000] = {};
  for (std::int64_t from = 1;; ++from) {
    const std::int64_t live = lumtest::LiveBlocks();
    bool wrote = true, closed;
    FILEERROR error;
    {
      Filename name;
      name.SetMemoryTarget();
      HyperFile hf;
      ASSERT_TRUE(hf.Open(name, FILEOPEN_WRITE));
      lumtest::FailAllocationsFrom(from);  // no memory from here on
      for (int i = 0; i < 6 && wrote; ++i) wrote = hf.WriteMemory(big, sizeof big);
      EXPECT_TRUE(wrote || !hf.WriteMemory(big, 10)) << from;
      closed = hf.Close();
      error = hf.GetError();
      lumtest::StopFailing();
    }
    EXPECT_EQ(live, lumtest::LiveBlocks()) << from;
    if (wrote) {
      EXPECT_TRUE(closed);
      break;
    }
    EXPECT_FALSE(closed) << from;
    EXPECT_EQ(FILEERROR_OUTOFMEMORY, error) << from;
    ASSERT_LT(from, 100);
  }
}

}  // namespace
