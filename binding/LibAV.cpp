#include "binding/LibAV.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <mutex>
#include <vector>

namespace av {
#define LIBAV_DEFINE_ENTRY(name) decltype(&::name) name = nullptr;
LIBAV_ALL_ENTRIES(LIBAV_DEFINE_ENTRY)
#undef LIBAV_DEFINE_ENTRY
}  // namespace av

namespace {

struct EntrySlot {
    const char* Name;
    void** Target;
};

#define LIBAV_SLOT(name) EntrySlot{#name, reinterpret_cast<void**>(&av::name)},
const EntrySlot CodecEntries[] = {LIBAV_CODEC_ENTRIES(LIBAV_SLOT)};
const EntrySlot FilterEntries[] = {LIBAV_FILTER_ENTRIES(LIBAV_SLOT)};
const EntrySlot FormatEntries[] = {LIBAV_FORMAT_ENTRIES(LIBAV_SLOT)};
const EntrySlot UtilEntries[] = {LIBAV_UTIL_ENTRIES(LIBAV_SLOT)};
const EntrySlot ScaleEntries[] = {LIBAV_SCALE_ENTRIES(LIBAV_SLOT)};
const EntrySlot ResampleEntries[] = {LIBAV_RESAMPLE_ENTRIES(LIBAV_SLOT)};
#undef LIBAV_SLOT

struct LibraryState {
    LibraryState(const char* ABaseName, int AMajor, const EntrySlot* AEntries, size_t ACount)
        : BaseName(ABaseName), Major(AMajor), Entries(AEntries), EntryCount(ACount) {}
    const char* BaseName;  // "libavcodec"
    int Major;
    const EntrySlot* Entries;
    size_t EntryCount;
    void* Handle = nullptr;
    bool Resolved = false;
    bool Versioned = true;
    std::string FileName;
    std::string Error;
};

template <size_t N>
constexpr size_t CountOf(const EntrySlot (&)[N]) { return N; }

// Registration calls of the old generation (avcodec_register_all and the
// like) are gone: today's libraries register their components themselves.
std::array<LibraryState, LibAVLibraryCount> Libraries = {
    LibraryState("libavcodec", LIBAVCODEC_VERSION_MAJOR, CodecEntries, CountOf(CodecEntries)),
    LibraryState("libavfilter", LIBAVFILTER_VERSION_MAJOR, FilterEntries, CountOf(FilterEntries)),
    LibraryState("libavformat", LIBAVFORMAT_VERSION_MAJOR, FormatEntries, CountOf(FormatEntries)),
    LibraryState("libavutil", LIBAVUTIL_VERSION_MAJOR, UtilEntries, CountOf(UtilEntries)),
    LibraryState("libswscale", LIBSWSCALE_VERSION_MAJOR, ScaleEntries, CountOf(ScaleEntries)),
    LibraryState("libswresample", LIBSWRESAMPLE_VERSION_MAJOR, ResampleEntries, CountOf(ResampleEntries)),
};

// Libraries of a folder opened ahead of the table so that the dependencies
// of each one resolve to the folder's copies, not to the system's.
std::vector<void*> PreloadedHandles;

bool Loaded = false;
std::string Error;

// The filter library when LoadLibraries left it for its first use: where
// from, and the lock of that first use, which any job's thread may make.
bool FilterDeferred = false;
std::string DeferredFolder;
bool DeferredVersioned = true;
std::mutex FilterLock;

LibraryState& State(LibAVLibrary Library) { return Libraries[static_cast<size_t>(Library)]; }

std::string FileNameOf(const LibraryState& Lib) {
    std::string Name = std::string(Lib.BaseName) + ".so";
    if (Lib.Versioned) Name += "." + std::to_string(Lib.Major);
    return Name;
}

std::string LastDlError() {
    const char* Text = dlerror();
    return Text ? Text : "unknown error";
}

std::string Format(const char* Pattern, const std::string& A, const std::string& B) {
    char Buffer[2048];
    snprintf(Buffer, sizeof Buffer, Pattern, A.c_str(), B.c_str());
    return Buffer;
}

std::string Format(const char* Pattern, const std::string& A, const std::string& B,
                   const std::string& C) {
    char Buffer[2048];
    snprintf(Buffer, sizeof Buffer, Pattern, A.c_str(), B.c_str(), C.c_str());
    return Buffer;
}

bool LoadOne(LibraryState& Lib, const std::string& Folder, bool Versioned) {
    Lib.Versioned = Versioned;
    Lib.FileName = FileNameOf(Lib);
    if (!Lib.Handle) {
        Lib.Handle = LoadLibraryFrom(Folder, Lib.FileName);
        if (!Lib.Handle) {
            Lib.Error = Format("Load libraray %s error: %s", Lib.FileName, LastDlError());
            return false;
        }
    }
    if (!Lib.Resolved) {
        for (size_t i = 0; i < Lib.EntryCount; ++i) {
            dlerror();
            void* Address = dlsym(Lib.Handle, Lib.Entries[i].Name);
            if (!Address) {
                Lib.Error = Format("Load function %s@%s error: %s", Lib.Entries[i].Name,
                                   Lib.FileName, LastDlError());
                return false;
            }
            *Lib.Entries[i].Target = Address;
        }
        Lib.Resolved = true;
    }
    return true;
}

void PreloadFolder(const std::string& Folder, bool Versioned, bool WithFilter) {
    // Dependency order: each library only needs those before it.
    static const LibAVLibrary Order[] = {LibAVLibrary::Util,  LibAVLibrary::Resample,
                                         LibAVLibrary::Scale, LibAVLibrary::Codec,
                                         LibAVLibrary::Format, LibAVLibrary::Filter};
    for (LibAVLibrary Library : Order) {
        if (Library == LibAVLibrary::Filter && !WithFilter) continue;
        LibraryState Probe = State(Library);
        Probe.Versioned = Versioned;
        std::filesystem::path Path = std::filesystem::path(Folder) / FileNameOf(Probe);
        std::error_code Ignored;
        if (!std::filesystem::exists(Path, Ignored)) continue;
        if (void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_GLOBAL)) PreloadedHandles.push_back(Handle);
    }
}

}  // namespace

