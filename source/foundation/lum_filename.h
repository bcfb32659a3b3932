// Filename: names a file by a path, or an in-memory file (MemoryFileStruct) that a BaseFile
// reads from or writes to instead of the disk.
//
// The path is kept normalised (no trailing '/' unless it is the whole path, no trailing blanks)
// and compared case-insensitively for ASCII letters and U+00E4, U+00F6, U+00FC only.
//
// A Filename owns its memory file: copies get their own copy of the content, so the storage is
// released exactly once, by whichever Filename holds it.
#ifndef LUM_FILENAME_H
#define LUM_FILENAME_H

#include "foundation/lum_memoryfilestruct.h"
#include "platform/lum_platform.h"
#include "foundation/lum_string.h"
#include "lum_types.h"

namespace lumora {

class Filename {
 public:
  Filename();
  // The bytes are UTF-8; stored through SetString. Null gives the empty path.
  Filename(const char* utf8Path);
  // The path, and a copy of the memory file's content when the source names one (the copy is
  // empty if that copy cannot be allocated).
  Filename(const Filename& src);
  // Copies the path. When src names a memory file, this one drops its own memory content and
  // takes a copy of src's; when src is a plain path, this one's memory file stays as it was
  // (ClearMemoryFile makes it a plain path).
  Filename& operator=(const Filename& src);
  ~Filename();

  // Stores the path normalised: a final '/' is removed when the text has at least 2 units, then
  // trailing blanks (U+0020) are removed. The memory file is not touched.
  void SetString(const String& path);
  // The length SetString keeps of path.
  static Int32 NormalisedLength(const String& path);
  String GetString() const;
  // The stored path itself, without a copy; valid until this Filename changes.
  const String& GetPath() const { return _path; }

  // String::LexCompare of the paths is 0 / not 0. Memory files play no part.
  bool operator==(const Filename& other) const;
  bool operator!=(const Filename& other) const;

  // Resolves the path to the reference of an existing file. An empty path zero-fills *ref and
  // returns false; so does a path that names nothing.
  bool GetFSRef(FSRef* ref) const;

  // ---- memory files ----

  // The memory file this names, or null for a plain path. BaseFile::Open uses it.
  MemoryFileStruct* GetMemoryFile() const { return _memory; }
  // Makes this a memory file holding n readable bytes, dropping any earlier memory content.
  // With copy the bytes are copied (and released with the Filename); otherwise they are only
  // pointed at and must outlive every BaseFile that reads them. False when the copy cannot be
  // allocated: the memory file is then empty.
  bool SetMemoryData(const void* bytes, Int64 n, bool copy = true);
  // Makes this a memory file a BaseFile may write to (and read from once collected), dropping
  // any earlier memory content.
  void SetMemoryTarget();
  // Collects what was written into the memory file as one block and hands it out: *bytes stays
  // owned by the Filename and is valid until its memory file changes. An empty or unwritten
  // memory file gives null and 0. False when this is no memory file or the block cannot be
  // allocated (the written content is kept and a later call may succeed).
  bool CollectMemoryData(const void** bytes, Int64* n);
  // Makes this a plain path again; the memory content is released.
  void ClearMemoryFile();

 private:
  friend class BaseFile;  // reads the path without copying it

  String _path;
  MemoryFileStruct* _memory;  // null, or &_record
  MemoryFileStruct _record;
};

}  // namespace lumora

#endif  // LUM_FILENAME_H
