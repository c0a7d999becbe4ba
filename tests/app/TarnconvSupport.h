// Running the built tarnconv and reading its outputs back, for the tests
// that convert through the real program.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/LibAV.h"
#include "tests/TestMedia.h"

extern char** environ;

namespace tarnconv_test {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& Path) {
    std::ifstream In(Path);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

// A test of the program with a private copy of the shipped settings, so that
// nothing a test does reaches the one beside the program.
class TTarnconvTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError(); }

    void SetUp() override {
        Folder = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        Settings = (Folder / "settings.ini").string();
        fs::copy_file(fs::path(TARNCONV_PATH).parent_path() / "tarnmp4videoconverter.ini", Settings);
    }

    // The arguments that point the program at the private settings.
    std::vector<std::string> Args(std::vector<std::string> More) {
        std::vector<std::string> A = {"--settings", Settings, "--log-level", "error"};
        A.insert(A.end(), More.begin(), More.end());
        return A;
    }

    fs::path Folder;
    std::string Settings;
};

// One run of the program with its output in files of the scratch folder.
class TRun {
public:
    TRun(const fs::path& Folder, const std::string& Name, std::vector<std::string> Arguments)
        : FOut(Folder / (Name + ".out")), FErr(Folder / (Name + ".err")) {
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&Actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&Actions, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        Arguments.insert(Arguments.begin(), TARNCONV_PATH);
        std::vector<char*> Argv;
        for (std::string& A : Arguments) Argv.push_back(A.data());
        Argv.push_back(nullptr);
        if (posix_spawn(&FPid, TARNCONV_PATH, &Actions, nullptr, Argv.data(), environ) != 0) FPid = -1;
        posix_spawn_file_actions_destroy(&Actions);
    }
    ~TRun() {
        if (FPid > 0 && !FDone) {
            kill(FPid, SIGKILL);
            Wait();
        }
    }

    // The exit status; -1 when the program did not exit normally.
    int Wait() {
        if (FPid <= 0) return -1;
        if (!FDone) {
            int Status = 0;
            waitpid(FPid, &Status, 0);
            FDone = true;
            FStatus = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
        }
        return FStatus;
    }
    void Signal(int Number) { kill(FPid, Number); }
    std::string Out() const { return ReadFile(FOut); }
    std::string Err() const { return ReadFile(FErr); }

private:
    fs::path FOut, FErr;
    pid_t FPid = -1;
    bool FDone = false;
    int FStatus = -1;
};

inline int RunToEnd(const fs::path& Folder, const std::string& Name, const std::vector<std::string>& Arguments,
             std::string* Out = nullptr, std::string* Err = nullptr) {
    TRun Run(Folder, Name, Arguments);
    int Status = Run.Wait();
    if (Out) *Out = Run.Out();
    if (Err) *Err = Run.Err();
    return Status;
}

// Every packet of every stream is read and every video packet decoded.
struct TScan {
    bool Opened = false;
    std::map<int, int64_t> EndUs;  // per stream: latest packet end
    int VideoFrames = 0;
    int DecodeErrors = 0;
};

inline TScan ScanFile(const std::string& Path) {
    TScan Result;
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return Result;
    if (av::avformat_find_stream_info(Context, nullptr) < 0) {
        av::avformat_close_input(&Context);
        return Result;
    }
    Result.Opened = true;
    std::map<int, AVCodecContext*> Decoders;
    for (unsigned I = 0; I < Context->nb_streams; ++I) {
        AVCodecParameters* Par = Context->streams[I]->codecpar;
        if (Par->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const AVCodec* Codec = av::avcodec_find_decoder(Par->codec_id);
        AVCodecContext* C = av::avcodec_alloc_context3(Codec);
        av::avcodec_parameters_to_context(C, Par);
        if (av::avcodec_open2(C, Codec, nullptr) < 0) ++Result.DecodeErrors;
        Decoders[static_cast<int>(I)] = C;
    }
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    auto Drain = [&](AVCodecContext* C) {
        while (av::avcodec_receive_frame(C, Frame) == 0) ++Result.VideoFrames;
    };
    while (av::av_read_frame(Context, Packet) >= 0) {
        AVStream* S = Context->streams[Packet->stream_index];
        int64_t Pts = Packet->pts != AV_NOPTS_VALUE ? Packet->pts : Packet->dts;
        if (Pts != AV_NOPTS_VALUE) {
            int64_t End = av::av_rescale_q(Pts + Packet->duration, S->time_base, {1, 1000000});
            int64_t& Slot = Result.EndUs[Packet->stream_index];
            Slot = std::max(Slot, End);
        }
        auto D = Decoders.find(Packet->stream_index);
        if (D != Decoders.end()) {
            if (av::avcodec_send_packet(D->second, Packet) < 0) ++Result.DecodeErrors;
            Drain(D->second);
        }
        av::av_packet_unref(Packet);
    }
    for (auto& [Index, C] : Decoders) {
        av::avcodec_send_packet(C, nullptr);
        Drain(C);
        av::avcodec_free_context(&C);
    }
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    av::avformat_close_input(&Context);
    return Result;
}

}  // namespace tarnconv_test
