#include "values/lum_gemarker.h"

#include <errno.h>
#include <pthread.h>
#include <sys/random.h>
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

namespace {

// New markers are random (version 4) UUIDs, as uuid_generate makes them when the kernel has
// randomness. uuid_generate asks the kernel anew for every UUID and reseeds the C library's
// generator each time, several system calls in all, which cost a scene of a hundred thousand
// keys more than reading its bytes. The markers come instead from a pool of the kernel's random
// bytes that is refilled once per 256 markers. Every thread has its own pool, and a child
// process starts with an empty one, so that it never hands out its parent's next markers.
constexpr Int32 kPoolMarkers = 256;

struct MarkerPool {
  UChar bytes[kPoolMarkers * GeMarker::SIZE];
  Int32 next = kPoolMarkers;  // markers used; kPoolMarkers: empty
};

thread_local MarkerPool t_pool;

void EmptyPoolInChild() { t_pool.next = kPoolMarkers; }

// Fills the pool; false when the kernel gives no randomness.
bool FillPool() {
  static const bool emptiedOnFork = pthread_atfork(nullptr, nullptr, EmptyPoolInChild) == 0;
  if (!emptiedOnFork) return false;
  size_t have = 0;
  while (have < sizeof t_pool.bytes) {
    const ssize_t got = getrandom(t_pool.bytes + have, sizeof t_pool.bytes - have, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    have += size_t(got);
  }
  t_pool.next = 0;
  return true;
}

}  // namespace

void GeGetNewMarker(GeMarker& marker) {
  if (t_pool.next >= kPoolMarkers && !FillPool()) {
    uuid_t id;
    uuid_generate(id);
    marker.SetBytes(id);
    return;
  }
  UChar* id = t_pool.bytes + t_pool.next * GeMarker::SIZE;
  ++t_pool.next;
  id[6] = UChar((id[6] & 0x0F) | 0x40);  // version 4: random
  id[8] = UChar((id[8] & 0x3F) | 0x80);  // the standard variant
  marker.SetBytes(id);
}

}  // namespace lumora
