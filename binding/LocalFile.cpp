#include "binding/LocalFile.h"

#include <sys/stat.h>

#include <set>
#include <sstream>

namespace {

// Demuxers that open files or addresses written inside the file they read.
const std::set<std::string>& ReferringFormats() {
    static const std::set<std::string> Names = {"concat", "dash", "hls", "imf", "rtp", "rtsp", "sdp", "tee"};
    return Names;
}

bool Refers(const char* Name) {
    std::stringstream Parts(Name ? Name : "");
    std::string Part;
    while (std::getline(Parts, Part, ','))
        if (ReferringFormats().count(Part)) return true;
    return false;
}

// Every demuxer of the loaded library but the referring ones.
const std::string& AllowedFormats() {
    static const std::string List = [] {
        std::string Out;
        void* It = nullptr;
        while (const AVInputFormat* Format = av::av_demuxer_iterate(&It)) {
            if (!Format->name || Refers(Format->name)) continue;
            if (!Out.empty()) Out += ',';
            Out += Format->name;
        }
        return Out;
    }();
    return List;
}

}  // namespace

std::string LocalFileUrl(const std::string& Name) { return "file:" + Name; }

void AddLocalFileOptions(AVDictionary** Options, bool WithFormats) {
    av::av_dict_set(Options, "protocol_whitelist", "file", 0);
    if (WithFormats) av::av_dict_set(Options, "format_whitelist", AllowedFormats().c_str(), 0);
}

std::string PlaylistFormat(const std::string& Name, const AVIOInterruptCB* Interrupt) {
    // Only regular files are looked at twice: a pipe would lose what the
    // look reads.
    struct stat Info;
    if (::stat(Name.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode)) return {};
    const std::string Url = LocalFileUrl(Name);
    AVDictionary* Options = nullptr;
    AddLocalFileOptions(&Options, false);
    AVIOContext* IO = nullptr;
    const int Opened = av::avio_open2(&IO, Url.c_str(), AVIO_FLAG_READ, Interrupt, &Options);
    av::av_dict_free(&Options);
    if (Opened < 0) return {};
    const AVInputFormat* Format = nullptr;
    av::av_probe_input_buffer2(IO, &Format, Url.c_str(), nullptr, 0, 0);
    av::avio_closep(&IO);
    return Format && Refers(Format->name) ? std::string(Format->name) : std::string();
}

std::string PlaylistRefusal(const std::string& Name, const std::string& Format) {
    return Name + ": playlists are not supported (" + Format + ")";
}

void RestoreUserName(AVFormatContext* Context, const std::string& Name) {
    if (!Context) return;
    char* Copy = av::av_strdup(Name.c_str());
    if (!Copy) return;
    av::av_free(Context->url);
    Context->url = Copy;
}
