/* The plainest program that does the tool's work: reads the first 37000 bytes of a Klaymo
 * document, decodes the 96 x 96 thumbnail and writes it as a JPEG with libjpeg directly (the
 * same settings as the library's saver: defaults, quality 95, floating-point DCT), so that its
 * picture is byte for byte the tool's. The limit of the whole-process benchmark.
 *
 *   thumbnail_reference DOCUMENT OUTPUT
 */
#include <stdio.h>
#include <string.h>

/* After stdio.h: libjpeg's header uses FILE and size_t without declaring them. */
#include <jpeglib.h>

enum { kHead = 37000, kSide = 96, kPixels = kSide * kSide * 4, kScratch = kPixels + 256 };

static unsigned char head[kHead];
static unsigned char pixels[kPixels];
static unsigned char scratch[kScratch];

static long Le16(const unsigned char* p) { return (short)(p[0] | (p[1] << 8)); }
static long Le32(const unsigned char* p) {
  return (int)((unsigned)p[0] | ((unsigned)p[1] << 8) | ((unsigned)p[2] << 16) |
               ((unsigned)p[3] << 24));
}

/* One run-length coded segment into scratch; the number of bytes produced. */
static long Runs(long pos) {
  long n = 0;
  while (pos < kHead) {
    int c = (signed char)head[pos++];
    if (c == 0) break;
    if (c > 0) {
      if (pos >= kHead) break;
      long take = c < kScratch - n ? c : kScratch - n;
      memset(scratch + n, head[pos++], (size_t)take);
      n += take;
      if (take < c) break;
    } else {
      long want = -c, take = want < kHead - pos ? want : kHead - pos;
      if (take > kScratch - n) take = kScratch - n;
      memcpy(scratch + n, head + pos, (size_t)take);
      n += take;
      pos += take;
      if (take < want) break;
    }
  }
  return n;
}

static void Decode(void) {
  static const unsigned char sig[8] = {0x00, 0x90, 0x00, 0x00, 0x04, 0x00, 0x80, 0x01};
  int b = -1;
  for (int i = 194; i <= 233 && b < 0; ++i)
    if (memcmp(head + i + 6, sig, 8) == 0) b = i;
  if (b < 0) return;
  int version = (signed char)head[b];
  if (version < 4) return;
  long sizes[4] = {0, 0, 0, 0}, start;
  if (version == 4) {
    for (int j = 0; j < 4; ++j) sizes[j] = Le16(head + b + 14 + 2 * j);
    start = b + 22;
  } else {
    sizes[0] = Le32(head + b + 26);
    sizes[1] = Le32(head + b + 30);
    start = b + 34;
  }
  if (sizes[0] == 0) return;
  long o = 0;
  for (int j = 0; j < 4; ++j) {
    long stream = version >= 6 ? start + 4 : start;
    if (start < 0 || stream >= kHead) break;
    long n = Runs(stream), q = n / 4;
    for (long k = 0; k < 4; ++k)
      for (long i = 0; i < q && o + 4 * i + k < kPixels; ++i)
        pixels[o + 4 * i + k] = scratch[k * q + i];
    o += n;
    if (j == 3) break;
    start += sizes[j];
    if (sizes[j + 1] == 0) break;
  }
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILE* in = fopen(argv[1], "rb");
  if (in == NULL) return 1;
  size_t got = fread(head, 1, kHead, in);
  (void)got;
  fclose(in);
  Decode();

  FILE* out = fopen(argv[2], "wb");
  if (out == NULL) return 1;
  struct jpeg_compress_struct cinfo;
  struct jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = kSide;
  cinfo.image_height = kSide;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_compress(&cinfo, TRUE);
  unsigned char row[kSide * 3];
  while (cinfo.next_scanline < cinfo.image_height) {
    const unsigned char* p = pixels + cinfo.next_scanline * kSide * 4;
    for (int x = 0; x < kSide; ++x) memcpy(row + 3 * x, p + 4 * x, 3);
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return fclose(out) == 0 ? 0 : 1;
}
