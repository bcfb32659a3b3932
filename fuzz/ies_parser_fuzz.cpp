// Any bytes as an IES file: the import must end with one of its result codes, leave the
// tables consistent with their counts, give finite non-negative intensities, and a light it
// read must store and read back unchanged.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lights/lum_ieslight.h"
#include "lumora.h"

using namespace lumora;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Filename name;
  name.SetMemoryData(size > 0 ? bytes : nullptr, static_cast<Int64>(size), false);
  IESLight light;
  const Int32 r = light.ImportFromFile(name);
  Check(r == 1 || r == -2 || r == -5);
  if (r != 1) {
    Check(light.GetVerticalCount() == 0 && light.GetHorizontalCount() == 0);
    return 0;
  }
  Check(light.GetVerticalCount() >= 0 && light.GetVerticalCount() <= IES_MAX_ANGLES);
  Check(light.GetHorizontalCount() >= 0 && light.GetHorizontalCount() <= IES_MAX_ANGLES);
  static const Vector64 directions[] = {{0, 0, -1}, {0, 0, 1},  {1, 0, 0},  {0, 1, 0},
                                        {-1, 0, 0}, {0, -1, 0}, {1, 1, -1}, {0, 0, 0}};
  for (const Vector64& d : directions) {
    const Float i = light.ComputeLightIntensity(d);
    Check(i >= 0 && !std::isnan(i));
  }
  Filename record;
  record.SetMemoryTarget();
  HyperFile out;
  Check(out.Open(record, FILEOPEN_WRITE) && light.Write(&out) && out.Close());
  const void* stored = nullptr;
  Int64 n = 0;
  Check(record.CollectMemoryData(&stored, &n));
  Filename again;
  again.SetMemoryData(stored, n, false);
  HyperFile in;
  IESLight back;
  Check(in.Open(again, FILEOPEN_READ) && back.Read(&in));
  Check(back.GetVerticalCount() == light.GetVerticalCount() &&
        back.GetHorizontalCount() == light.GetHorizontalCount() &&
        back.GetShape() == light.GetShape() && back.GetFormat() == light.GetFormat());
  return 0;
}
