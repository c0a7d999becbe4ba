// The plug-in hook chain: shared libraries named by the `vhook` option, each
// exporting "Configure", "Process" and "Release", called with the raw
// decoded picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The picture a plug-in receives: four plane pointers and four line sizes.
struct TFrameHookPicture {
    uint8_t* data[4];
    int linesize[4];
};

extern "C" {
// "Configure": the entry's context slot, argc, argv (argv[0] is the library
// path), the highest usable index of argv (63). 0 = success.
typedef int (*TFrameHookConfigure)(void** AContext, int AArgc, char* AArgv[], int AMaxIndex);
// "Process": context, picture, pixel format, width, height, pts (µs).
typedef void (*TFrameHookProcess)(void* AContext, TFrameHookPicture* APicture, int APixFmt, int AWidth,
                                  int AHeight, int64_t APts);
// "Release": context.
typedef void (*TFrameHookRelease)(void* AContext);
}

struct TFrameHookEntry {
    TFrameHookEntry* Next = nullptr;
    TFrameHookConfigure Configure = nullptr;
    TFrameHookProcess Process = nullptr;
    TFrameHookRelease Release = nullptr;
    void* Context = nullptr;
};

// 0 success; -2 no arguments or an entry point missing; -12 out of memory;
// -22 Configure failed; -1 the library cannot be loaded.
int AddFrameHook(TFrameHookEntry*& AHookChain, int AArgc, char* AArgv[]);
void RunFrameHooks(TFrameHookEntry* AHookChain, TFrameHookPicture* APicture, int APixFmt, int AWidth,
                   int AHeight, int64_t APts);
// Calls Release of every entry and empties the chain.
void ReleaseFrameHooks(TFrameHookEntry*& AHookChain);

// The plug-in libraries loaded so far in this process, by the names they
// were given, in loading order.
std::vector<std::string> LoadedFrameHookLibraries();
