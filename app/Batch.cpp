#include "app/Batch.h"

#include <ctime>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "component/VxAVConverter.h"
#include "engine/OutputTarget.h"
#include "probe/AVProbe.h"

namespace {

// The PSP's container holds exactly one picture and one sound stream; its
// muxer refuses anything else, but only once the job has started and with
// no word a user could act on.
std::string UnsuitableReason(const TOutputOptions& Output, const TAVProbe& Probe) {
    if (Output.FileFormat != "psp") return "";
    const bool Picture = Probe.VideoStreamCount() > 0 && !Output.DisableVideo;
    const bool Sound = Probe.AudioStreamCount() > 0 && !Output.DisableAudio;
    if (Picture && Sound) return "";
    return std::string("The PSP plays only files with both picture and sound; this file has no ") +
           (Picture ? "sound." : "picture.");
}

}  // namespace

// What the jobs of a batch share with the builder.
struct TBatchBuilder::TShared {
    TProfileFiles Files;
    int Profile = 0;

    mutable std::mutex Lock;
    std::unordered_map<int, std::pair<TBatchAddResult, std::string>> Refused;  // by job index
    // The caller's handler as the latest Add found it; guarded by Lock.
    std::function<void(int, TAVProbe&, TInputOptions&, TOutputOptions&)> OnRow;

    [[noreturn]] void Refuse(int Job, TBatchAddResult Kind, const std::string& Reason) {
        {
            std::lock_guard<std::mutex> Guard(Lock);
            Refused[Job] = {Kind, Reason};
        }
        throw std::runtime_error(Reason);
    }
};

// One file's job as it starts: the probe, the profile fitted to the file,
// the container's check and the caller's look at the result.
class TBatchBuilder::TFileSetup : public TJobSetup {
public:
    // Only the edit values are kept: the names are the job's own.
    TFileSetup(std::shared_ptr<TShared> Shared, int Row, const TlvFilesRecord& Record)
        : FShared(std::move(Shared)), FRow(Row), FTrimStart(Record.TrimStart), FTrimLength(Record.TrimLength),
          FZoomMode(Record.ZoomMode), FCrop{Record.CropTop, Record.CropBottom, Record.CropLeft, Record.CropRight} {}

    int Job = -1;

    void SetUp(TAVProbe& Probe, TInputOptions& Input, TOutputOptions& Output) override {
        if (!Probe.OpenFile(Input.FileName)) FShared->Refuse(Job, baNotOpened, Probe.LastError());
        // The stream's parameters give the size, aspect and turn that the
        // profile is fitted to. Only a stream whose probing found no size
        // needs its first picture decoded: raw or headerless streams whose
        // parameters come from the decoder alone, and files cut off before
        // a key frame.
        const int Video = Probe.FirstVideoStream();
        const AVCodecParameters* Par =
            Video >= 0 && Probe.Context() ? Probe.Context()->streams[Video]->codecpar : nullptr;
        if (Probe.VideoStreamCount() > 0 && (!Par || Par->width <= 0 || Par->height <= 0)) {
            try {
                Probe.DecodeFrame(-1);
            } catch (const EAVProbeError&) {
                // Without a picture the profile's size is used as it is.
            }
        }
        TlvFilesRecord Record;
        Record.TrimStart = FTrimStart;
        Record.TrimLength = FTrimLength;
        Record.ZoomMode = FZoomMode;
        Record.CropTop = FCrop[0];
        Record.CropBottom = FCrop[1];
        Record.CropLeft = FCrop[2];
        Record.CropRight = FCrop[3];
        Input.ForceFormat = Probe.ForcedFormat();
        if (Record.TrimStart >= 0) Input.StartTime = Record.TrimStart;
        if (Record.CropTop > 0 || Record.CropBottom > 0 || Record.CropLeft > 0 || Record.CropRight > 0) {
            Output.CropTop = Record.CropTop;
            Output.CropBottom = Record.CropBottom;
            Output.CropLeft = Record.CropLeft;
            Output.CropRight = Record.CropRight;
        }
        if (Record.TrimLength > 0) Output.Duration = Record.TrimLength;
        try {
            BuildOutputOptions(FShared->Files, Record, FShared->Profile, Output, Probe, Input);
        } catch (const EFitSizeError& E) {
            // The file's own length or sound cannot meet the size.
            FShared->Refuse(Job, baNotSuitable, E.what());
        }
        if (std::string Reason = UnsuitableReason(Output, Probe); !Reason.empty())
            FShared->Refuse(Job, baNotSuitable, Reason);
        std::function<void(int, TAVProbe&, TInputOptions&, TOutputOptions&)> OnRow;
        {
            std::lock_guard<std::mutex> Guard(FShared->Lock);
            OnRow = FShared->OnRow;
        }
        if (OnRow) OnRow(FRow, Probe, Input, Output);
    }

