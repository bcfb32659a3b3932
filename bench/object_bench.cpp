// Objects and their geometry against the plainest way to do the same work.
//
// - GetMg of an object 1,000 levels deep against a plain loop of 1,000 products of 3 x 4
//   matrices; the transform setters against the same count of 3 x 4 products.
// - Copying and writing a hierarchy of 100,000 objects against the same for 10,000 (growth per
//   object, 1.0 = linear).
// - Writing and reading a polygon object of 1,000,000 points and 1,000,000 polygons with a UVW
//   and a normal tag against fwrite / fread of the same array bytes (fread into new memory, as
//   the reader needs; vs_warm_limit against fread into memory touched before); reading also
//   reports the bytes the read leaves allocated over the bytes the arrays hold (alloc_ratio).
#include <malloc.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

// ---- matrices ----

struct Plain34 {
  double m[12];
};

// The limit: r = a * r, as plain 3 x 4 arithmetic.
inline void Product(const Plain34& a, Plain34& r) {
  Plain34 t;
  for (int k = 0; k < 3; ++k) {  // axes
    const double* b = &r.m[3 + 3 * k];
    for (int i = 0; i < 3; ++i)
      t.m[3 + 3 * k + i] = a.m[3 + i] * b[0] + a.m[6 + i] * b[1] + a.m[9 + i] * b[2];
  }
  for (int i = 0; i < 3; ++i)
    t.m[i] = a.m[i] + a.m[3 + i] * r.m[0] + a.m[6 + i] * r.m[1] + a.m[9 + i] * r.m[2];
  r = t;
}

void BM_Object_GetMg_1000Deep(benchmark::State& state) {
  constexpr int kDepth = 1000;
  constexpr int kCalls = 200;
  RootObject list;
  BaseObject* up = nullptr;
  std::vector<Plain34> plain(kDepth);
  for (int i = 0; i < kDepth; ++i) {
    BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
    if (o == nullptr) Die("Alloc");
    if (up == nullptr)
      list.InsertLast(o);
    else
      o->InsertUnder(up);
    o->SetRelPos(Vector64(0.001 * i, 1, 0));
    o->SetRelRot(Vector64(0.001 * i, 0.002, 0));
    const Matrix64 m = o->_GetMl();
    const Vector64* v[4] = {&m.off, &m.v1, &m.v2, &m.v3};
    for (int k = 0; k < 4; ++k) {
      plain[i].m[3 * k] = v[k]->x;
      plain[i].m[3 * k + 1] = v[k]->y;
      plain[i].m[3 * k + 2] = v[k]->z;
    }
    up = o;
  }
  // Both sides compute the same matrix.
  Plain34 check = plain[kDepth - 1];
  for (int i = kDepth - 2; i >= 0; --i) Product(plain[i], check);
  const Matrix64 mg = up->GetMg();
  if (std::fabs(mg.off.x - check.m[0]) > 1e-6 * (1 + std::fabs(check.m[0]))) Die("GetMg");
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] {
      for (int c = 0; c < kCalls; ++c) benchmark::DoNotOptimize(up->GetMg());
    });
    pair.Limit([&] {
      for (int c = 0; c < kCalls; ++c) {
        Plain34 r = plain[kDepth - 1];
        for (int i = kDepth - 2; i >= 0; --i) Product(plain[i], r);
        benchmark::DoNotOptimize(r);
      }
    });
  }
  pair.Report(kCalls * kDepth, kCalls * kDepth, "products");
}
BENCHMARK(BM_Object_GetMg_1000Deep)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_Object_TransformSetters(benchmark::State& state) {
  constexpr int kCalls = 100000;
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  BaseObject* frozen = BaseObject::Alloc(TYPE_OBJECT);
  if (o == nullptr || frozen == nullptr) Die("Alloc");
  frozen->SetFrozenRot(Vector64(0.1, 0.2, 0.3));
  std::vector<Plain34> plain(64);
  for (size_t i = 0; i < plain.size(); ++i)
    for (int k = 0; k < 12; ++k) plain[i].m[k] = 0.01 * double(i + k);
  Pair pair(state);
  for (auto _ : state) {
    // One call of each of the setters in turn: positions, rotations, scales, relative,
    // absolute (through a frozen transformation) and whole matrices.
    pair.Figure([&] {
      for (int c = 0; c < kCalls; c += 8) {
        const double a = 0.0001 * c;
        o->SetRelPos(Vector64(a, 1, 2));
        o->SetRelRot(Vector64(a, 0.5, 0.25));
        o->SetRelScale(Vector64(1 + a, 1, 1));
        frozen->SetAbsPos(Vector64(a, 2, 1));
        frozen->SetAbsRot(Vector64(0.3, a, 0.1));
        frozen->SetAbsScale(Vector64(2, 1 + a, 1));
        Matrix64 m = o->_GetMl();
        m.off.x += 1;
        o->SetMl(m);
        o->SetMg(m);
      }
    });
    pair.Limit([&] {
      Plain34 r = plain[0];
      for (int c = 0; c < kCalls; ++c) Product(plain[c & 63], r);
      benchmark::DoNotOptimize(r);
    });
  }
  pair.Report(kCalls, kCalls, "calls");
  BaseObject::Free(o);
  BaseObject::Free(frozen);
}
BENCHMARK(BM_Object_TransformSetters)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// ---- hierarchies ----

