// The libraries the programs stand on, with the versions this process has
// loaded and their licences, for the about box.
#pragma once

#include <string>
#include <vector>

struct TCredit {
    std::string Name;     // "FFmpeg libavcodec", "x264", ...
    std::string Version;  // as the library tells it; empty when it does not
    std::string File;     // the library file loaded ("libx264.so.164"); empty when none is
    std::string Licence;  // short form, "GPL-2.0-or-later"
};

// FFmpeg's six libraries as the binding loaded them (version and licence as
// each library reports them), then the encoders the profiles use (x264,
// Xvid, LAME) and libjpeg-turbo, found among the libraries loaded in this
// process. Before the codec libraries are loaded their entries have no
// version and no file.
std::vector<TCredit> LibraryCredits();

// The file name (links resolved) of the library loaded in this process
// whose name starts with Prefix ("libjpeg.so"); empty when none is.
std::string LoadedLibraryFile(const std::string& Prefix);

// "59.37.100" of a library version number (major << 16 | minor << 8 | micro).
std::string VersionText(unsigned Version);
