// The metadata walk over a picture's file on disk: only the parts it asks
// for are read, each at its offset, so a large picture's pixel data is
// never read for it.
#pragma once

#include "picture/metadata.h"

// What the file at `path` carries besides its pixels; nothing when it
// cannot be opened or is not a JPEG or PNG.
PictureMetadata ReadPictureMetadataFile(const wchar_t* path);
