#include "app/Snapshot.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <system_error>

#include <jpeglib.h>

#include "app/GlobalUnit.h"
#include "common/Bitmap.h"
#include "common/Files.h"

namespace {

void PutLE(std::vector<uint8_t>& Bytes, uint32_t Value, int Size) {
    for (int i = 0; i < Size; ++i) Bytes.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

std::string ErrorText(int Code) { return std::generic_category().message(Code); }

// Everything the JPEG encoder touches between setjmp and longjmp lives here,
// outside the frame that jumps.
struct TJpegJob {
    jpeg_compress_struct Info{};
    jpeg_error_mgr Errors{};
    jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX] = {};
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;
    const TBitmap* Picture = nullptr;
    int Quality = 0;
};

// libjpeg's own handler ends the process; this one returns to RunJpeg.
[[noreturn]] void JpegErrorExit(j_common_ptr Info) {
    TJpegJob* Job = static_cast<TJpegJob*>(Info->client_data);
    Info->err->format_message(Info, Job->Message);
    longjmp(Job->Jump, 1);
}

// Warnings of the encoder are not the user's business.
void JpegSilent(j_common_ptr) {}

bool RunJpeg(TJpegJob& Job) {
    Job.Info.err = jpeg_std_error(&Job.Errors);
    Job.Errors.error_exit = JpegErrorExit;
    Job.Errors.output_message = JpegSilent;
    Job.Info.client_data = &Job;
    if (setjmp(Job.Jump)) {
        jpeg_destroy_compress(&Job.Info);
        return false;
    }
    jpeg_create_compress(&Job.Info);
    jpeg_mem_dest(&Job.Info, &Job.Buffer, &Job.Size);
    Job.Info.image_width = static_cast<JDIMENSION>(Job.Picture->Width());
    Job.Info.image_height = static_cast<JDIMENSION>(Job.Picture->Height());
    Job.Info.input_components = 3;
    Job.Info.in_color_space = JCS_EXT_BGR;  // the bitmap's byte order, no copy
    jpeg_set_defaults(&Job.Info);
    jpeg_set_quality(&Job.Info, Job.Quality, TRUE);
    jpeg_start_compress(&Job.Info, TRUE);
    while (Job.Info.next_scanline < Job.Info.image_height) {
        // The encoder only reads the rows it is given.
        JSAMPROW Row = const_cast<uint8_t*>(Job.Picture->ScanLine(static_cast<int>(Job.Info.next_scanline)));
        jpeg_write_scanlines(&Job.Info, &Row, 1);
    }
    jpeg_finish_compress(&Job.Info);
    jpeg_destroy_compress(&Job.Info);
    return true;
}

std::atomic<unsigned> TemporaryCounter{0};

}  // namespace

#define TARN_TEXT(X) #X
#define TARN_VERSION_TEXT(X) TARN_TEXT(X)

std::string JpegLibraryVersion() {
#ifdef LIBJPEG_TURBO_VERSION
    return TARN_VERSION_TEXT(LIBJPEG_TURBO_VERSION);
#else
    return std::to_string(JPEG_LIB_VERSION / 10) + "." + std::to_string(JPEG_LIB_VERSION % 10);
#endif
}

