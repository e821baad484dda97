// The editor's side of the read path: one decoding process, one picture.
#include "editor/picture.h"

#include <cstring>

#include "editor/error.h"
#include "editor/program_state.h"
#include "editor/view_fault.h"
#include "export/write.h"
#include "formats/bmp_header.h"
#include "support/guarded_read.h"
#include "support/utf8.h"

DecoderProcess pictureDecoder;
PictureHeader pictureHeader;
SourcePicture sourcePicture;

namespace {

PictureRequest EditorRequest()
{
    PictureRequest request;
    request.path = PicturePath();
    request.name = state.fileNamePtr;
    return request;
}

}  // namespace

std::wstring PicturePath()
{
    if (state.picturePath != nullptr)
        return state.picturePath;
    wchar_t name[MAX_PATH];
    return WideOfAnsi(state.fileNamePtr, name, MAX_PATH) ? name : std::wstring();
}

void StartDecoder() { pictureDecoder.Start(true); }

void EndDecoder() { pictureDecoder.Close(); }

void ReadImageHeader()
{
    if (Failure failure = ReadPictureHeader(EditorRequest(), pictureDecoder, pictureHeader))
        EndWithFailure(failure);
    // A size the export's format cannot hold ends the editor before any
    // editing, which the export key would then lose.
    const Failure refusal =
        RefuseExport(state.exportFormat, pictureHeader.width, pictureHeader.height, state.fileNamePtr);
    if (refusal)
        EndWithFailure(refusal);
    state.imageWidth = pictureHeader.width;
    state.imageHeight = pictureHeader.height;
}

void LoadSourcePixels()
{
    // Pixels from before go; the file the header was read from stays.
    const std::shared_ptr<OpenedPicture> file = pictureHeader.file;
    ReleaseSourcePixels();
    pictureHeader.file = file;
    const RowLayout layout = RowStride(state.imageWidth);
    state.srcStride = layout.stride;
    state.srcPad = layout.pad;
    if (Failure failure = LoadPicture(EditorRequest(), pictureHeader, pictureDecoder, sourcePicture))
        EndWithFailure(failure);
    state.sourcePixels = sourcePicture.pixels;
    state.sourceHandle = sourcePicture.memory;
    state.row = -1;
    if (sourcePicture.IsMapped()) {
        // The preview copies the rows it samples through CopySource, and the
        // export reads each piece's pages through GuardedCopy before they are
        // tinted. The tint and the encoders then read sourceImage
        // in place, on threads of their own, where no copy of ours stands
        // between them and a page that faults: copying every piece out first
        // would add a copy of the picture to every export. A fault there ends
        // the program as a failed read, not as a crash.
        EndOnFaultInView(sourcePicture.View(), sourcePicture.ViewBytes(),
                         {nullptr, sourcePicture.Path().c_str(), 0, FileFault::unknown});
    }
}

bool SourceIsMapped() { return sourcePicture.IsMapped(); }

void CopySource(size_t at, void* to, size_t count)
{
    if (!sourcePicture.IsMapped()) {
        memcpy(to, sourcePicture.pixels + at, count);
        return;
    }
    if (GuardedCopy(to, sourcePicture.pixels + at, count) != count)
        EndWithFailure(sourcePicture.ViewFailure());
}

void ReleaseSourcePixels()
{
    if (sourcePicture.IsMapped())
        ForgetView();
    sourcePicture.Release();
    pictureHeader.file.reset();
    state.sourceHandle = nullptr;
    state.sourcePixels = nullptr;
}
