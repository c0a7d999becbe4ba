// The per-row edit data of the file list and the naming of output files.
#pragma once

#include <functional>
#include <string>

struct TlvFilesRecord {
    int SelectionIndex = 0;   // position in the add dialog's selection
    std::string SourceFile;   // full path of the source
    std::string OutputFile;   // output name formed when the row was added
    int Duration = 0;         // seconds
    int TrimStart = 0;        // ms; 0 = from the beginning
    int TrimLength = 0;       // ms; 0 = to the end
    std::string ZoomMode = "lbox";  // "lbox", "cent", "full" or "orig"
    int CropTop = 0;          // source pixels
    int CropLeft = 0;
    int CropBottom = 0;
    int CropRight = 0;
};

// True when the file name of Path is longer than the file system takes.
bool OutputNameTooLong(const std::string& Path);

// Folder + the source's name without its extension + "_(new)" + Suffix, or
// the first free "_(new_N)" name (N = 1, 2, ...). A name is taken when any
// directory entry of that name exists (nothing is followed) or Taken says
// so (names handed out earlier in the same batch, whose files are not
// written yet). Folder ends with "/" or is empty.
std::string MakeOutputFileNameIn(const std::string& Folder, const std::string& SourcePath, const std::string& Suffix,
                                 const std::function<bool(const std::string&)>& Taken = {});
// The same in the folder "OutPutDir" of the settings file, made to exist by
// the folder rule.
std::string MakeOutputFileName(const std::string& SettingsIni, const std::string& SourcePath,
                               const std::string& Suffix,
                               const std::function<bool(const std::string&)>& Taken = {});