// n objects: groups of a parent with nine children, each with a name and a transform.
void BuildHierarchy(RootObject& list, Int32 n) {
  BaseObject* parent = nullptr;
  for (Int32 i = 0; i < n; ++i) {
    BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
    if (o == nullptr) Die("Alloc");
    o->SetName(String("object"));
    o->SetRelPos(Vector64(i, 0, 1));
    o->SetRelRot(Vector64(0.1, 0.001 * (i % 100), 0));
    if (i % 10 == 0) {
      list.InsertLast(o);
      parent = o;
    } else {
      o->InsertUnderLast(parent);
    }
  }
}

void CopyOnce(RootObject& list) {
  RootObject copy;
  if (!list.CopyTo(&copy, COPYFLAGS_NONE, nullptr) || copy.GetFirst() == nullptr) Die("CopyTo");
}

void WriteOnce(RootObject& list) {
  Filename name;
  name.SetMemoryTarget();
  HyperFile hf;
  if (!hf.Open(name, FILEOPEN_WRITE) || !list.WriteObject(&hf, 1) || !hf.Close()) Die("Write");
}

template <void (*Work)(RootObject&)>
void Growth(benchmark::State& state) {
  constexpr Int32 kN = 100 * 1000;
  RootObject big, small;
  BuildHierarchy(big, kN);
  BuildHierarchy(small, kN / 10);
  Work(small);  // warms the heap
  Pair pair(state);
  for (auto _ : state) {
    pair.Figure([&] { Work(big); });
    pair.Limit([&] { Work(small); });
  }
  pair.ReportGrowth(kN, kN / 10);
}

