// Opening the picture: our own reader for uncompressed 24-bit BMPs, the
// Windows Imaging Component for everything else, into sourceImage.
#pragma once

// Reads what the picture is and how large; refuses what cannot be read.
void ReadImageHeader();
// Fills sourceImage from the picture ReadImageHeader accepted.
void LoadSourcePixels();
void FillExportHeader();

// Binds state.imageFile to the picture: its wide path, or fileName.
void BindPicture();
