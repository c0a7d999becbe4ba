// The jobs of a batch: one job of the converter per file, with the output
// profile's options and an output name that no earlier job of the batch
// has taken. The command-line converter and the main window share it.
//
// Queueing is light: a queued job holds the file's names and its edit
// values. The file is probed, and the profile fitted to it, when its job
// starts, on the thread that runs it; a batch of any size starts at once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
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
    ~TBatchBuilder();

    // Called for a file when its job starts, on the job's thread, while the
    // file is open in the job's probe and once both records are filled: the
    // window may switch hooks on. What it raises ends the job with that
    // message. Every job calls the handler as the latest Add found it.
    std::function<void(int Row, TAVProbe& Probe, TInputOptions& Input, TOutputOptions& Output)> OnRow;

    // Queues the job of one file. Path is the file as listed; Record holds
    // its trim, crop and zoom. The output name is chosen now; a file that
    // cannot be opened or suits the profile's container badly is found out
    // when its job starts, which then ends refused (see Refusal) while the
    // batch goes on. The first call checks the profile's own values and
    // raises what BuildOutputOptions raises (a value that is not a number)
    // with no job added. baNotOpened when the converter takes no job.
    TBatchAddResult Add(int Row, const std::string& Path, const TlvFilesRecord& Record);

    // Why job AJob (the converter's index) was refused as it started, with
    // the reason; baAdded when it was not, or has not started. Callable
    // from any thread, the converter's OnTerminate included.
    TBatchAddResult Refusal(int AJob, std::string* AReason = nullptr) const;

    // Why the last Add did not add a job.
    const std::string& Reason() const { return FReason; }
    // The output name the last Add chose.
    const std::string& LastOutput() const { return FLastOutput; }
    const std::vector<TBatchJob>& Jobs() const { return FJobs; }

private:
    struct TShared;
    class TFileSetup;

    TVxAVConverter& FConverter;
    std::shared_ptr<TShared> FShared;  // with the jobs, which may outlive the builder
    int FProfile;
    bool FProfileChecked = false;
    std::string FFolder, FExt;
    // Output names handed out in this batch, by their hash: a false match
    // only moves a name on to the next of its "_(new_N)" series.
    std::unordered_set<size_t> FNames;
    std::vector<TBatchJob> FJobs;
    std::string FReason, FLastOutput;
};
