// Opening the picture: our own reader for uncompressed 24-bit BMPs, the
// Windows Imaging Component for everything else, into sourceImage.
#pragma once

#include <string>

#include "image/probe.h"

// Starts the decoding process while the person is still naming the picture,
// so that a picture for the platform's decoders does not wait for it.
void StartDecoder();
// Reads what the picture is and how large; refuses what cannot be read.
void ReadImageHeader();
// Fills sourceImage from the picture ReadImageHeader accepted.
void LoadSourcePixels();
void FillExportHeader();
// What a picture file's container declares, from its mapped bytes.
ProbeResult ProbePictureFile(const std::wstring& path);
// Lets go of sourceImage, whichever reader filled it.
void ReleaseSourcePixels();

// Binds state.imageFile to the picture: its wide path, or fileName.
void BindPicture();
