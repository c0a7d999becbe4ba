#include "app/FilesRecord.h"

#include <climits>

#include "app/GlobalUnit.h"
#include "common/Files.h"
#include "engine/OutputTarget.h"

bool OutputNameTooLong(const std::string& Path) { return ExtractFileName(Path).size() > NAME_MAX; }

std::string MakeOutputFileNameIn(const std::string& Folder, const std::string& SourcePath, const std::string& Suffix,
                                 const std::function<bool(const std::string&)>& Taken) {
    std::string Name = ExtractFileName(SourcePath);
    std::string Ext = ExtractFileExt(Name);
    std::string Base = Folder + Name.substr(0, Name.size() - Ext.size());
    // Any existing entry counts: a folder, a FIFO, a device, a link whether
    // it leads anywhere or not.
    // A name too long for the file system is free too: nothing can be
    // there, and writing it fails with that reason.
    auto Free = [&](const std::string& Candidate) {
        if (OutputNameTooLong(Candidate)) return true;
        return !OutputNameTaken(Candidate) && !(Taken && Taken(Candidate));
    };
    std::string Candidate = Base + "_(new)" + Suffix;
    for (int N = 1; !Free(Candidate); ++N) Candidate = Base + "_(new_" + std::to_string(N) + ")" + Suffix;
    return Candidate;
}

std::string MakeOutputFileName(const std::string& SettingsIni, const std::string& SourcePath,
                               const std::string& Suffix, const std::function<bool(const std::string&)>& Taken) {
    return MakeOutputFileNameIn(EnsureFolder(SettingsIni, SettingsKeys::OutputDir), SourcePath, Suffix, Taken);
}