    void OutputRefused(const std::string& Reason) override {
        std::lock_guard<std::mutex> Guard(FShared->Lock);
        FShared->Refused[Job] = {baNotWritable, Reason};
    }

private:
    std::shared_ptr<TShared> FShared;
    int FRow, FTrimStart, FTrimLength;
    std::string FZoomMode;
    int FCrop[4];  // top, bottom, left, right
};

TBatchBuilder::TBatchBuilder(TVxAVConverter& Converter, TProfileFiles Files, int Profile, std::string Folder,
                             std::string Ext)
    : FConverter(Converter), FShared(std::make_shared<TShared>()), FProfile(Profile), FFolder(std::move(Folder)),
      FExt(std::move(Ext)) {
    FShared->Files = std::move(Files);
    FShared->Profile = Profile;
    // What a killed or failed run of any process left in this folder goes
    // now, unless it is still being written.
    RemoveStaleOutputs(FFolder, time(nullptr));
}

TBatchBuilder::~TBatchBuilder() = default;

TBatchAddResult TBatchBuilder::Add(int Row, const std::string& Path, const TlvFilesRecord& Record) {
    FReason.clear();
    FLastOutput.clear();
    if (!FProfileChecked) {
        // A value of the profile itself that is not a number stops the batch
        // before anything runs; one that only some files read ends their
        // jobs alone. A picture and a sound-only source read them all.
        for (const bool Picture : {true, false}) {
            TSourcePicture Source;
            if (Picture) {
                Source.Width = 640;
                Source.Height = 480;
                Source.VideoBitRate = 1000000;
                Source.RateNum = 25;
                Source.RateDen = 1;
            }
            TInputOptions Input;
            TOutputOptions Output;
            InitInputOptions(Input);
            InitOutputOptions(Output);
            try {
                BuildOutputOptions(FShared->Files, TlvFilesRecord(), FProfile, Output, Source, Input);
            } catch (const EFitSizeError&) {
                // A size to fit is judged on each file as its job starts.
            }
        }
        FProfileChecked = true;
    }
    std::string Name = MakeOutputFileNameIn(FFolder, Path, FExt, [&](const std::string& N) {
        return FNames.count(std::hash<std::string>()(N)) > 0;
    });
    FLastOutput = Name;
    // A crop needs the picture re-encoded: a profile that copies refuses
    // the file now, with the reason, rather than leave the crop out.
    FReason = CopyRefusal(FShared->Files, FProfile, Record);
    if (!FReason.empty()) return baNotSuitable;
    // A name the file system cannot hold is known now, without the file;
    // a source named so cannot be there at all, and its probe says so.
    if (OutputNameTooLong(Name)) {
        TAVProbe Source;
        if (OutputNameTooLong(Path) && !Source.OpenFile(Path)) {
            FReason = Source.LastError();
            return baNotOpened;
        }
        FReason = "file name too long";
        return baNotWritable;
    }
    {
        std::lock_guard<std::mutex> Guard(FShared->Lock);
        FShared->OnRow = OnRow;
    }
    auto Setup = std::make_unique<TFileSetup>(FShared, Row, Record);
    TFileSetup* Own = Setup.get();
    const int Index = FConverter.AddJob(Path, Name, std::move(Setup));
    if (Index < 0) {
        FReason = FConverter.LastError;
        return baNotOpened;
    }
    // Read only when the job starts, after the converter's Start.
    Own->Job = Index;
    FNames.insert(std::hash<std::string>()(Name));
    FJobs.push_back({Row, Index, Path, Name});
    return baAdded;
}

TBatchAddResult TBatchBuilder::Refusal(int AJob, std::string* AReason) const {
    std::lock_guard<std::mutex> Guard(FShared->Lock);
    auto It = FShared->Refused.find(AJob);
    if (It == FShared->Refused.end()) return baAdded;
    if (AReason) *AReason = It->second.second;
    return It->second.first;
}
