#include "values/lum_gemarker.h"

#include <uuid/uuid.h>

#include <cstring>

namespace lumora {

static_assert(sizeof(uuid_t) == GeMarker::SIZE, "a UUID fills a marker");

GeMarker::GeMarker(const UChar* bytes) { SetBytes(bytes); }

bool GeMarker::IsNull() const {
  for (UChar b : _bytes)
    if (b != 0) return false;
  return true;
}

void GeMarker::Clear() { std::memset(_bytes, 0, sizeof(_bytes)); }

void GeMarker::SetBytes(const UChar* bytes) {
  if (bytes == nullptr)
    Clear();
  else
    std::memcpy(_bytes, bytes, sizeof(_bytes));
}

Int32 GeMarker::Compare(const GeMarker& other) const {
  int r = std::memcmp(_bytes, other._bytes, sizeof(_bytes));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void GeGetNewMarker(GeMarker& marker) {
  uuid_t id;
  uuid_generate(id);
  marker.SetBytes(id);
}

}  // namespace lumora
