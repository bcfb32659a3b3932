// The thumbnail decoder of klaymo-thumbnail and the step that hands its pixels to a bitmap.
//
// A Klaymo document stores a 96 x 96 preview near its start: a block found by its signature
// at one of the offsets 194 ... 233, holding up to four run-length coded segments whose
// decoded bytes are the pixels in planar order. The block format is described beside the code
// in main.cpp.
#ifndef KLAYMO_THUMBNAIL_H
#define KLAYMO_THUMBNAIL_H

#include "lumora.h"

// The part of the document the tool reads, and the decoded picture: 96 rows of 96 pixels of
// 4 bytes (red, green, blue, one unused byte), top row first.
constexpr int kKlaymoHeadSize = 37000;
constexpr int kThumbnailSize = 96;
constexpr int kThumbnailRowBytes = kThumbnailSize * 4;
constexpr int kThumbnailBytes = kThumbnailSize * kThumbnailRowBytes;  // 36864

// Decodes the thumbnail in the kKlaymoHeadSize bytes of `head` into the kThumbnailBytes bytes of
// `pixels`, which the caller has zero-filled; what is not decoded stays as it was. Returns -1
// when there is no thumbnail block or its version is below 4, else 0 (also when nothing was
// decoded). Never reads outside `head` or writes outside `pixels`, whatever the head holds.
int ReadKlaymoFileThumbnail(const lumora::UChar* head, lumora::UChar* pixels);

// Copies the decoded picture into a 96 x 96 RGB bitmap, row by row; the fourth byte of each
// pixel is not used.
void CopyThumbnailToBitmap(const lumora::UChar* pixels, lumora::BaseBitmap* bitmap);

#endif  // KLAYMO_THUMBNAIL_H
