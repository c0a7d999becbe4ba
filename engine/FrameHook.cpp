// The plug-in hook chain.
//
// Dependencies of a plug-in: the dynamic linker searches a library's own
// dependencies through the library's RUNPATH/RPATH, LD_LIBRARY_PATH as it
// was when the process started, and the system folders. Unlike an altered
// search path on other systems, neither the current directory nor a changed
// environment reaches it at run time, so the engine cannot add the
// plug-in's folder to the search. A plug-in whose dependencies sit beside
// it finds them when it is linked with RUNPATH "$ORIGIN" (for example
// -Wl,-rpath,'$ORIGIN'). The engine therefore changes neither the current
// directory nor PATH, which would also disturb other jobs of the process.
#include "engine/FrameHook.h"

#include <dlfcn.h>

#include <mutex>
#include <new>
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
};

TLoadedLibraries& Loaded() {
    static TLoadedLibraries* Libraries = new TLoadedLibraries;  // outlives every engine
    return *Libraries;
}

void* LoadPlugin(const std::string& AFileName) {
    TLoadedLibraries& L = Loaded();
    std::lock_guard<std::mutex> Guard(L.Lock);
    for (auto& [Name, Handle] : L.Items)
        if (Name == AFileName) return Handle;
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
