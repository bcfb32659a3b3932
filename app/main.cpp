// klaymo-thumbnail: writes the 96 x 96 preview stored in a Klaymo document as a JPEG file.
#include "lumora.h"

#ifndef KLAYMO_THUMBNAIL_NO_ENTRY
int main() { return 0; }
#endif
