// The metadata walk over a picture's file on disk: only the parts it asks
// for are read, each at its offset, so a large picture's pixel data is
// never read for it.
#pragma once

#include "formats/metadata.h"

// What the open file carries besides its pixels, read at offsets (a read
// that follows seeks first); nothing when it is not a JPEG or PNG.
PictureMetadata ReadPictureMetadataFile(void* file);

// duotint's record of how the file at `path` was made (PictureMetadata::look),
// read by the same walk as any picture's metadata, whatever the file holds:
// empty when it records none, or is no file on a disk that may be read.
std::string ReadLookRecordAt(const wchar_t* path);
