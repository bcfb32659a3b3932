// GeMarker: the 16-byte marker that identifies a node.
//
// Every new node gets a fresh marker from GeGetNewMarker (a newly generated UUID), so two
// nodes, also of two documents, never share one unless a copy keeps it on purpose. A default
// marker is all zero bytes: the "no marker" value.
#ifndef LUM_GEMARKER_H
#define LUM_GEMARKER_H

#include "lum_types.h"

namespace lumora {

class GeMarker {
 public:
  enum : Int32 { SIZE = 16 };

  // All zero bytes.
  GeMarker() = default;
  // The 16 bytes at bytes (null gives the zero marker).
  explicit GeMarker(const UChar* bytes);

  // True when every byte is 0.
  bool IsNull() const;
  void Clear();
  const UChar* GetBytes() const { return _bytes; }
  // Takes the 16 bytes at bytes; null clears.
  void SetBytes(const UChar* bytes);

  // The bytes compared as unsigned numbers, first byte most significant: <0, 0, >0.
  Int32 Compare(const GeMarker& other) const;
  bool operator==(const GeMarker& other) const { return Compare(other) == 0; }
  bool operator!=(const GeMarker& other) const { return Compare(other) != 0; }
  bool operator<(const GeMarker& other) const { return Compare(other) < 0; }

 private:
  UChar _bytes[SIZE] = {};
};

static_assert(sizeof(GeMarker) == 16, "a marker is 16 bytes");

// Fills marker with a newly generated UUID.
void GeGetNewMarker(GeMarker& marker);

}  // namespace lumora

#endif  // LUM_GEMARKER_H