std::vector<uint8_t> EncodeBmp(const TBitmap& Picture) {
    std::vector<uint8_t> Bytes;
    if (Picture.Empty()) return Bytes;
    const uint64_t RowBytes = static_cast<uint64_t>(TBitmap::StrideFor(Picture.Width()));
    const uint64_t ImageSize = RowBytes * static_cast<uint64_t>(Picture.Height());
    constexpr uint32_t HeaderSize = 14 + 40;
    if (ImageSize + HeaderSize > UINT32_MAX) return Bytes;
    Bytes.reserve(HeaderSize + ImageSize);
    // File header.
    Bytes.push_back('B');
    Bytes.push_back('M');
    PutLE(Bytes, static_cast<uint32_t>(HeaderSize + ImageSize), 4);
    PutLE(Bytes, 0, 4);  // reserved
    PutLE(Bytes, HeaderSize, 4);
    // Information header: a positive height stores the rows bottom-up.
    PutLE(Bytes, 40, 4);
    PutLE(Bytes, static_cast<uint32_t>(Picture.Width()), 4);
    PutLE(Bytes, static_cast<uint32_t>(Picture.Height()), 4);
    PutLE(Bytes, 1, 2);   // planes
    PutLE(Bytes, 24, 2);  // bits per pixel
    PutLE(Bytes, 0, 4);   // no compression
    PutLE(Bytes, static_cast<uint32_t>(ImageSize), 4);
    PutLE(Bytes, 3780, 4);  // 96 dots per inch
    PutLE(Bytes, 3780, 4);
    PutLE(Bytes, 0, 4);  // no palette
    PutLE(Bytes, 0, 4);
    const size_t PixelBytes = static_cast<size_t>(Picture.Width()) * 3;
    for (int Row = Picture.Height() - 1; Row >= 0; --Row) {
        const uint8_t* Line = Picture.ScanLine(Row);
        Bytes.insert(Bytes.end(), Line, Line + PixelBytes);
        // The padding is written as zeros whatever the bitmap holds there.
        Bytes.insert(Bytes.end(), RowBytes - PixelBytes, 0);
    }
    return Bytes;
}

bool EncodeJpeg(const TBitmap& Picture, int Quality, std::vector<uint8_t>& Bytes, std::string& Error) {
    Bytes.clear();
    if (Picture.Empty()) {
        Error = "there is no picture";
        return false;
    }
    if (Picture.Width() > JPEG_MAX_DIMENSION || Picture.Height() > JPEG_MAX_DIMENSION) {
        Error = "the picture is too large for JPEG";
        return false;
    }
    auto Job = std::make_unique<TJpegJob>();
    Job->Picture = &Picture;
    Job->Quality = std::clamp(Quality, 1, 100);
    bool Done = RunJpeg(*Job);
    if (Done)
        Bytes.assign(Job->Buffer, Job->Buffer + Job->Size);
    else
        Error = Job->Message;
    free(Job->Buffer);
    return Done;
}

