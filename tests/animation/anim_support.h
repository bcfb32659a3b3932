// Helpers the animation suites share: curves built from (seconds, value) pairs, and masking
// the node markers out of written bytes (the empty curves a track writes in place of missing
// ones get a fresh marker on every write).
#ifndef LUMORA_ANIM_SUPPORT_H
#define LUMORA_ANIM_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "../scene/scene_support.h"
#include "lumora.h"

namespace animtest {

using Bytes = std::vector<unsigned char>;

// Adds a key per (seconds, value), in the order given.
inline void AddKeys(lumora::CCurve& c, const std::vector<std::pair<double, double>>& keys) {
  for (const auto& k : keys) {
    lumora::CKey* key = c.AddKey(lumora::BaseTime(k.first));
    ASSERT_NE(nullptr, key);
    key->SetValue(&c, k.second);
  }
}

// Zeroes the 16 marker bytes of every named-node chunk (UChar 1, then a 16-byte memory block)
// and the goal and link identities.
inline Bytes MaskMarkers(Bytes b) {
  static const unsigned char kMarker[] = {0x0C, 0x01, 0x80, 0x00, 0x00, 0x00, 0x10};
  for (size_t i = 0; i + sizeof kMarker + 16 <= b.size(); ++i) {
    if (std::memcmp(&b[i], kMarker, sizeof kMarker) == 0) {
      std::memset(&b[i + sizeof kMarker], 0, 16);
      i += sizeof kMarker + 15;
    }
  }
  return scenetest::MaskIdentities(b);
}

}  // namespace animtest

#endif  // LUMORA_ANIM_SUPPORT_H
