#include "app/Batch.h"

#include <ctime>
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

TBatchBuilder::TBatchBuilder(TVxAVConverter& Converter, TProfileFiles Files, int Profile, std::string Folder,
                             std::string Ext)
    : FConverter(Converter), FFiles(std::move(Files)), FProfile(Profile), FFolder(std::move(Folder)),
      FExt(std::move(Ext)) {
    // What a killed or failed run of any process left in this folder goes
    // now, unless it is still being written.
    RemoveStaleOutputs(FFolder, time(nullptr));
}

TBatchAddResult TBatchBuilder::Add(int Row, const std::string& Path, const TlvFilesRecord& Record) {
    FReason.clear();
    FLastOutput.clear();
    TInputOptions Input;
    TOutputOptions Output;
    InitInputOptions(Input);
    InitOutputOptions(Output);
    Input.FileName = Path;

    TAVProbe& Probe = FConverter.Probe;
    if (!Probe.OpenFile(Path)) {
        FReason = Probe.LastError();
        return baNotOpened;
    }
    // The stream's parameters give the size, aspect and turn that the
    // profile is fitted to. Only a stream whose probing found no size needs
    // its first picture decoded: raw or headerless streams whose parameters
    // come from the decoder alone, and files cut off before a key frame.
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
    Input.ForceFormat = Probe.ForcedFormat();
    if (Record.TrimStart >= 0) Input.StartTime = Record.TrimStart;
    std::string Name = MakeOutputFileNameIn(FFolder, Probe.GetFileName(), FExt,
                                            [&](const std::string& N) { return FNames.count(N) > 0; });
    Output.FileName = Name;
    FLastOutput = Name;
    if (OutputNameTooLong(Name)) {
        Probe.CloseFile();
        FReason = "file name too long";
        return baNotWritable;
    }
    if (Record.CropTop > 0 || Record.CropBottom > 0 || Record.CropLeft > 0 || Record.CropRight > 0) {
        Output.CropTop = Record.CropTop;
        Output.CropBottom = Record.CropBottom;
        Output.CropLeft = Record.CropLeft;
        Output.CropRight = Record.CropRight;
    }
    if (Record.TrimLength > 0) Output.Duration = Record.TrimLength;
    FReason = CopyRefusal(FFiles, FProfile, Record);
    if (!FReason.empty()) {
        Probe.CloseFile();
        return baNotSuitable;
    }
    try {
        BuildOutputOptions(FFiles, Record, FProfile, Output, Probe, Input);
        FReason = UnsuitableReason(Output, Probe);
        if (FReason.empty() && OnRow) OnRow(Row, Probe, Input, Output);
    } catch (const EFitSizeError& E) {
        // The file's own length or sound cannot meet the size: this file
        // is refused, the batch goes on.
        FReason = E.what();
    } catch (...) {
        Probe.CloseFile();
        throw;
    }
    Probe.CloseFile();
    if (!FReason.empty()) return baNotSuitable;

    int Index = FConverter.AddInputFile(Input.FileName, &Input);
    if (Index < 0) {
        FReason = FConverter.LastError;
        return baNotOpened;
    }
    if (!FConverter.SetOutputFile(Index, Name, &Output)) {
        FReason = FConverter.LastError;
        FConverter.DeleteJob(Index);
        return baNotWritable;
    }
    FNames.insert(Name);
    FJobs.push_back({Row, Index, Path, Name});
    return baAdded;
}
