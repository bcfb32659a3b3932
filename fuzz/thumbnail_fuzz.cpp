// The thumbnail decoder over arbitrary document heads. The head and the picture are heap blocks
// of exactly their documented sizes, so AddressSanitizer sees any access outside them; the
// picture is then handed to a bitmap as the tool does.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "klaymo_thumbnail.h"
#include "lumora.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto* head = static_cast<lumora::UChar*>(std::calloc(1, kKlaymoHeadSize));
  auto* pixels = static_cast<lumora::UChar*>(std::calloc(1, kThumbnailBytes));
  if (head == nullptr || pixels == nullptr) std::abort();
  std::memcpy(head, data,
              size < static_cast<std::size_t>(kKlaymoHeadSize) ? size : kKlaymoHeadSize);

  int result = ReadKlaymoFileThumbnail(head, pixels);
  if (result != 0 && result != -1) std::abort();
  if (result == -1) {
    for (int i = 0; i < kThumbnailBytes; ++i)
      if (pixels[i] != 0) std::abort();  // no block: nothing decoded
  }

  lumora::BaseBitmap bitmap;
  bitmap.Init(kThumbnailSize, kThumbnailSize, 24, lumora::INITBITMAPFLAGS_NONE);
  CopyThumbnailToBitmap(pixels, &bitmap);

  std::free(pixels);
  std::free(head);
  return 0;
}
