// FileErrorInfo: what went wrong with a file, in a form a program can print or test: the
// FILEERROR code, its stable name, the byte offset where the stream stopped, the operating
// system's errno where one was involved, and the file's name.
#ifndef LUM_FILEERROR_H
#define LUM_FILEERROR_H

#include "foundation/lum_file.h"
#include "foundation/lum_filename.h"
#include "lum_types.h"

namespace lumora {

class HyperFile;

// The stable upper-case name of a FILEERROR code ("NONE", "OPEN", "READ", "WRONG_VALUE",
// "CHUNKEND_MISSING" ...); "UNKNOWN" for a number that is no code.
const char* FileErrorName(Int32 code);

struct FileErrorInfo {
  Int32 code = FILEERROR_NONE;
  Int64 offset = 0;   // the byte where the stream stopped
  Int32 osError = 0;  // errno, or 0 when the failure was not the system's
  Filename name;

  // No error, no name.
  void Clear();
  // The stream's error, its position and errno, with the file's name.
  void Set(const HyperFile& hf, const Filename& file);
  void Set(Int32 errorCode, Int64 at, Int32 errnoValue, const Filename& file);

  // One line, no newline: "in.lum: chunk end missing at byte 997", or with errno the system's
  // text, "in.lum: No such file or directory". Valid until the next call or change.
  const char* Describe() const;

 private:
  mutable char _text[1024] = {};
};

}  // namespace lumora

#endif  // LUM_FILEERROR_H
