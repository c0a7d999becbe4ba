// Opening a file the user names: always a local file, never a protocol or a
// list of other files.
//
// The name reaches the libraries as "file:" + name with the protocol
// whitelist "file", so "concat:a.avi" or "data:,x" is a file of that name.
// Formats that read further files or network addresses named inside the
// file (playlists, session descriptions) are not on the format whitelist of
// any open, and PlaylistFormat names them before the open so that the
// refusal carries a reason.
#pragma once

#include <string>

#include "binding/LibAV.h"

// "file:" + Name: the URL of a user's file.
std::string LocalFileUrl(const std::string& Name);

// Adds protocol_whitelist=file and the format whitelist to Options.
void AddLocalFileOptions(AVDictionary** Options, bool WithFormats = true);

// The short name of the playlist format a regular file holds, else "".
std::string PlaylistFormat(const std::string& Name, const AVIOInterruptCB* Interrupt);

// "NAME: playlists are not supported (FORMAT)".
std::string PlaylistRefusal(const std::string& Name, const std::string& Format);

// After a successful open: the context's url becomes the user's name again,
// so that names shown and files measured are the ones given.
void RestoreUserName(AVFormatContext* Context, const std::string& Name);
