// Test helpers shared by the unit tests, the end-to-end tests and the bench:
// whole files in and out, a scratch folder, a 24-bit BMP built from its
// fields, a polling wait with a deadline, a fine clock and a process start
// that retries as the program's does. Everything here is written independently of the
// program's own code, so that a file the program writes can be compared with
// one these helpers build.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace support {

// ---- whole files ---------------------------------------------------------

// The file's bytes; empty when it cannot be opened. Reads until the end,
// so a file that another process still writes is read as far as it goes.
inline std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    static uint8_t chunk[65536];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(h);
    return bytes;
}

// Creates or replaces the file with exactly these bytes.
inline bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() || (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                                written == bytes.size());
    CloseHandle(h);
    return ok;
}

// A Unix path /a/b as Wine reaches it (Z:\\a\\b); anything else unchanged.
inline std::string ToWindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// A picture of tests/data/pictures, by its name there.
inline std::string TestPicturePath(const std::string& name)
{
    return ToWindowsPath(getenv("DUOTINT_TEST_DATA")) + "\\pictures\\" + name;
}

// Names of the plain files in folder, in no particular order; nothing is read.
inline std::vector<std::string> FileNamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

// A fresh, empty folder under the temporary folder, emptied (read-only files
// included) and removed when the object goes. Path() is empty when no
// folder could be made.
class TempFolder {
public:
    TempFolder()
    {
        static unsigned counter;
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        // A folder of the same name may be left over: a death test's child
        // ends without removing its folder, and its process id comes again.
        for (;;) {
            char name[MAX_PATH];
            snprintf(name, sizeof name, "%sduotint-test-%lu-%u", base, GetCurrentProcessId(), ++counter);
            if (CreateDirectoryA(name, nullptr)) {
                path_ = name;
                return;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS)
                return;
        }
    }
    ~TempFolder()
    {
        if (!path_.empty())
            RemoveTree(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string PathOf(const std::string& name) const { return path_ + "\\" + name; }
    std::vector<std::string> Files() const { return FileNamesIn(path_); }
    bool Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        return WriteWholeFile(PathOf(name), bytes);
    }
    // Copied as bytes: CopyFile would carry over the corpus's read-only flag.
    bool CopyIn(const std::string& source, const std::string& name) const
    {
        HANDLE h = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return Write(name, ReadWholeFile(source));
    }
    // Every file with its bytes, sorted by name: two snapshots compare equal
    // when nothing was created, removed or changed.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> Snapshot() const
    {
        std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
        for (const std::string& name : Files())
            files.emplace_back(name, ReadWholeFile(PathOf(name)));
        std::sort(files.begin(), files.end());
        return files;
    }

private:
    // By name only: the folder may hold pictures of gigabytes. Subfolders
    // go too, but no link is followed: a test removes its own links.
    static void RemoveTree(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found)) {
            const std::string full = folder + "\\" + found.cFileName;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(full.c_str());
            else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && strcmp(found.cFileName, ".") != 0 &&
                     strcmp(found.cFileName, "..") != 0)
                RemoveTree(full);
        }
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
        RemoveDirectoryA(folder.c_str());
    }

    std::string path_;
};

// ---- BMP files -------------------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
};

// The fields of a 54-byte header of a 24-bit uncompressed BMP (info header
// 40, data at 54); change them to make damaged or unusual files.
struct BmpHeader {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bitsPerPixel = 24;
    uint32_t compression = 0;
    uint32_t infoSize = 40;
    uint32_t dataOffset = 54;
    const char* magic = "BM";
};

// 3 * width rounded up to a multiple of 4.
inline int32_t BmpRowBytes(int32_t width) { return (3 * width + 3) & ~3; }

inline void PutLittleEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t v, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 54 header bytes, for pixelBytes bytes of pixels after them.
inline std::vector<uint8_t> PackHeader(const BmpHeader& h, uint32_t pixelBytes)
{
    std::vector<uint8_t> bytes(54, 0);
    bytes[0] = static_cast<uint8_t>(h.magic[0]);
    bytes[1] = static_cast<uint8_t>(h.magic[1]);
    PutLittleEndian(bytes, 2, h.dataOffset + pixelBytes, 4);  // file size
    PutLittleEndian(bytes, 10, h.dataOffset, 4);
    PutLittleEndian(bytes, 14, h.infoSize, 4);
    PutLittleEndian(bytes, 18, static_cast<uint32_t>(h.width), 4);
    PutLittleEndian(bytes, 22, static_cast<uint32_t>(h.height), 4);
    PutLittleEndian(bytes, 26, h.planes, 2);
    PutLittleEndian(bytes, 28, h.bitsPerPixel, 2);
    PutLittleEndian(bytes, 30, h.compression, 4);
    PutLittleEndian(bytes, 34, pixelBytes, 4);
    return bytes;
}

// The header of a width x height picture whose rows are stored as they are
// (a negative height: top-down), pixels included in the sizes.
inline std::vector<uint8_t> PictureHeader(int32_t width, int32_t height)
{
    BmpHeader header;
    header.width = width;
    header.height = height;
    int32_t rows = height < 0 ? -height : height;
    return PackHeader(header, static_cast<uint32_t>(BmpRowBytes(width)) * static_cast<uint32_t>(rows));
}