namespace {

// Moves the finished temporary file to FileName: over it, or only when the
// name is free. Returns 0 or the system's error.
int PutInPlace(const std::string& Temporary, const std::string& FileName, bool Replace) {
    if (Replace) return rename(Temporary.c_str(), FileName.c_str()) == 0 ? 0 : errno;
    if (renameat2(AT_FDCWD, Temporary.c_str(), AT_FDCWD, FileName.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without the flag: a hard link fails on a taken name too.
    if (link(Temporary.c_str(), FileName.c_str()) != 0) return errno;
    unlink(Temporary.c_str());
    return 0;
}

bool WriteThroughTemporary(const std::string& FileName, const std::vector<uint8_t>& Bytes, std::string& Error,
                           bool Replace) {
    const std::string Folder = ExtractFilePath(FileName);
    const std::string Name = ExtractFileName(FileName);
    std::string Temporary;
    int File = -1;
    for (int Attempt = 0; Attempt < 100 && File < 0; ++Attempt) {
        // Hidden and unique per process and call, so that a crash leaves no
        // file that looks like a snapshot.
        Temporary = Folder + "." + Name + "." + std::to_string(getpid()) + "." +
                    std::to_string(TemporaryCounter.fetch_add(1)) + ".part";
        File = open(Temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (File < 0 && errno != EEXIST) break;
    }
    if (File < 0) {
        Error = ErrorText(errno);
        return false;
    }
    int Failure = 0;
    size_t Done = 0;
    while (Done < Bytes.size()) {
        ssize_t Written = write(File, Bytes.data() + Done, Bytes.size() - Done);
        if (Written < 0) {
            if (errno == EINTR) continue;
            Failure = errno;
            break;
        }
        Done += static_cast<size_t>(Written);
    }
    if (!Failure && fsync(File) != 0) Failure = errno;
    if (close(File) != 0 && !Failure) Failure = errno;
    if (!Failure) Failure = PutInPlace(Temporary, FileName, Replace);
    if (Failure) {
        unlink(Temporary.c_str());
        Error = Failure == EEXIST ? "the name is taken" : ErrorText(Failure);
        return false;
    }
    return true;
}

}  // namespace

bool WriteFileReplacing(const std::string& FileName, const std::vector<uint8_t>& Bytes, std::string& Error) {
    return WriteThroughTemporary(FileName, Bytes, Error, true);
}

bool WriteNewFile(const std::string& FileName, const std::vector<uint8_t>& Bytes, std::string& Error) {
    return WriteThroughTemporary(FileName, Bytes, Error, false);
}

std::vector<std::string> SnapshotNames(int Number) {
    const std::string Stem = Number <= 0 ? "Snapshot_" : "Snapshot_" + std::to_string(Number) + "_";
    return {Stem + "full.bmp", Stem + "small.bmp", Stem + "full.jpg", Stem + "small.jpg"};
}

int FreeSnapshotNumber(const std::string& Folder) {
    const std::string Base = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
    for (int Number = 0;; ++Number) {
        bool Free = true;
        for (const std::string& Name : SnapshotNames(Number)) {
            struct stat Entry;
            if (lstat((Base + Name).c_str(), &Entry) == 0) {
                Free = false;
                break;
            }
            // A folder that cannot be looked into has no free name either;
            // the write that follows says why.
            if (errno != ENOENT) return Number;
        }
        if (Free || Number == std::numeric_limits<int>::max()) return Number;
    }
}

std::vector<std::string> SaveSnapshot(const std::string& SettingsIni, const TBitmap& FullPicture,
                                      const TBitmap& SmallPicture) {
    const std::string Folder = EnsureFolder(SettingsIni, "SnapOutPutDir");
    const TAppSettings Settings(SettingsIni);
    const bool Full = Settings.SnapFullSize(), Small = Settings.SnapSmallSize();
    const bool Bmp = Settings.SnapBmp(), Jpg = Settings.SnapJpg();
    const int Quality = Settings.JpgQuality();

    struct TFile {
        bool Selected;
        std::string Name;
        const TBitmap& Picture;
        bool Jpeg;
    };
    const std::vector<std::string> Names = SnapshotNames(FreeSnapshotNumber(Folder));
    const TFile Files[] = {{Full && Bmp, Names[0], FullPicture, false},
                           {Small && Bmp, Names[1], SmallPicture, false},
                           {Full && Jpg, Names[2], FullPicture, true},
                           {Small && Jpg, Names[3], SmallPicture, true}};

    std::vector<std::string> Written;
    std::string Problems;
    for (const TFile& File : Files) {
        if (!File.Selected) continue;
        const std::string Path = Folder + File.Name;
        std::vector<uint8_t> Bytes;
        std::string Reason;
        bool Ready;
        if (File.Jpeg) {
            Ready = EncodeJpeg(File.Picture, Quality, Bytes, Reason);
        } else {
            Bytes = EncodeBmp(File.Picture);
            Ready = !Bytes.empty();
            if (!Ready) Reason = File.Picture.Empty() ? "there is no picture" : "the picture is too large for BMP";
        }
        if (Ready && WriteNewFile(Path, Bytes, Reason)) {
            Written.push_back(Path);
            continue;
        }
        if (!Problems.empty()) Problems += "\n";
        Problems += "Cannot save snapshot " + Path + ": " + Reason + ".";
    }
    if (!Problems.empty()) ShowMessageBox("Warning", Problems, TMessageKind::Warning);
    return Written;
}
