// The geometry tags of a mesh of 1,000,000 points and 1,000,000 polygons with UVW and normal
// tags, written and read through the scene-file stream, against fwrite and fread of the same
// array bytes (the tags' element arrays as they lie in memory). Both sides open, fill or drain
// and close a file in /tmp. Reading also reports alloc_vs_arrays: the most the library held
// while reading (the tags and everything else), over the bytes the arrays hold.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "lumora.h"

std::int64_t LumHeapLiveBytes();
std::int64_t LumHeapPeakBytes();
void LumHeapResetPeak();

using namespace lumora;
using lumbench::Die;
using lumbench::Pair;

namespace {

constexpr Int32 kPoints = 1000000;
constexpr Int32 kPolygons = 1000000;

struct Mesh {
  BaseList2D owner{5100};  // a polygon object
  RootTag tags{&owner};
};

// The arrays of the mesh's tags: (address, bytes).
std::vector<std::pair<const void*, size_t>> Arrays(const RootTag& tags) {
  std::vector<std::pair<const void*, size_t>> out;
  for (BaseTag* t = tags.GetFirst(); t != nullptr; t = t->GetNext()) {
    const VariableTag* v = static_cast<const VariableTag*>(t);
    out.emplace_back(v->GetDataAddressR(), size_t(v->GetCount()) * size_t(v->GetElementSize()));
  }
  return out;
}

size_t ArrayBytes(const RootTag& tags) {
  size_t n = 0;
  for (const auto& a : Arrays(tags)) n += a.second;
  return n;
}

template <typename T>
T* AddTag(RootTag& list, Int32 type, Int32 count) {
  T* t = T::Cast(BaseTag::Alloc(type));
  if (t == nullptr || !t->Resize(count)) Die("tag");
  t->SetObject(list.GetObject());
  list.InsertLast(t);
  return t;
}

Mesh& TheMesh() {
  static Mesh* mesh = [] {
    Mesh* m = new Mesh;
    PointTag* pt = AddTag<PointTag>(m->tags, TAG_POINT, kPoints);
    for (Int32 i = 0; i < kPoints; ++i)
      pt->GetPointW()[i] = Vector64(i * 0.5, -i * 0.25, std::sin(i * 0.001));
    PolygonTag* pg = AddTag<PolygonTag>(m->tags, TAG_POLYGON, kPolygons);
    for (Int32 i = 0; i < kPolygons; ++i)
      pg->GetPolygonW()[i] = CPolygon(i, (i + 1) % kPoints, (i + 2) % kPoints, (i + 3) % kPoints);
    UVWTag* uv = AddTag<UVWTag>(m->tags, TAG_UVW, kPolygons);
    for (Int32 i = 0; i < kPolygons; ++i) {
      const Float64 u = (i % 1000) / 1000.0, v = (i / 1000) / 1000.0;
      uv->Set(i, UVWStruct{Vector64(u, v, 0), Vector64(u + 0.001, v, 0),
                           Vector64(u + 0.001, v + 0.001, 0), Vector64(u, v + 0.001, 0)});
    }
    NormalTag* nt = AddTag<NormalTag>(m->tags, TAG_NORMAL, kPolygons);
    for (Int32 i = 0; i < kPolygons; ++i)
      nt->Set(i, NormalStruct{Vector64(0, 0, 1), Vector64(0, 1, 0), Vector64(1, 0, 0),
                              Vector64(0, -1, 0)});
    return m;
  }();
  return *mesh;
}

bool WriteTags(RootTag& tags, const std::string& path) {
  HyperFile hf;
  return hf.Open(Filename(path.c_str()), FILEOPEN_WRITE) && tags.WriteObject(&hf, 1) && hf.Close();
}

bool ReadTags(RootTag& tags, const std::string& path) {
  HyperFile hf;
  return hf.Open(Filename(path.c_str()), FILEOPEN_READ) && tags.ReadObject(&hf, true) && hf.Close();
}

bool SameArrays(const RootTag& a, const RootTag& b) {
  const auto x = Arrays(a), y = Arrays(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (x[i].second != y[i].second || std::memcmp(x[i].first, y[i].first, x[i].second) != 0)
      return false;
  return true;
}

void BM_Tags_Write_1MPoints1MPolygons(benchmark::State& state) {
  Mesh& mesh = TheMesh();
  const std::string figurePath = lumbench::ScratchPath("tags.hf");
  const std::string limitPath = lumbench::ScratchPath("tags.raw");
  const auto arrays = Arrays(mesh.tags);
  const size_t bytes = ArrayBytes(mesh.tags);
  Pair pair(state);
  for (auto _ : state) {
    std::remove(figurePath.c_str());
    pair.Figure([&] {
      if (!WriteTags(mesh.tags, figurePath)) Die("write tags");
    });
    std::remove(limitPath.c_str());
    pair.Limit([&] {
      FILE* f = std::fopen(limitPath.c_str(), "wb");
      if (f == nullptr) Die("fopen");
      for (const auto& a : arrays)
        if (std::fwrite(a.first, 1, a.second, f) != a.second) Die("fwrite");
      std::fclose(f);
    });
  }
  pair.Report(double(bytes), double(bytes));
}
BENCHMARK(BM_Tags_Write_1MPoints1MPolygons)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

void BM_Tags_Read_1MPoints1MPolygons(benchmark::State& state) {
  Mesh& mesh = TheMesh();
  const std::string figurePath = lumbench::ScratchPath("tags-read.hf");
  const std::string limitPath = lumbench::ScratchPath("tags-read.raw");
  const auto arrays = Arrays(mesh.tags);
  const size_t bytes = ArrayBytes(mesh.tags);
  if (!WriteTags(mesh.tags, figurePath)) Die("write tags");
  {
    FILE* f = std::fopen(limitPath.c_str(), "wb");
    for (const auto& a : arrays) std::fwrite(a.first, 1, a.second, f);
    std::fclose(f);
  }
  double peak = 0;
  Pair pair(state);
  for (auto _ : state) {
    Mesh* back = new Mesh;
    LumHeapResetPeak();
    const std::int64_t before = LumHeapLiveBytes();
    pair.Figure([&] {
      if (!ReadTags(back->tags, figurePath)) Die("read tags");
    });
    peak = double(LumHeapPeakBytes() - before);
    if (!SameArrays(mesh.tags, back->tags)) Die("tags read back differ");
    delete back;
    std::vector<void*> blocks(arrays.size());
    pair.Limit([&] {
      FILE* f = std::fopen(limitPath.c_str(), "rb");
      if (f == nullptr) Die("fopen");
      for (size_t i = 0; i < arrays.size(); ++i) {
        blocks[i] = std::malloc(arrays[i].second);
        if (blocks[i] == nullptr ||
            std::fread(blocks[i], 1, arrays[i].second, f) != arrays[i].second)
          Die("fread");
      }
      std::fclose(f);
    });
    for (void* b : blocks) std::free(b);
  }
  pair.Report(double(bytes), double(bytes));
  state.counters["alloc_vs_arrays"] = peak / double(bytes);
}
BENCHMARK(BM_Tags_Read_1MPoints1MPolygons)
    ->UseManualTime()
    ->Iterations(lumbench::Pairs(10))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
