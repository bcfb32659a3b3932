// Scene-file streams for the tests: a writer into a memory file, a reader over bytes, and a
// writer into a real file that runs out of room at a chosen byte.
#ifndef LUMORA_STREAM_SUPPORT_H
#define LUMORA_STREAM_SUPPORT_H

#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

#include "lumora.h"

namespace lumtest {

using Bytes = std::vector<unsigned char>;

// A stream written into a memory file, opened at construction (the open must succeed).
struct MemWriter {
  explicit MemWriter(bool float32 = false, lumora::BYTEORDER order = lumora::BYTEORDER_MOTOROLA);
  // Closes the stream and returns what it wrote; the close and the collection of the bytes must
  // succeed.
  Bytes Finish();
  // The same without judging the close: for streams whose sticky error a test has set or
  // provoked. Returns no bytes when the memory file gives none back.
  Bytes FinishUnchecked();
  lumora::Filename name;
  lumora::HyperFile hf;
};

// A stream read from bytes the reader keeps (the memory file reads them in place), opened at
// construction (the open must succeed).
struct MemReader {
  explicit MemReader(Bytes b, lumora::Int32 version = lumora::HYPERFILE_CURRENT_VERSION,
                     bool float32 = false, lumora::BYTEORDER order = lumora::BYTEORDER_MOTOROLA);
  // `hex` as FromHex reads it.
  explicit MemReader(const std::string& hex,
                     lumora::Int32 version = lumora::HYPERFILE_CURRENT_VERSION,
                     bool float32 = false);
  // True when every byte has been consumed.
  bool AtEnd();
  Bytes bytes;
  lumora::Filename name;
  lumora::HyperFile hf;
};

// Runs `body` on a fresh MemWriter and returns the bytes: `body` must return true and leave the
// stream without error, and the stream must close cleanly.
Bytes WriteStream(const std::function<bool(lumora::HyperFile&)>& body);

// A stream into a temporary file that may take `room` more bytes only: the value whose bytes go
// past them fails with FILEERROR_WRITE, as on a full disk. (A memory value fills the 16 KiB
// file buffer up to that point, and the write that does not fit flushes it into a file whose
// size limit is 0; the limit's signal is ignored meanwhile.) The limit and the signal are the
// process's: one writer at a time, and both are restored when it is destroyed.
class FullFileWriter {
 public:
  explicit FullFileWriter(lumora::Int64 room);
  ~FullFileWriter();
  FullFileWriter(const FullFileWriter&) = delete;
  FullFileWriter& operator=(const FullFileWriter&) = delete;
  lumora::HyperFile hf;

 private:
  rlimit _old;
  void (*_handler)(int);
};

}  // namespace lumtest

#endif  // LUMORA_STREAM_SUPPORT_H
