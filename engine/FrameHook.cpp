// The plug-in hook chain.
//
// Dependencies of a plug-in: at run time the dynamic linker searches a
// library's dependencies only through its RUNPATH/RPATH, LD_LIBRARY_PATH as
// it was when the process started, and the system folders; neither the
// current directory nor a changed environment reaches it. So that a
// plug-in's own folder is searched first, the dependencies that sit in that
// folder are loaded by their full paths before the plug-in, dependencies of
// dependencies first. The linker then finds them already loaded under their
// names. The engine changes neither the current directory nor PATH, which
// would also disturb the other jobs of the process.
#include "engine/FrameHook.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "binding/LibAV.h"

namespace {

// Plug-in libraries loaded so far, by the name they were given; a library
// named twice is loaded once. The modules stay loaded for the life of the
// process.
struct TLoadedLibraries {
    std::mutex Lock;
    std::vector<std::pair<std::string, void*>> Items;
    std::vector<void*> Dependencies;  // loaded from the plug-ins' folders
};

TLoadedLibraries& Loaded() {
    static TLoadedLibraries* Libraries = new TLoadedLibraries;  // outlives every engine
    return *Libraries;
}

// The DT_NEEDED names of an ELF shared object of this process's class,
// read from its dynamic segment; empty when the file is not one.
std::vector<std::string> NeededLibraries(const std::string& AFileName) {
    std::vector<std::string> Names;
    int Handle = open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (Handle < 0) return Names;
    struct stat Info;
    void* Map = MAP_FAILED;
    if (fstat(Handle, &Info) == 0 && Info.st_size >= static_cast<off_t>(sizeof(ElfW(Ehdr))))
        Map = mmap(nullptr, static_cast<size_t>(Info.st_size), PROT_READ, MAP_PRIVATE, Handle, 0);
    close(Handle);
    if (Map == MAP_FAILED) return Names;
    const auto* Bytes = static_cast<const uint8_t*>(Map);
    const size_t Size = static_cast<size_t>(Info.st_size);
    auto Inside = [&](uint64_t AOffset, uint64_t ALength) { return AOffset <= Size && ALength <= Size - AOffset; };

    const auto* Header = reinterpret_cast<const ElfW(Ehdr)*>(Bytes);
    const bool Native = std::memcmp(Header->e_ident, ELFMAG, SELFMAG) == 0 &&
                        Header->e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
                        Header->e_phentsize == sizeof(ElfW(Phdr)) &&
                        Inside(Header->e_phoff, uint64_t(Header->e_phnum) * sizeof(ElfW(Phdr)));
    if (Native) {
        const auto* Segments = reinterpret_cast<const ElfW(Phdr)*>(Bytes + Header->e_phoff);
        // A virtual address of a loaded segment as a file offset.
        auto FileOffset = [&](uint64_t AAddress, uint64_t& AOffset) {
            for (int i = 0; i < Header->e_phnum; ++i) {
                const ElfW(Phdr)& S = Segments[i];
                if (S.p_type == PT_LOAD && AAddress >= S.p_vaddr && AAddress - S.p_vaddr < S.p_filesz) {
                    AOffset = AAddress - S.p_vaddr + S.p_offset;
                    return true;
                }
            }
            return false;
        };
        for (int i = 0; i < Header->e_phnum; ++i) {
            const ElfW(Phdr)& S = Segments[i];
            if (S.p_type != PT_DYNAMIC || !Inside(S.p_offset, S.p_filesz)) continue;
            const auto* Dynamic = reinterpret_cast<const ElfW(Dyn)*>(Bytes + S.p_offset);
            const size_t Count = S.p_filesz / sizeof(ElfW(Dyn));
            uint64_t Table = 0, TableSize = 0;
            bool HasTable = false;
            for (size_t j = 0; j < Count && Dynamic[j].d_tag != DT_NULL; ++j) {
                if (Dynamic[j].d_tag == DT_STRTAB) HasTable = FileOffset(Dynamic[j].d_un.d_ptr, Table);
                if (Dynamic[j].d_tag == DT_STRSZ) TableSize = Dynamic[j].d_un.d_val;
            }
            if (!HasTable || !Inside(Table, TableSize)) break;
            for (size_t j = 0; j < Count && Dynamic[j].d_tag != DT_NULL; ++j) {
                if (Dynamic[j].d_tag != DT_NEEDED || Dynamic[j].d_un.d_val >= TableSize) continue;
                const char* Name = reinterpret_cast<const char*>(Bytes + Table + Dynamic[j].d_un.d_val);
                Names.emplace_back(Name, strnlen(Name, TableSize - Dynamic[j].d_un.d_val));
            }
            break;
        }
    }
    munmap(Map, Size);
    return Names;
}

// Loads the dependencies of AFileName that sit in AFolder, deepest first.
// A dependency that does not load is left to the loading of the plug-in,
// which then reports it.
void LoadFolderDependencies(const std::string& AFolder, const std::string& AFileName, std::set<std::string>& ASeen,
                            std::vector<void*>& AHandles) {
    for (const std::string& Name : NeededLibraries(AFileName)) {
        if (Name.empty() || Name.find('/') != std::string::npos) continue;
        std::string Path = AFolder + "/" + Name;
        if (!ASeen.insert(Path).second || access(Path.c_str(), R_OK) != 0) continue;
        LoadFolderDependencies(AFolder, Path, ASeen, AHandles);
        if (void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL)) AHandles.push_back(Handle);
    }
}

