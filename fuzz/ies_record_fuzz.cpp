// Any bytes as a stored IES light record: read, write, read, write. A record that reads must
// write, read back and write the same bytes again. The first byte chooses the 32-bit float
// mode (bit 0) and little-endian numbers (bit 1).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lights/lum_ieslight.h"
#include "lumora.h"

using namespace lumora;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Mode {
  bool float32;
  BYTEORDER order;
};

bool ReadLight(const void* bytes, Int64 size, const Mode& m, IESLight* light) {
  Filename name;
  name.SetMemoryData(size > 0 ? bytes : nullptr, size, false);
  HyperFile hf;
  hf.SetFloat32Mode(m.float32);
  if (!hf.Open(name, FILEOPEN_READ)) return false;
  hf.SetByteOrder(m.order);
  return light->Read(&hf);
}

// Writes light into record and hands out the bytes (owned by record).
void WriteLight(const IESLight& light, const Mode& m, Filename* record, const void** bytes,
                Int64* size) {
  record->SetMemoryTarget();
  HyperFile hf;
  hf.SetFloat32Mode(m.float32);
  Check(hf.Open(*record, FILEOPEN_WRITE));
  hf.SetByteOrder(m.order);
  Check(light.Write(&hf) && hf.Close());
  Check(record->CollectMemoryData(bytes, size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Mode m{(data[0] & 1) != 0, (data[0] & 2) != 0 ? BYTEORDER_INTEL : BYTEORDER_MOTOROLA};
  IESLight first;
  if (!ReadLight(data + 1, static_cast<Int64>(size - 1), m, &first)) return 0;
  Filename one, two;
  const void* bytes1 = nullptr;
  const void* bytes2 = nullptr;
  Int64 size1 = 0, size2 = 0;
  WriteLight(first, m, &one, &bytes1, &size1);
  IESLight second;
  Check(ReadLight(bytes1, size1, m, &second));
  WriteLight(second, m, &two, &bytes2, &size2);
  Check(size1 == size2 && std::memcmp(bytes1, bytes2, static_cast<size_t>(size1)) == 0);
  return 0;
}
