// Run-time binding of the codec libraries.
//
// The program does not link libavcodec and friends: LoadLibraries opens them
// with dlopen and resolves every entry of LibAVEntries.h into a process-wide
// function pointer of the same name in namespace av. All other code calls
// the libraries as av::avcodec_open2(...) and so on; a call to the global
// ::avcodec_open2 would fail at link time, which keeps the rule honest.
//
// The small inline helpers of the headers (av_q2d, av_cmp_q, av_make_q,
// av_inv_q, av_clip, ...) are used straight from the headers. Inline helpers
// that call into a library (av_make_error_string, av_err2str) are not usable;
// AVErrorString below replaces them.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "binding/LibAVEntries.h"

namespace av {
#define LIBAV_DECLARE_ENTRY(name) extern decltype(&::name) name;
LIBAV_ALL_ENTRIES(LIBAV_DECLARE_ENTRY)
#undef LIBAV_DECLARE_ENTRY
}  // namespace av

// The libraries in loading order. The old design loaded a sixth support
// library with printf/fopen/strtol look-alikes; here the C library provides
// those functions, so nothing is loaded for it. The resampler takes its
// place in the table.
enum class LibAVLibrary { Codec, Filter, Format, Util, Scale, Resample };
constexpr int LibAVLibraryCount = 6;

// Loads and resolves all libraries from Folder (empty: the system's default
// search). Versioned selects "libavcodec.so.59" over "libavcodec.so".
// All or nothing: on failure nothing stays loaded and LibrariesError() tells
// why. After one success every further call returns true at once.
// FilterOnDemand leaves the filter library, which only rotating,
// deinterlacing and filtered jobs use and whose dependencies take as long
// to load as all the others, to LoadFilterLibrary.
bool LoadLibraries(const std::string& Folder, bool Versioned, bool FilterOnDemand = false);
// True once the filter library is loaded and resolved; loads it now from
// where LoadLibraries loaded the others when they left it for later. On
// failure Why gets the reason. Any thread may call it.
bool LoadFilterLibrary(std::string* Why = nullptr);
void UnloadLibraries();
bool LibrariesLoaded();
std::string LibrariesError();

// Per library: every entry resolved, its handle, the file name of the last
// attempt, and the text of its last failure.
bool LibraryResolved(LibAVLibrary Library);
void* LibraryHandle(LibAVLibrary Library);
std::string LibraryFileName(LibAVLibrary Library);
std::string LibraryError(LibAVLibrary Library);

// Opens FileName (inside Folder when one is given) and returns the handle,
// or nullptr with the reason left in dlerror().
void* LoadLibraryFrom(const std::string& Folder, const std::string& FileName);

// Text of a library error code, as av_err2str gives it.
std::string AVErrorString(int Code);
