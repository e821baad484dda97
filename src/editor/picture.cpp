// The editor's side of the read path: one decoding process, one picture.
#include "editor/picture.h"

#include <cstring>

#include "editor/program_state.h"
#include "picture/bmp_header.h"
#include "picture/jpeg_encode.h"
#include "editor/error.h"
#include "editor/view_fault.h"
#include "support/guarded_read.h"

namespace {

// The editor's decoding process, which serves the pictures it reads: one
// request at a time, from the window thread.
DecoderProcess decoder;
// What ReadImageHeader found, for LoadSourcePixels.
PictureHeader header;
// sourceImage's owner; the state's fields point into it.
SourcePicture source;

PictureRequest EditorRequest()
{
    PictureRequest request;
    request.path = PicturePath();
    request.name = state.fileNamePtr;
    request.cores = state.exportCores;
    return request;
}

}  // namespace

std::wstring PicturePath()
{
    if (state.picturePath != nullptr)
        return state.picturePath;
    wchar_t name[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, state.fileNamePtr, -1, name, MAX_PATH) == 0)
        return std::wstring();
    return name;
}

void StartDecoder() { decoder.Start(); }

void EndDecoder() { decoder.Close(); }

void ReadImageHeader()
{
    if (Failure failure = ReadPictureHeader(EditorRequest(), decoder, header))
        EndWithFailure(failure);
    // A size no JPEG holds ends the editor before any editing, which the
    // export key would then lose.
    if (state.exportFormat == OutputFormat::jpeg)
        if (Failure failure = JpegSizeRefusal(header.width, header.height, state.fileNamePtr))
            EndWithFailure(failure);
    memcpy(state.fileHeader, header.fileHeader, sizeof state.fileHeader);
    state.imageWidth = header.width;
    state.imageHeight = header.height;
    state.topDown = header.topDown;
    state.pixelDataOffset = header.pixelDataOffset;
}

void LoadSourcePixels()
{
    ReleaseSourcePixels();
    const RowLayout layout = RowStride(state.imageWidth);
    state.srcStride = layout.stride;
    state.srcPad = layout.pad;
    if (Failure failure = LoadPicture(EditorRequest(), header, decoder, source))
        EndWithFailure(failure);
    state.sourcePixels = source.pixels;
    state.sourceHandle = source.memory;
    state.sourceSection = source.section;
    state.row = -1;
    if (source.IsMapped()) {
        // The preview copies the rows it samples through CopySource, and the
        // export reads each piece's pages through GuardedCopy before they are
        // tinted. The tint and the platform's encoders then read sourceImage
        // in place, on threads of their own, where no copy of ours stands
        // between them and a page that faults: copying every piece out first
        // would add a copy of the picture to every export. A fault there ends
        // the program as a failed read, not as a crash.
        EndOnFaultInView(source.View(), source.ViewBytes(),
                         {nullptr, source.Path().c_str(), 0, FileFault::unknown});
    }
}

const SourcePicture& EditorSource() { return source; }

bool SourceIsMapped() { return source.IsMapped() && state.sourcePixels == source.pixels; }

void CopySource(size_t at, void* to, size_t count)
{
    if (!SourceIsMapped()) {
        memcpy(to, state.sourcePixels + at, count);
        return;
    }
    if (GuardedCopy(to, state.sourcePixels + at, count) != count)
        EndWithFailure(source.ViewFailure());
}

void FillExportHeader()
{
    PackExportHeader(state.fileHeader, state.imageWidth, state.imageHeight, state.srcStride);
}

void ReleaseSourcePixels()
{
    if (source.IsMapped())
        ForgetView();
    source.Release();
    state.sourceSection = nullptr;
    state.sourceHandle = nullptr;
    state.sourcePixels = nullptr;
}