void BM_Object_CopyHierarchy_100k(benchmark::State& state) { Growth<CopyOnce>(state); }
BENCHMARK(BM_Object_CopyHierarchy_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

void BM_Object_WriteHierarchy_100k(benchmark::State& state) { Growth<WriteOnce>(state); }
BENCHMARK(BM_Object_WriteHierarchy_100k)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

// ---- bulk geometry ----

constexpr Int32 kElements = 1000 * 1000;

PolygonObject* BuildMesh() {
  PolygonObject* p = PolygonObject::Alloc(kElements, kElements);
  if (p == nullptr) Die("PolygonObject::Alloc");
  UVWTag* uvw = UVWTag::Cast(p->MakeTag(TAG_UVW));
  NormalTag* nt = NormalTag::Cast(p->MakeTag(TAG_NORMAL));
  if (uvw == nullptr || nt == nullptr || !p->ResizeObject(kElements, kElements)) Die("tags");
  Vector64* pts = p->GetPointW();
  CPolygon* polys = p->GetPolygonW();
  for (Int32 i = 0; i < kElements; ++i) {
    pts[i] = Vector64(i, 0.5 * i, -i);
    polys[i] = CPolygon(i, (i + 1) % kElements, (i + 2) % kElements, (i + 3) % kElements);
  }
  std::memset(uvw->GetDataAddressW(), 0x3F, size_t(kElements) * uvw->GetElementSize());
  std::memset(nt->GetDataAddressW(), 0x11, size_t(kElements) * nt->GetElementSize());
  return p;
}

// The element arrays of the mesh, as one block per tag.
struct Arrays {
  const void* data[4];
  size_t bytes[4];
  size_t total = 0;
};

Arrays ArraysOf(BaseObject* o) {
  Arrays a;
  const VariableTag* tags[4] = {static_cast<VariableTag*>(o->GetTag(TAG_POINT)),
                                static_cast<VariableTag*>(o->GetTag(TAG_POLYGON)),
                                static_cast<VariableTag*>(o->GetTag(TAG_UVW)),
                                static_cast<VariableTag*>(o->GetTag(TAG_NORMAL))};
  for (int i = 0; i < 4; ++i) {
    if (tags[i] == nullptr) Die("tag");
    a.data[i] = tags[i]->GetDataAddressR();
    a.bytes[i] = size_t(tags[i]->GetCount()) * size_t(tags[i]->GetElementSize());
    a.total += a.bytes[i];
  }
  return a;
}

bool WriteMesh(BaseObject* mesh, const std::string& path) {
  RootObject list;
  list.InsertLast(mesh);
  HyperFile hf;
  const bool ok =
      hf.Open(Filename(path.c_str()), FILEOPEN_WRITE) && list.WriteObject(&hf, 1) && hf.Close();
  mesh->Remove();
  return ok;
}

void BM_Geometry_WriteMesh_1M(benchmark::State& state) {
  PolygonObject* mesh = BuildMesh();
  const Arrays arrays = ArraysOf(mesh);
  const std::string figurePath = lumbench::ScratchPath("mesh.hf");
  const std::string limitPath = lumbench::ScratchPath("mesh.raw");
  Pair pair(state);
  for (auto _ : state) {
    std::remove(figurePath.c_str());
    pair.Figure([&] {
      if (!WriteMesh(mesh, figurePath)) Die("write mesh");
    });
    std::remove(limitPath.c_str());
    pair.Limit([&] {
      FILE* f = std::fopen(limitPath.c_str(), "wb");
      for (int i = 0; i < 4 && f != nullptr; ++i)
        if (std::fwrite(arrays.data[i], 1, arrays.bytes[i], f) != arrays.bytes[i]) Die("fwrite");
      if (f == nullptr) Die("fopen");
      std::fclose(f);
    });
  }
  pair.Report(double(arrays.total), double(arrays.total));
  PolygonObject::Free(mesh);
}
BENCHMARK(BM_Geometry_WriteMesh_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

size_t HeapInUse() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

void BM_Geometry_ReadMesh_1M(benchmark::State& state) {
  const std::string figurePath = lumbench::ScratchPath("readmesh.hf");
  const std::string limitPath = lumbench::ScratchPath("readmesh.raw");
  size_t total = 0;
  {
    PolygonObject* mesh = BuildMesh();
    const Arrays arrays = ArraysOf(mesh);
    total = arrays.total;
    if (!WriteMesh(mesh, figurePath)) Die("write mesh");
    FILE* f = std::fopen(limitPath.c_str(), "wb");
    for (int i = 0; i < 4 && f != nullptr; ++i) std::fwrite(arrays.data[i], 1, arrays.bytes[i], f);
    if (f == nullptr) Die("fopen");
    std::fclose(f);
    PolygonObject::Free(mesh);
  }
  std::vector<unsigned char> limit(total);
  double allocRatio = 0;
  double warm = 0;
  Pair pair(state);
  for (auto _ : state) {
    RootObject back;
    const size_t before = HeapInUse();
    pair.Figure([&] {
      HyperFile hf;
      if (!hf.Open(Filename(figurePath.c_str()), FILEOPEN_READ) || !back.ReadObject(&hf, true) ||
          !hf.Close())
        Die("read mesh");
    });
    allocRatio = double(HeapInUse() - before) / double(total);
    PolygonObject* p = static_cast<PolygonObject*>(back.GetFirst());
    if (p == nullptr || p->GetPointCount() != kElements || p->GetPolygonCount() != kElements ||
        p->GetPointR()[7] != Vector64(7, 3.5, -7))
      Die("mesh read back");
    // The limit reads the same bytes into new memory, as a reader of new arrays must (the
    // pages of a new block are faulted in by the first write); vs_warm_limit compares with
    // fread into memory touched before.
    pair.Limit([&] {
      void* fresh = std::malloc(total);
      FILE* f = std::fopen(limitPath.c_str(), "rb");
      if (fresh == nullptr || f == nullptr || std::fread(fresh, 1, total, f) != total) Die("fread");
      std::fclose(f);
      benchmark::DoNotOptimize(fresh);
      std::free(fresh);
    });
    const double t0 = lumbench::Now(lumbench::Clock::kThreadCpu);
    FILE* f = std::fopen(limitPath.c_str(), "rb");
    if (f == nullptr || std::fread(limit.data(), 1, total, f) != total) Die("fread");
    std::fclose(f);
    benchmark::DoNotOptimize(limit.data());
    warm += lumbench::Now(lumbench::Clock::kThreadCpu) - t0;
  }
  pair.Report(double(total), double(total));
  state.counters["alloc_ratio"] = allocRatio;
  if (pair.FigureSeconds() > 0) state.counters["vs_warm_limit"] = warm / pair.FigureSeconds();
}
BENCHMARK(BM_Geometry_ReadMesh_1M)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