void* LoadPlugin(const std::string& AFileName) {
    TLoadedLibraries& L = Loaded();
    std::lock_guard<std::mutex> Guard(L.Lock);
    for (auto& [Name, Handle] : L.Items)
        if (Name == AFileName) return Handle;
    size_t Slash = AFileName.rfind('/');
    if (Slash != std::string::npos) {
        std::set<std::string> Seen;
        LoadFolderDependencies(Slash == 0 ? "" : AFileName.substr(0, Slash), AFileName, Seen, L.Dependencies);
    }
    void* Handle = dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Handle) {
        const char* Error = dlerror();
        av::av_log(nullptr, AV_LOG_ERROR, "%s\n", Error ? Error : "cannot load the library");
        return nullptr;
    }
    L.Items.emplace_back(AFileName, Handle);
    return Handle;
}

template <typename T>
T Resolve(void* AHandle, const char* AName) {
    return reinterpret_cast<T>(dlsym(AHandle, AName));
}

}  // namespace

std::vector<std::string> LoadedFrameHookLibraries() {
    TLoadedLibraries& L = Loaded();
    std::lock_guard<std::mutex> Guard(L.Lock);
    std::vector<std::string> Names;
    for (auto& Item : L.Items) Names.push_back(Item.first);
    return Names;
}

int AddFrameHook(TFrameHookEntry*& AHookChain, int AArgc, char* AArgv[]) {
    if (AArgc <= 0 || !AArgv || !AArgv[0]) return -2;
    void* Handle = LoadPlugin(AArgv[0]);
    if (!Handle) return -1;

    TFrameHookEntry* Entry = new (std::nothrow) TFrameHookEntry;
    if (!Entry) return -12;
    Entry->Configure = Resolve<TFrameHookConfigure>(Handle, "Configure");
    Entry->Process = Resolve<TFrameHookProcess>(Handle, "Process");
    Entry->Release = Resolve<TFrameHookRelease>(Handle, "Release");

    int Result = 0;
    if (!Entry->Process) {
        av::av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", AArgv[0]);
        Result = -2;
    } else if (!Entry->Configure && AArgc > 1) {
        av::av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", AArgv[0]);
        Result = -2;
    } else if (Entry->Configure && Entry->Configure(&Entry->Context, AArgc, AArgv, 63) != 0) {
        av::av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", AArgv[0]);
        Result = -22;
    }
    if (Result != 0) {
        delete Entry;
        return Result;
    }

    TFrameHookEntry** Tail = &AHookChain;
    while (*Tail) Tail = &(*Tail)->Next;
    *Tail = Entry;
    return 0;
}

void RunFrameHooks(TFrameHookEntry* AHookChain, TFrameHookPicture* APicture, int APixFmt, int AWidth, int AHeight,
                   int64_t APts) {
    for (TFrameHookEntry* Entry = AHookChain; Entry; Entry = Entry->Next)
        if (Entry->Process) Entry->Process(Entry->Context, APicture, APixFmt, AWidth, AHeight, APts);
}

void ReleaseFrameHooks(TFrameHookEntry*& AHookChain) {
    TFrameHookEntry* Entry = AHookChain;
    AHookChain = nullptr;
    while (Entry) {
        TFrameHookEntry* Next = Entry->Next;
        if (Entry->Release) Entry->Release(Entry->Context);
        delete Entry;
        Entry = Next;
    }
}
