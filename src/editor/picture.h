// The editor's picture: the read and the release of sourceImage over the
// picture library, with the program state's fields kept as the procedures
// name them. A failure ends the program with its box and exit code.
#pragma once

#include <cstddef>
#include <string>

#include "read/read.h"

// Starts the decoding process while the person is still naming the picture,
// so that a picture for the platform's decoders does not wait for it.
void StartDecoder();
// Ends the editor's decoding process, which otherwise serves each picture
// the editor reads until the program ends.
void EndDecoder();
// Reads what the picture is and how large; refuses what cannot be read.
void ReadImageHeader();
// Fills sourceImage, which sourcePicture owns, from the picture
// ReadImageHeader accepted. A picture our reader has, with its rows
// bottom-up, is not read: sourceImage is a view of its rows where they stand
// in the file (their padding bytes as the file has them), which stays open,
// shared for reading only, until ReleaseSourcePixels.
void LoadSourcePixels();
// The picture's path, as the library opens it.
std::wstring PicturePath();
// Whether sourceImage is a view of the picture's file, whose pages fault
// once another program cuts the file short: read it through CopySource.
bool SourceIsMapped();
// Copies `count` bytes of sourceImage from byte `at` to `to`; a view that
// can no longer serve them ends the program with runtime error 100 on the
// picture, as a read of a file that ends early does.
void CopySource(size_t at, void* to, size_t count);
// Lets go of sourceImage, whichever reader filled it, and of the picture's
// file, which stays open from ReadImageHeader so that the export's
// metadata comes from the file that was shown.
void ReleaseSourcePixels();
