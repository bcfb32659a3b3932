// libjpeg for the tests: an error manager that hands control back instead of exiting, and a
// decoder the written pictures are checked with.
#ifndef LUMORA_JPEG_SUPPORT_H
#define LUMORA_JPEG_SUPPORT_H

#include <csetjmp>
#include <vector>

// jpeglib.h uses FILE and size_t without declaring them.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace lumtest {

// libjpeg's standard error manager whose error_exit long-jumps to `jump`. The caller arms
// `jump` with setjmp in the function that owns the libjpeg object (a jump into a frame that has
// returned is undefined, so the setjmp cannot live in a helper).
struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
// Sets up `err` and returns the manager to put into cinfo.err.
jpeg_error_mgr* UseJpegError(JpegError* err);

// A JPEG held in memory, decoded to 8-bit RGB; ok is false when libjpeg cannot read it.
struct JpegPicture {
  bool ok = false;
  int width = 0, height = 0, components = 0;  // components: as the file stores them
  bool progressive = true;                    // true unless a header that was read says baseline
  std::vector<unsigned char> rgb;             // rows top first; empty after a header-only decode
};
// With headerOnly the decode stops after the header: width, height, components and progressive
// come from it, and a body libjpeg cannot read goes unnoticed.
JpegPicture DecodeJpeg(const std::vector<unsigned char>& bytes, bool headerOnly = false);

}  // namespace lumtest

#endif  // LUMORA_JPEG_SUPPORT_H
