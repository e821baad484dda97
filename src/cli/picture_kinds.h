// Which files in a folder duotint-cli takes as pictures: those whose
// extensions the platform's decoders list, so that a codec installed on the
// machine (JPEG XL) is read too, and WebP, HEIC and AVIF, which the decoding
// process reads itself; and which it names as pictures nothing here reads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The extensions the platform's decoders list (".png", in lower case),
// asked once per process, when first needed, or the name popup's extensions
// when the platform lists none; ".webp", ".heic", ".heif" and ".avif" always.
const std::vector<std::wstring>& DecodedExtensions();

// The extension of a file name (from its last dot), or empty.
std::wstring_view ExtensionOf(std::wstring_view name);

// True when `extension` is one of `list`, in any case.
bool IsExtensionIn(std::wstring_view extension, const std::vector<std::wstring>& list);

// Extensions of pictures a desktop tool commonly meets that the platform may
// have no decoder for: .jxl .psd and the camera raw kinds .raw .cr2 .cr3
// .nef .arw .dng .orf .raf .rw2.
const std::vector<std::wstring>& PictureLikeExtensions();
