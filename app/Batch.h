// The jobs of a batch: one job of the converter per file, with the output
// profile's options and an output name that no earlier job of the batch
// has taken. The command-line converter and the main window share it.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/FilesRecord.h"
#include "app/OutputOptions.h"
#include "component/JobOptions.h"

class TAVProbe;
class TVxAVConverter;

enum TBatchAddResult {
    baAdded,        // the job is in the converter's list
    baNotOpened,    // the file cannot be opened (Reason says why)
    baNotWritable,  // the output cannot be created (Reason says why)
    baNotSuitable,  // the profile's container cannot hold the file (Reason says why)
};

struct TBatchJob {
    int Row = -1;         // the caller's number of the file (list row, argument)
    int Job = -1;         // the converter's job index
    std::string Input;    // source path
    std::string Output;   // output path
};

class TBatchBuilder {
public:
    // Folder ends with "/"; Ext is "." and the profile's extension.
    TBatchBuilder(TVxAVConverter& Converter, TProfileFiles Files, int Profile, std::string Folder, std::string Ext);

    // Called for every file while it is open in the converter's probe, once
    // both records are filled and before the job is added: the window shows
    // the file in its preview and may switch hooks on.
    std::function<void(int Row, TAVProbe& Probe, TInputOptions& Input, TOutputOptions& Output)> OnRow;

    // Adds the job of one file. Path is the file as listed; Record holds its
    // trim, crop and zoom. Raises what BuildOutputOptions raises (a profile
    // value that is not a number), with the probe closed and no job added.
    TBatchAddResult Add(int Row, const std::string& Path, const TlvFilesRecord& Record);

    // Why the last Add did not add a job.
    const std::string& Reason() const { return FReason; }
    // The output name the last Add chose, also when it failed to write it.
    const std::string& LastOutput() const { return FLastOutput; }
    const std::vector<TBatchJob>& Jobs() const { return FJobs; }

private:
    TVxAVConverter& FConverter;
    TProfileFiles FFiles;
    int FProfile;
    std::string FFolder, FExt;
    std::set<std::string> FNames;  // output names handed out in this batch
    std::vector<TBatchJob> FJobs;
    std::string FReason, FLastOutput;
};
