// The vocabulary of the library's files: open modes, stream modes and flags, byte orders, seek
// origins and the error codes, the in-place byte swappers, and CallFileOpen, the one place where
// a path becomes an open, locked C stream.
//
// Every number below is fixed: callers pass them and some are stored.
#ifndef LUM_FILE_H
#define LUM_FILE_H

#include <cstdio>

#include "lum_types.h"

namespace lumora {

// How a BaseFile is opened. 4 and 5 behave as FILEOPEN_READ; anything above 5 is refused.
enum FILEOPEN : Int32 {
  FILEOPEN_APPEND = 0,       // write, positioned at the end of what is there
  FILEOPEN_READ = 1,         // read
  FILEOPEN_WRITE = 2,        // write, truncated; the file gets the Finder type and creator
  FILEOPEN_READWRITE = 3,    // read and write through the C stream's own buffer
  FILEOPEN_READ_ALT = 4,     // read (as FILEOPEN_READ)
  FILEOPEN_READ_SHARED = 5,  // read (as FILEOPEN_READ), opened with the shared flag
};

// The stream mode CallFileOpen opens with.
enum FILEMODE : Int32 {
  FILEMODE_READ = 1,
  FILEMODE_WRITE = 2,
  FILEMODE_READWRITE = 3,
};

// Flags of CallFileOpen. KEEP keeps the content of a writing open (no truncation) and is
// refused for FILEMODE_READ. SHARED takes a shared instead of an exclusive lock for a writing
// open and is refused there without KEEP. APPEND is passed by FILEOPEN_APPEND and has no effect.
enum OPENSTREAMFLAGSF : Int32 {
  OPENSTREAMFLAGSF_NONE = 0,
  OPENSTREAMFLAGSF_KEEP = 1,
  OPENSTREAMFLAGSF_SHARED = 2,
  OPENSTREAMFLAGSF_APPEND = 4,
};

// Byte order of every 16-, 32- and 64-bit value. Only MOTOROLA stores big-endian; every other
// value stores little-endian.
enum BYTEORDER : Int32 {
  BYTEORDER_MOTOROLA = 1,
  BYTEORDER_INTEL = 2,
};

enum FILESEEK : Int32 {
  FILESEEK_START = 0,     // absolute
  FILESEEK_RELATIVE = 2,  // from the current position
};

// Accepted by BaseFile::Open and ignored: nothing here asks the user for a file.
enum FILEDIALOG : Int32 {
  FILEDIALOG_NONE = 0,
};

// The sticky error code of a file: the first error recorded wins.
enum FILEERROR : Int32 {
  FILEERROR_NONE = 0,
  FILEERROR_OPEN = -1,                // opening failed
  FILEERROR_CLOSE = -2,               // closing the stream failed
  FILEERROR_READ = -3,                // fewer bytes than asked could be read
  FILEERROR_WRITE = -4,               // a write or a buffer flush wrote fewer bytes than asked
  FILEERROR_SEEK = -5,                // repositioning the stream failed
  FILEERROR_INVALID = -6,             // not allowed in this mode, no file, bad argument or position
  FILEERROR_OUTOFMEMORY = -7,         // an allocation failed (a memory file could not grow ...)
  FILEERROR_WRONG_VALUE = -100,       // the scene stream met a value of another kind
  FILEERROR_CHUNK_EXPECTED = -103,    // the scene stream needed a chunk start or end
  FILEERROR_CHUNKEND_MISSING = -104,  // the scene stream could not find a chunk's end
  FILEERROR_TOO_DEEP = -105,          // chunks nested deeper than HYPERFILE_MAX_CHUNK_DEPTH
};

// Opens path with open(2) (mode 0644, close-on-exec), takes a non-blocking flock (shared for
// reading and for SHARED, else exclusive), truncates a regular file for a writing open without
// KEEP, and wraps the descriptor in a C stream ("rb", "wb" or "r+b"). Null when the flags are
// refused, the mode is unknown (debug alert), the file cannot be opened, another process holds
// a conflicting lock (the open fails at once instead of waiting) or a later step fails; the
// descriptor is closed again on every failure. A file system without locks is not an error.
FILE* CallFileOpen(const char* path, FILEMODE mode, OPENSTREAMFLAGSF flags);

// In-place conversion of count 16-bit (w...) or 32-bit (l...) values between this processor's
// order and big-endian (Motor) or little-endian (Intel). On a little-endian processor the
// Motor forms swap and the Intel forms do nothing. A null pointer or count <= 0 does nothing.
void wMotor(void* data, Int64 count);
void lMotor(void* data, Int64 count);
void wIntel(void* data, Int64 count);
void lIntel(void* data, Int64 count);

}  // namespace lumora

#endif  // LUM_FILE_H
