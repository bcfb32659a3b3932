#include "jpeg_support.h"

namespace lumtest {

namespace {

void JumpBack(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

}  // namespace

jpeg_error_mgr* UseJpegError(JpegError* err) {
  jpeg_error_mgr* mgr = jpeg_std_error(&err->pub);
  err->pub.error_exit = JumpBack;
  return mgr;
}

JpegPicture DecodeJpeg(const std::vector<unsigned char>& bytes, bool headerOnly) {
  JpegPicture pic;
  if (bytes.empty()) return pic;
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = UseJpegError(&err);
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return JpegPicture();
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  pic.width = static_cast<int>(cinfo.image_width);
  pic.height = static_cast<int>(cinfo.image_height);
  pic.components = cinfo.num_components;
  pic.progressive = cinfo.progressive_mode != 0;
  if (!headerOnly) {
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    pic.width = static_cast<int>(cinfo.output_width);
    pic.height = static_cast<int>(cinfo.output_height);
    pic.components = cinfo.num_components;
    pic.rgb.resize(static_cast<size_t>(pic.width) * pic.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = &pic.rgb[static_cast<size_t>(cinfo.output_scanline) * pic.width * 3];
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
  }
  pic.ok = true;
  jpeg_destroy_decompress(&cinfo);
  return pic;
}

}  // namespace lumtest