void* LoadLibraryFrom(const std::string& Folder, const std::string& FileName) {
    // The dynamic linker looks neither at PATH nor at the current folder, so
    // a folder is used by naming the full path; dependencies that the folder
    // holds were opened before (PreloadFolder) and are matched by soname.
    if (Folder.empty()) return dlopen(FileName.c_str(), RTLD_NOW | RTLD_GLOBAL);
    std::filesystem::path Path = std::filesystem::path(Folder) / FileName;
    return dlopen(Path.c_str(), RTLD_NOW | RTLD_GLOBAL);
}

bool LoadLibraries(const std::string& Folder, bool Versioned, bool FilterOnDemand) {
    if (Loaded) return true;
    Error.clear();
    // The AV1 encoder writes its banner to the terminal at its info level
    // unless told otherwise; its errors and warnings still show.
    setenv("SVT_LOG", "2", 0);
    if (!Folder.empty()) PreloadFolder(Folder, Versioned, !FilterOnDemand);
    {
        std::lock_guard<std::mutex> Guard(FilterLock);
        FilterDeferred = FilterOnDemand;
        DeferredFolder = Folder;
        DeferredVersioned = Versioned;
    }
    for (LibraryState& Lib : Libraries) {
        if (FilterOnDemand && &Lib == &State(LibAVLibrary::Filter)) continue;
        if (!LoadOne(Lib, Folder, Versioned)) {
            Error = Lib.Error;
            break;
        }
    }
    if (Error.empty()) {
        Loaded = true;
    } else {
        UnloadLibraries();
    }
    return Loaded;
}

bool LoadFilterLibrary(std::string* Why) {
    std::lock_guard<std::mutex> Guard(FilterLock);
    LibraryState& Lib = State(LibAVLibrary::Filter);
    if (Lib.Resolved) return true;
    if (Loaded && FilterDeferred && LoadOne(Lib, DeferredFolder, DeferredVersioned)) return true;
    if (Why) *Why = Loaded ? Lib.Error : "LibAVFilter not loaded.";
    // A later job tries again.
    if (Lib.Handle) dlclose(Lib.Handle);
    Lib.Handle = nullptr;
    return false;
}

void UnloadLibraries() {
    std::lock_guard<std::mutex> Guard(FilterLock);
    Loaded = false;
    FilterDeferred = false;
    for (LibraryState& Lib : Libraries) {
        if (Lib.Handle) dlclose(Lib.Handle);
        Lib.Handle = nullptr;
        Lib.Resolved = false;
    }
    for (auto It = PreloadedHandles.rbegin(); It != PreloadedHandles.rend(); ++It) dlclose(*It);
    PreloadedHandles.clear();
}

bool LibrariesLoaded() { return Loaded; }
std::string LibrariesError() { return Error; }

bool LibraryResolved(LibAVLibrary Library) { return State(Library).Resolved; }
void* LibraryHandle(LibAVLibrary Library) { return State(Library).Handle; }
std::string LibraryError(LibAVLibrary Library) { return State(Library).Error; }

std::string LibraryFileName(LibAVLibrary Library) {
    const LibraryState& Lib = State(Library);
    return Lib.FileName.empty() ? FileNameOf(Lib) : Lib.FileName;
}

std::string AVErrorString(int Code) {
    char Buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av::av_strerror && LibraryResolved(LibAVLibrary::Util)) {
        av::av_strerror(Code, Buffer, sizeof Buffer);
        return Buffer;
    }
    return "error " + std::to_string(Code);
}
