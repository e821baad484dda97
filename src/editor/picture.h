// Opening the picture: our own reader for uncompressed 24-bit BMPs, the
// Windows Imaging Component for everything else, into sourceImage.
#pragma once

#include <string>

#include "picture/metadata.h"
#include "picture/probe.h"
#include "support/file_io.h"

// Starts the decoding process while the person is still naming the picture,
// so that a picture for the platform's decoders does not wait for it.
void StartDecoder();
// Ends this thread's decoding process, which otherwise serves each picture
// the thread reads until the program ends.
void EndDecoder();
// Reads what the picture is and how large; refuses what cannot be read.
void ReadImageHeader();
// Fills sourceImage from the picture ReadImageHeader accepted. A picture our
// reader has, with its rows bottom-up, is not read: sourceImage is a view of
// its rows where they stand in the file (their padding bytes as the file has
// them), which stays open, shared for reading only, until
// ReleaseSourcePixels.
void LoadSourcePixels();
// For this thread's pictures from here on: LoadSourcePixels reads them into
// memory, never leaving a view whose fault would end the process (the
// workers of duotint-cli, whose runtime errors end only their picture).
void ReadSourceIntoMemory();
// Whether sourceImage is a view of the picture's file, whose pages fault
// once another program cuts the file short: read it through CopySource, or
// GuardedCopy and FailSourceRead.
bool SourceIsMapped();
// Ends the program with runtime error 100 on the picture, as a read of a
// file that ends early does.
[[noreturn]] void FailSourceRead();
// Copies `count` bytes of sourceImage from byte `at` to `to`; a view that
// can no longer serve them ends the program through FailSourceRead.
void CopySource(size_t at, void* to, size_t count);
// Reads a byte of each page of a mapped sourceImage through GuardedCopy,
// ending the program through FailSourceRead if one faults: before a reader
// that reads it in place, where only the last-resort handler stands.
void CheckSourcePages();
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
