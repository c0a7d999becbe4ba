// Operations whose implementation files have not landed yet. Each fails
// plainly, so a job that reaches one ends with a clear message.
#include "engine/FFmpeg.h"

namespace {
[[noreturn]] void NotBuilt(const char* What) { throw FFMpegException(std::string(What) + " is not built yet"); }
}  // namespace

void TCustomFFmpeg::SetOption(const std::string&, const std::string&) { NotBuilt("SetOption"); }
bool TCustomFFmpeg::SetGenericOption(const std::string&, const std::string&) { return false; }
bool TCustomFFmpeg::SetGenericOption(const std::string&, int) { return false; }
void TCustomFFmpeg::ApplyTarget(const std::string&, const std::string&, const std::string&) { NotBuilt("ApplyTarget"); }
void TCustomFFmpeg::SetInputFormat(const std::string&) { NotBuilt("SetInputFormat"); }
void TCustomFFmpeg::SetOutputFormat(const std::string&) { NotBuilt("SetOutputFormat"); }
void TCustomFFmpeg::SetStartTimeMs(int64_t) { NotBuilt("SetStartTimeMs"); }
void TCustomFFmpeg::SetDurationMs(int64_t) { NotBuilt("SetDurationMs"); }
void TCustomFFmpeg::SetProgramId(int) { NotBuilt("SetProgramId"); }
bool TCustomFFmpeg::OpenInputFile(const std::string&) { ErrorText = "OpenInputFile is not built yet"; return false; }
void TCustomFFmpeg::CheckInputStreamTypes(bool&, bool&, bool&) { NotBuilt("CheckInputStreamTypes"); }
bool TCustomFFmpeg::FindCodec(const std::string&, AVMediaType, bool, AVCodecID&) { return false; }
void TCustomFFmpeg::ApplyOptionNames(void*, void*, int) {}
bool TCustomFFmpeg::OpenOutputFile(const std::string&) { ErrorText = "OpenOutputFile is not built yet"; return false; }
void TCustomFFmpeg::NewVideoStream(AVFormatContext*) { NotBuilt("NewVideoStream"); }
void TCustomFFmpeg::NewAudioStream(AVFormatContext*) { NotBuilt("NewAudioStream"); }
void TCustomFFmpeg::NewSubtitleStream(AVFormatContext*) { NotBuilt("NewSubtitleStream"); }
void TCustomFFmpeg::Transcode() { NotBuilt("The transcode"); }

int AddFrameHook(TFrameHookEntry*&, int, char*[]) { return -1; }
void RunFrameHooks(TFrameHookEntry*, TFrameHookPicture*, int, int, int, int64_t) {}
void ReleaseFrameHooks(TFrameHookEntry*& AHookChain) { AHookChain = nullptr; }
