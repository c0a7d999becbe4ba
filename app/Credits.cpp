#include "app/Credits.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>

#include "binding/LibAV.h"
#include "common/Files.h"

namespace {

// The file a dlopen handle stands for, links resolved: its name carries the
// full version ("libavcodec.so.59.37.100").
std::string LoadedFile(void* Handle) {
    link_map* Map = nullptr;
    if (!Handle || dlinfo(Handle, RTLD_DI_LINKMAP, &Map) != 0 || !Map || !Map->l_name) return {};
    char Real[PATH_MAX];
    const char* Name = realpath(Map->l_name, Real) ? Real : Map->l_name;
    return ExtractFileName(Name);
}

template <class TFunction>
TFunction Symbol(void* Handle, const char* Name) {
    return Handle ? reinterpret_cast<TFunction>(dlsym(Handle, Name)) : nullptr;
}

// FFmpeg's own words for its licences ("GPL version 2 or later") in the
// short form the other rows use.
std::string ShortLicence(const std::string& Text) {
    static const std::pair<const char*, const char*> Known[] = {
        {"GPL version 2 or later", "GPL-2.0-or-later"},   {"GPL version 3 or later", "GPL-3.0-or-later"},
        {"LGPL version 2.1 or later", "LGPL-2.1-or-later"}, {"LGPL version 3 or later", "LGPL-3.0-or-later"},
    };
    for (const auto& [Long, Short] : Known)
        if (Text == Long) return Short;
    return Text;
}

struct TAVLibrary {
    const char* Name;
    LibAVLibrary Library;
    const char* Prefix;  // of its functions, "avcodec"
};

}  // namespace

std::string LoadedLibraryFile(const std::string& Prefix) {
    struct TSearch {
        const std::string* Prefix;
        std::string Found;
    } Search{&Prefix, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* Info, size_t, void* Data) {
            auto* S = static_cast<TSearch*>(Data);
            if (!Info->dlpi_name || !*Info->dlpi_name) return 0;
            char Real[PATH_MAX];
            const std::string Name =
                ExtractFileName(realpath(Info->dlpi_name, Real) ? Real : Info->dlpi_name);
            if (Name.compare(0, S->Prefix->size(), *S->Prefix) != 0) return 0;
            S->Found = Name;
            return 1;
        },
        &Search);
    return Search.Found;
}

std::string VersionText(unsigned Version) {
    return std::to_string(Version >> 16) + "." + std::to_string((Version >> 8) & 0xFF) + "." +
           std::to_string(Version & 0xFF);
}

std::vector<TCredit> LibraryCredits() {
    std::vector<TCredit> Credits;
    const TAVLibrary AV[] = {{"FFmpeg libavcodec", LibAVLibrary::Codec, "avcodec"},
                             {"FFmpeg libavformat", LibAVLibrary::Format, "avformat"},
                             {"FFmpeg libavutil", LibAVLibrary::Util, "avutil"},
                             {"FFmpeg libavfilter", LibAVLibrary::Filter, "avfilter"},
                             {"FFmpeg libswscale", LibAVLibrary::Scale, "swscale"},
                             {"FFmpeg libswresample", LibAVLibrary::Resample, "swresample"}};
    for (const TAVLibrary& Lib : AV) {
        TCredit C{Lib.Name, {}, {}, "LGPL-2.1-or-later"};
        void* Handle = LibrariesLoaded() ? LibraryHandle(Lib.Library) : nullptr;
        if (Handle) {
            const std::string Prefix = Lib.Prefix;
            if (auto Version = Symbol<unsigned (*)()>(Handle, (Prefix + "_version").c_str()))
                C.Version = VersionText(Version());
            // A build with GPL parts says so here.
            if (auto Licence = Symbol<const char* (*)()>(Handle, (Prefix + "_license").c_str()))
                C.Licence = ShortLicence(Licence());
            C.File = LoadedFile(Handle);
        }
        Credits.push_back(C);
    }

    // Encoders the profiles use, loaded with libavcodec.
    TCredit X264{"x264 (H.264 encoder)", {}, LoadedLibraryFile("libx264.so"), "GPL-2.0-or-later"};
    if (const size_t Dot = X264.File.rfind('.'); Dot != std::string::npos && !X264.File.empty())
        X264.Version = "build " + X264.File.substr(Dot + 1);
    Credits.push_back(X264);
    Credits.push_back({"Xvid (MPEG-4 encoder)", {}, LoadedLibraryFile("libxvidcore.so"), "GPL-2.0-or-later"});
    TCredit Lame{"LAME (MP3 encoder)", {}, LoadedLibraryFile("libmp3lame.so"), "LGPL-2.0-or-later"};
    if (!Lame.File.empty())
        if (auto Version = reinterpret_cast<const char* (*)()>(dlsym(RTLD_DEFAULT, "get_lame_version")))
            Lame.Version = Version();
    Credits.push_back(Lame);
    return Credits;
}
