// JpgSaver and BmpSaver.
//
// The JPEG saver drives libjpeg with an error manager and a destination manager of its own.
// libjpeg reports errors by calling error_exit, which must not return: ours discards the message,
// destroys the compressor (releasing everything libjpeg allocated) and long-jumps back into
// JpgSaver::Save, which then fails with BITMAPRESULT_FAILED. Between the jump point and any
// libjpeg call only C frames and functions without destructors lie, so the jump skips no
// cleanup; the BaseFile lives in Save itself and is closed there on every path.
#include "imaging/lum_bitmapsaver.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h needs the declarations of <cstdio> first, and jerror.h comes after it.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "values/lum_basecontainer.h"
#include "foundation/lum_basefile.h"
#include "foundation/lum_filename.h"
#include "lum_memory.h"

namespace lumora {
namespace {

constexpr Int32 kDefaultQuality = 95;
constexpr Int32 kDefaultDpi = 72;
// Pixels per metre without a container: 72 dpi.
constexpr Int32 kDefaultPixelsPerMetre = 2833;
// Bytes the destination manager gathers before it writes them to the file.
constexpr size_t kOutputBufferSize = 4096;
constexpr int kJumpValue = 99;
constexpr Int32 kBmpHeaderSize = 54;
constexpr Int32 kBmpInfoSize = 40;

// ---- JPEG: error manager ----

struct SaverErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg sees only this part
  std::jmp_buf jump;
};

// Warnings and errors are formatted as libjpeg would print them, and dropped.
void DiscardMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
}

[[noreturn]] void SaverErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  SaverErrorManager* err = reinterpret_cast<SaverErrorManager*>(cinfo->err);
  jpeg_destroy(cinfo);
  std::longjmp(err->jump, kJumpValue);
}

// ---- JPEG: destination manager ----

struct SaverDestination {
  jpeg_destination_mgr pub;  // first: libjpeg sees only this part
  BaseFile* file;
  JOCTET* buffer;
};

SaverDestination* DestinationOf(j_compress_ptr cinfo) {
  return reinterpret_cast<SaverDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
  SaverDestination* dest = DestinationOf(cinfo);
  // Released with the image pool by jpeg_finish_compress, jpeg_destroy_compress or jpeg_destroy.
  dest->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kOutputBufferSize));
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBufferSize;
}

// Called by libjpeg when the buffer is full, whatever next_output_byte says: always a whole
// buffer.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  SaverDestination* dest = DestinationOf(cinfo);
  if (!dest->file->WriteBytes(dest->buffer, static_cast<Int64>(kOutputBufferSize)))
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  SaverDestination* dest = DestinationOf(cinfo);
  size_t pending = kOutputBufferSize - dest->pub.free_in_buffer;
  if (pending > 0 && !dest->file->WriteBytes(dest->buffer, static_cast<Int64>(pending)))
    ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Everything one JPEG save needs, kept in memory so that nothing lives in registers across the
// long jump.
struct JpegJob {
  jpeg_compress_struct cinfo;
  SaverErrorManager err;
  SaverDestination dest;
  BaseBitmap* bitmap;
  Int32 quality;
  Bool grey;
};

// The compression proper, from the error manager to the destroyed compressor. Returns
// BITMAPRESULT_OK, or BITMAPRESULT_FAILED when the row buffer cannot be had; libjpeg errors
// leave through the long jump instead.
Int32 Compress(JpegJob* job) {
  jpeg_compress_struct* cinfo = &job->cinfo;
  cinfo->err = jpeg_std_error(&job->err.pub);
  job->err.pub.error_exit = SaverErrorExit;
  job->err.pub.output_message = DiscardMessage;

  jpeg_create_compress(cinfo);
  if (cinfo->dest == nullptr) {
    job->dest.pub.init_destination = InitDestination;
    job->dest.pub.empty_output_buffer = EmptyOutputBuffer;
    job->dest.pub.term_destination = TermDestination;
    cinfo->dest = &job->dest.pub;
  }

  const Int32 width = job->bitmap->GetBw();
  const Int32 height = job->bitmap->GetBh();
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  if (job->grey) {
    cinfo->input_components = 1;
    cinfo->in_color_space = JCS_GRAYSCALE;
  } else {
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
  }
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, job->quality, TRUE);
  cinfo->dct_method = JDCT_FLOAT;

  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
      static_cast<JDIMENSION>(width) * static_cast<JDIMENSION>(cinfo->input_components), 1);
  if (row == nullptr) {
    jpeg_destroy_compress(cinfo);
    return BITMAPRESULT_FAILED;
  }

  jpeg_start_compress(cinfo, TRUE);
  const Int32 inc = job->grey ? 1 : 3;
  const COLORMODE mode = job->grey ? COLORMODE_GREY : COLORMODE_RGB;
  const PIXELCNT pixelFlags = job->grey ? PIXELCNT_NONE : PIXELCNT_DITHER;
  while (cinfo->next_scanline < cinfo->image_height) {
    job->bitmap->GetPixelCnt(0, static_cast<Int32>(cinfo->next_scanline), width, row[0], inc, mode,
                             pixelFlags, nullptr);
    jpeg_write_scanlines(cinfo, row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return BITMAPRESULT_OK;
}

// Closes the file and turns its error state into the saver's result.
Int32 FinishFile(BaseFile* file, Int32 result) {
  // Closing writes what the file still buffers: a failure there is a failed save too.
  Bool closed = file->Close();
  if (result != BITMAPRESULT_OK) return result;
  return closed && file->GetError() == FILEERROR_NONE ? BITMAPRESULT_OK : BITMAPRESULT_FILE;
}

// dpi * 11808 / 300 in 32-bit arithmetic; the product wraps as 32-bit arithmetic does instead
// of overflowing.
Int32 PixelsPerMetre(Int32 dpi) {
  return static_cast<Int32>(static_cast<UInt32>(dpi) * 11808u) / 300;
}

}  // namespace

