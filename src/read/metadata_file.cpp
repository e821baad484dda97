// The platform's side of the metadata walk: a file handle read at offsets.
#include "read/metadata_file.h"

#include <windows.h>

namespace {

class FileSource : public ByteSource {
public:
    FileSource(HANDLE file, uint64_t size) : file_(file), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void* out, size_t count) override
    {
        // The walk reads at most kMostMetadataBytes at once, well within a DWORD.
        if (offset > size_ || count > size_ - offset || count > kMostMetadataBytes)
            return false;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ReadFile(file_, out, static_cast<DWORD>(count), &got, &at) && got == count;
    }

private:
    HANDLE file_;
    uint64_t size_;
};

}  // namespace

PictureMetadata ReadPictureMetadataFile(void* file)
{
    PictureMetadata metadata;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size)) {
        FileSource source(file, static_cast<uint64_t>(size.QuadPart));
        metadata = ReadPictureMetadata(source);
    }
    return metadata;
}

std::string ReadLookRecordAt(const wchar_t* path)
{
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    // A pipe or a device in its place could keep a read waiting for ever.
    std::string look;
    if (GetFileType(file) == FILE_TYPE_DISK)
        look = ReadPictureMetadataFile(file).look;
    CloseHandle(file);
    return look;
}