// A complete bottom-up 24-bit picture; pixel(x, y) counts y from the top.
// Padding bytes are padByte, so that a reader that copies them shows.
inline std::vector<uint8_t> MakePicture(int32_t width, int32_t height, const std::function<Rgb(int32_t, int32_t)>& pixel,
                                        uint8_t padByte = 0)
{
    std::vector<uint8_t> bytes = PictureHeader(width, height);
    int32_t stride = BmpRowBytes(width);
    for (int32_t fileRow = 0; fileRow < height; ++fileRow) {
        int32_t y = height - 1 - fileRow;  // the file's first row is the bottom one
        for (int32_t x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            bytes.push_back(c.b);
            bytes.push_back(c.g);
            bytes.push_back(c.r);
        }
        bytes.insert(bytes.end(), static_cast<size_t>(stride - 3 * width), padByte);
    }
    return bytes;
}

// Writes a width x height picture to path without holding it in memory:
// fillRow(fileRow, pixels) fills the 3 * width pixel bytes of each row, in
// file order (the bottom row first); the padding goes out as zeros.
inline bool WritePictureByRows(const std::string& path, int32_t width, int32_t height,
                               const std::function<void(int32_t, uint8_t*)>& fillRow)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const std::vector<uint8_t> header = PictureHeader(width, height);
    DWORD done = 0;
    bool ok = WriteFile(h, header.data(), 54, &done, nullptr) && done == 54;
    // About 4 MiB of rows a write.
    const size_t stride = static_cast<size_t>(BmpRowBytes(width));
    const int32_t rows = static_cast<int32_t>(std::max<size_t>(1, (size_t{4} << 20) / stride));
    std::vector<uint8_t> piece(stride * rows, 0);
    for (int32_t first = 0; ok && first < height; first += rows) {
        const int32_t n = std::min(rows, height - first);
        for (int32_t i = 0; i < n; ++i)
            fillRow(first + i, &piece[stride * i]);
        const DWORD bytes = static_cast<DWORD>(stride * n);
        ok = WriteFile(h, piece.data(), bytes, &done, nullptr) && done == bytes;
    }
    CloseHandle(h);
    return ok;
}

// ---- waiting and timing ------------------------------------------------------

// Milliseconds on the performance counter, for timings finer than a tick.
inline double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}


// Asks done() every pollMs until it answers true (true) or timeoutMs have
// passed (false). done() is asked once more at the deadline.
inline bool PollUntil(DWORD timeoutMs, const std::function<bool()>& done, DWORD pollMs = 10)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return done();
        Sleep(pollMs);
    }
}

// ---- console programs ---------------------------------------------------------

// How a console program's run ended: its exit code (STILL_ACTIVE when it was
// ended at the deadline) and what it wrote to standard output and error.
struct ConsoleRun {
    DWORD exitCode = STILL_ACTIVE;
    std::string out;
    std::string err;
    double ms = 0;
};

// CreateProcessW as the program starts its decoding process: a start the
// system refuses for another reason than a missing file is tried again,
// after 100 and then 200 ms. Under Wine a start now and then fails with an
// internal error when several programs start processes side by side.
inline bool StartProcess(const wchar_t* exe, wchar_t* commandLine, bool inherit, DWORD flags, const wchar_t* folder,
                         STARTUPINFOW& si, PROCESS_INFORMATION& pi)
{
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(exe, commandLine, nullptr, nullptr, inherit, flags, nullptr, folder, &si, &pi))
            return true;
        const DWORD error = GetLastError();
        if (attempt == 3 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return false;
        Sleep(100 * attempt);
    }
}

// Runs commandLine (the program's path first, quoted as it needs) in folder,
// with standard output and error captured in files of the temporary folder.
inline ConsoleRun RunConsole(const std::wstring& commandLine, const std::string& folder, DWORD timeoutMs)
{
    ConsoleRun run;
    char base[MAX_PATH], outName[MAX_PATH], errName[MAX_PATH];
    GetTempPathA(sizeof base, base);
    GetTempFileNameA(base, "out", 0, outName);
    GetTempFileNameA(base, "err", 0, errName);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE out = CreateFileA(outName, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errName, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::wstring line = commandLine;
    std::wstring where(folder.begin(), folder.end());
    const double t0 = Now();
    if (StartProcess(nullptr, &line[0], true, CREATE_NO_WINDOW, where.c_str(), si, pi)) {
        if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, STILL_ACTIVE);
        WaitForSingleObject(pi.hProcess, INFINITE);
        run.ms = Now() - t0;
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    std::vector<uint8_t> o = ReadWholeFile(outName), e = ReadWholeFile(errName);
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    DeleteFileA(outName);
    DeleteFileA(errName);
    return run;
}

// Makes, or with remove takes away, a link `name` in folder to the folder
// itself, or to `target`, a folder beside it. Wine 8 neither makes nor removes a link (CreateSymbolicLink says it
// did): there the Unix ln and rm do, which cannot be waited for.
inline bool FolderLink(const std::string& folder, const std::string& name, bool remove = false,
                       const std::string& target = ".")
{
    const std::string path = folder + "\\" + name;
    auto made = [&] { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    if (remove ? RemoveDirectoryA(path.c_str())
               : CreateSymbolicLinkA(path.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && made())
        return true;
    std::string line = (remove ? "rm " : "ln -s " + target + " ") + name;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(remove ? "Z:\\bin\\rm" : "Z:\\bin\\ln", &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return PollUntil(10000, [&] { return made() != remove; });
}

}  // namespace support