// ---- JpgSaver ------------------------------------------------------------------------------

Int32 JpgSaver::GetMaxResolution(Bool layers) const {
  (void)layers;
  return kMaxResolution;
}

Int32 JpgSaver::Save(const Filename& name, BaseBitmap* bitmap, BaseContainer* settings,
                     SAVEBIT flags) {
  if (bitmap == nullptr) return BITMAPRESULT_FAILED;
  const Int32 maxSize = GetMaxResolution(false);
  if (bitmap->GetBw() > maxSize || bitmap->GetBh() > maxSize) return BITMAPRESULT_TOOLARGE;
  // libjpeg cannot size a row buffer for an empty picture (it would divide by zero).
  if (bitmap->GetBw() < 1 || bitmap->GetBh() < 1) return BITMAPRESULT_FAILED;

  BaseFile file;
  if (!file.Open(name, FILEOPEN_WRITE, FILEDIALOG_NONE, BYTEORDER_MOTOROLA, JPGSAVER_FILETYPE,
                 SAVER_CREATOR))
    return BITMAPRESULT_FILE;

  JpegJob job;
  job.bitmap = bitmap;
  job.grey = (flags & SAVEBIT_GREY) != 0;
  job.quality = kDefaultQuality;
  if (settings != nullptr && settings->FindIndex(JPGSAVER_QUALITY) >= 0)
    job.quality = settings->GetInt32(JPGSAVER_QUALITY, kDefaultQuality);
  job.dest.file = &file;
  job.dest.buffer = nullptr;

  // SaverErrorExit lands here after it has destroyed the compressor.
  if (setjmp(job.err.jump) != 0) return FinishFile(&file, BITMAPRESULT_FAILED);
  return FinishFile(&file, Compress(&job));
}

// ---- BmpSaver ------------------------------------------------------------------------------

Int32 BmpSaver::GetMaxResolution(Bool layers) const {
  (void)layers;
  return kMaxResolution;
}

Int32 BmpSaver::Save(const Filename& name, BaseBitmap* bitmap, BaseContainer* settings,
                     SAVEBIT flags) {
  (void)flags;
  if (bitmap == nullptr) return BITMAPRESULT_FAILED;
  const Int32 width = bitmap->GetBw();
  const Int32 height = bitmap->GetBh();
  const Int32 maxSize = GetMaxResolution(false);
  if (width > maxSize || height > maxSize) return BITMAPRESULT_TOOLARGE;

  Int32 ppm = kDefaultPixelsPerMetre;
  if (settings != nullptr) ppm = PixelsPerMetre(settings->GetInt32(BMPSAVER_DPI, kDefaultDpi));

  BaseFile file;
  file.SetOrder(BYTEORDER_INTEL);
  if (!file.Open(name, FILEOPEN_WRITE, FILEDIALOG_NONE, BYTEORDER_INTEL, BMPSAVER_FILETYPE,
                 SAVER_CREATOR))
    return BITMAPRESULT_FILE;

  Int32 rowBytes = 3 * width;
  if (rowBytes % 4 != 0) rowBytes += 4 - rowBytes % 4;
  UChar* row = static_cast<UChar*>(MemAlloc(rowBytes));
  if (row == nullptr) return FinishFile(&file, BITMAPRESULT_FAILED);

  // At most 32000 rows of 96000 bytes: the sizes fit 32 bits.
  const UInt32 imageBytes = static_cast<UInt32>(height) * static_cast<UInt32>(rowBytes);
  file.WriteUInt16(0x4D42);  // "BM"
  file.WriteUInt32(imageBytes + kBmpHeaderSize);
  file.WriteUInt16(0);
  file.WriteUInt16(0);
  file.WriteUInt32(kBmpHeaderSize);
  file.WriteUInt32(kBmpInfoSize);
  file.WriteInt32(width);
  file.WriteInt32(height);  // positive: bottom-up
  file.WriteUInt16(1);      // planes
  file.WriteUInt16(24);     // bits per pixel
  file.WriteUInt32(0);      // no compression
  file.WriteUInt32(imageBytes);
  file.WriteInt32(ppm);
  file.WriteInt32(ppm);
  file.WriteUInt32(0);  // colours used
  file.WriteUInt32(0);  // important colours

  for (Int32 y = height - 1; y >= 0; --y) {
    bitmap->GetPixelCnt(0, y, width, row, 3, COLORMODE_RGB, PIXELCNT_DITHER, nullptr);
    for (Int32 x = 0; x < width; ++x) {
      UChar red = row[3 * x];
      row[3 * x] = row[3 * x + 2];
      row[3 * x + 2] = red;
    }
    file.WriteBytes(row, rowBytes);
  }

  DeleteMem(row);
  return FinishFile(&file, BITMAPRESULT_OK);
}

}  // namespace lumora
