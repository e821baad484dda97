// Opening the picture: our own reader for uncompressed 24-bit BMPs, the
// Windows Imaging Component for everything else, into sourceImage.
#pragma once

#include <string>

#include "image/metadata.h"
#include "image/probe.h"
#include "support/file_io.h"

// Starts the decoding process while the person is still naming the picture,
// so that a picture for the platform's decoders does not wait for it.
void StartDecoder();
// Ends this thread's decoding process, which otherwise serves each picture
// the thread reads until the program ends.
void EndDecoder();
// Reads what the picture is and how large; refuses what cannot be read.
void ReadImageHeader();
// Fills sourceImage from the picture ReadImageHeader accepted.
void LoadSourcePixels();
void FillExportHeader();
// What a picture file's container declares, from its mapped bytes.
ProbeResult ProbePictureFile(const std::wstring& path);
// What the picture's file carries besides its pixels, fitted to the picture
// as read (upright, imageWidth x imageHeight), for a PNG or JPEG export.
PictureMetadata ReadKeptMetadata();
// Lets go of sourceImage, whichever reader filled it.
void ReleaseSourcePixels();

// Binds state.imageFile, or `file`, to the picture: its wide path, or fileName.
void BindPicture();
void BindPictureTo(FileRecord& file);

// Whether our reader has the picture ReadImageHeader accepted and its rows
// stand in the file bottom-up, as sourceImage would hold them.
bool RowsStandInFile();

// Opens `file` on that picture at its first pixel row, once every row is
// known to be there, with LoadSourcePixels's checks and runtime errors; sets
// the rows' stride and padding.
void OpenPixelRows(FileRecord& file);
