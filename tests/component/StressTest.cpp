// The run control under random use: two jobs at a time and Pause, Resume,
// Stop, DeleteJob and ClearJobs at random moments, over and over. Every job
// ends once, the run's final event comes once, no thread outlives the
// component, and every output left behind reads to its end.
#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "tests/component/ComponentTestSupport.h"

namespace {

namespace fs = std::filesystem;

int ThreadCount() {
    int Count = 0;
    if (DIR* Tasks = opendir("/proc/self/task")) {
        while (dirent* Entry = readdir(Tasks))
            if (Entry->d_name[0] != '.') ++Count;
        closedir(Tasks);
    }
    return Count;
}

// Reads every packet and decodes every audio and video packet; an empty
// text means the file opened and read to its end without an error.
std::string ReadToEnd(const std::string& Path) {
    AVFormatContext* Context = nullptr;
    if (av::avformat_open_input(&Context, Path.c_str(), nullptr, nullptr) < 0) return "does not open";
    std::string Problem;
    if (av::avformat_find_stream_info(Context, nullptr) < 0) Problem = "has no stream information";
    std::vector<AVCodecContext*> Decoders(Context->nb_streams, nullptr);
    for (unsigned I = 0; I < Context->nb_streams && Problem.empty(); ++I) {
        const AVCodecParameters* Par = Context->streams[I]->codecpar;
        const AVCodec* Codec = av::avcodec_find_decoder(Par->codec_id);
        if (!Codec) continue;
        Decoders[I] = av::avcodec_alloc_context3(Codec);
        av::avcodec_parameters_to_context(Decoders[I], Par);
        if (av::avcodec_open2(Decoders[I], Codec, nullptr) < 0) Problem = "has a stream that cannot be decoded";
    }
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    int Result = 0;
    while (Problem.empty() && (Result = av::av_read_frame(Context, Packet)) >= 0) {
        AVCodecContext* Decoder = Decoders[Packet->stream_index];
        if (Decoder && av::avcodec_send_packet(Decoder, Packet) < 0)
            Problem = "has a packet that does not decode";
        while (Decoder && av::avcodec_receive_frame(Decoder, Frame) >= 0) {
        }
        av::av_packet_unref(Packet);
    }
    if (Problem.empty() && Result != AVERROR_EOF) Problem = "ends in a read error";
    for (AVCodecContext*& Decoder : Decoders)
        if (Decoder) av::avcodec_free_context(&Decoder);
    av::av_frame_free(&Frame);
    av::av_packet_free(&Packet);
    av::avformat_close_input(&Context);
    return Problem;
}

// What one run reported, by output file: the indexes renumber when jobs
// are deleted, the file names do not.
struct TRunRecord {
    std::mutex Lock;
    std::condition_variable Changed;
    std::map<std::string, int> Ends;
    int Finals = 0;
    int Finished = 0, Stopped = 0;  // jobs that ended at their end or before it

    bool WaitForFinal(int Seconds) {
        std::unique_lock<std::mutex> Guard(Lock);
        return Changed.wait_for(Guard, std::chrono::seconds(Seconds), [&] { return Finals > 0; });
    }
};

class StressTest : public ComponentTest {
protected:
    enum TAction { acPause, acResume, acStop, acDeleteJob, acClearJobs };

    // Three jobs, two at a time: a copy of a long small-picture file, a
    // re-encode of a short clip to tiny pictures that waits as names alone
    // and is built when it starts, a copy of a clip.
    void AddJobs(TVxAVConverter& C, const fs::path& Folder) {
        struct TJob {
            const char* Input;
            bool Copy;
        };
        for (TJob Job : {TJob{"long35.avi", true}, TJob{"short.avi", false}, TJob{"clip.avi", true}}) {
            if (!Job.Copy) {
                struct TTiny : TJobSetup {
                    void SetUp(TAVProbe&, TInputOptions&, TOutputOptions& AOutput) override {
                        AOutput.FrameSize = "64x48";
                    }
                };
                const std::string Output = (Folder / ("out" + std::to_string(C.JobCount()) + ".avi")).string();
                ASSERT_GE(C.AddJob(MediaPath(Job.Input), Output, std::make_unique<TTiny>()), 0) << C.LastError;
                continue;
            }
            int Index = C.AddInputFile(MediaPath(Job.Input), nullptr);
            ASSERT_GE(Index, 0) << C.LastError;
            TOutputOptions Options;
            if (Job.Copy) {
                Options.VideoCodec = "copy";
                Options.AudioCodec = "copy";
            } else {
                Options.FrameSize = "64x48";
            }
            std::string Output = (Folder / ("out" + std::to_string(Index) + ".avi")).string();
            ASSERT_TRUE(C.SetOutputFile(Index, Output, &Options)) << C.LastError;
        }
    }

    // What one random sequence did and saw.
    struct TSequence {
        std::string Taken;  // the actions, for the trace
        bool Cleared = false;
        bool Ended = false;  // the final event came while the test waited
        int Finals = 0;
        std::map<std::string, int> Ends;
        std::set<std::string> Left;  // jobs still listed at the end
        int Finished = 0, Stopped = 0;
    };

    // How long the jobs take untouched, in ms: the median of three runs.
    int UntouchedRunTime(const fs::path& Folder) {
        std::vector<int> Times;
        for (int Run = 0; Run < 3; ++Run) {
            fs::path RunFolder = Folder / ("untouched" + std::to_string(Run));
            fs::create_directories(RunFolder);
            TRunRecord Record;
            TVxAVConverter C;
            C.OnTerminate = [&](int AIndex, bool, bool, const std::string&) {
                std::lock_guard<std::mutex> Guard(Record.Lock);
                if (AIndex < 0) ++Record.Finals;
                Record.Changed.notify_all();
            };
            AddJobs(C, RunFolder);
            if (::testing::Test::HasFatalFailure()) return 0;
            auto Start = Clock::now();
            C.Start(2);
            EXPECT_TRUE(Record.WaitForFinal(120));
            Times.push_back(static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start).count()));
        }
        std::sort(Times.begin(), Times.end());
        return Times[1];
    }

    // The actions come at random moments up to MaxGap ms apart.
    TSequence RunSequence(std::mt19937& Random, const fs::path& Folder, int MaxGap) {
        TRunRecord Record;
        TSequence Seen;
        {
            TVxAVConverter C;
            C.SetProgressInterval(100);
            C.OnTerminate = [&](int AIndex, bool AFinished, bool, const std::string&) {
                // Raised under the component's lock, which GetOutputOptions takes again.
                TOutputOptions Options;
                if (AIndex >= 0) C.GetOutputOptions(AIndex, Options);
                const std::string Name = Options.FileName;
                std::lock_guard<std::mutex> Guard(Record.Lock);
                if (AIndex < 0) {
                    ++Record.Finals;
                } else {
                    ++Record.Ends[Name];
                    ++(AFinished ? Record.Finished : Record.Stopped);
                }
                Record.Changed.notify_all();
            };
            AddJobs(C, Folder);
            if (::testing::Test::HasFatalFailure()) return Seen;
            C.Start(2);

            int Count = std::uniform_int_distribution<int>(1, 5)(Random);
            for (int I = 0; I < Count; ++I) {
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(std::uniform_int_distribution<int>(0, MaxGap)(Random)));
                switch (static_cast<TAction>(std::uniform_int_distribution<int>(acPause, acClearJobs)(Random))) {
                    case acPause:
                        Seen.Taken += " Pause";
                        C.Pause();
                        break;
                    case acResume:
                        Seen.Taken += " Resume";
                        C.Resume();
                        break;
                    case acStop:
                        Seen.Taken += " Stop";
                        C.Stop();
                        break;
                    case acDeleteJob:
                        if (int Jobs = C.JobCount(); Jobs > 0) {
                            int Index = std::uniform_int_distribution<int>(0, Jobs - 1)(Random);
                            Seen.Taken += " DeleteJob(" + std::to_string(Index) + ")";
                            C.DeleteJob(Index);
                        }
                        break;
                    case acClearJobs:
                        Seen.Taken += " ClearJobs";
                        Seen.Cleared = true;
                        C.ClearJobs();
                        break;
                }
            }
            // A paused job never ends on its own.
            C.Resume();
            Seen.Ended = Seen.Cleared || Record.WaitForFinal(120);
            for (int I = 0; I < C.JobCount(); ++I) {
                TOutputOptions Options;
                C.GetOutputOptions(I, Options);
                Seen.Left.insert(Options.FileName);
            }
        }
        std::lock_guard<std::mutex> Guard(Record.Lock);
        Seen.Finals = Record.Finals;
        Seen.Ends = Record.Ends;
        Seen.Finished = Record.Finished;
        Seen.Stopped = Record.Stopped;
        return Seen;
    }
};

}  // namespace

TEST_F(StressTest, RandomRunControlEndsEveryJobOnceAndLeavesNothingBroken) {
    std::mt19937 Random(15);
    // ThreadSanitizer starts a thread of its own with the first thread.
    std::thread([] {}).join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int Threads = ThreadCount();
    fs::path Root = ScratchFolder("StressTest");
    // The gaps follow this machine's speed, so that the actions fall both
    // inside the jobs and after their end whether the build is fast or slow.
    const int RunTime = UntouchedRunTime(Root);
    ASSERT_FALSE(HasFatalFailure());
    const int MaxGap = std::max(2, RunTime / 2);
    int Finished = 0, Stopped = 0;
    for (int Sequence = 0; Sequence < 200; ++Sequence) {
        fs::path Folder = Root / std::to_string(Sequence);
        fs::create_directories(Folder);
        TSequence Seen = RunSequence(Random, Folder, MaxGap);
        Finished += Seen.Finished;
        Stopped += Seen.Stopped;
        SCOPED_TRACE("sequence " + std::to_string(Sequence) + ":" + Seen.Taken);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_TRUE(Seen.Ended) << "the run never ended";
        // ClearJobs ends a run without its final event.
        if (!Seen.Cleared) {
            EXPECT_EQ(Seen.Finals, 1);
        }
        EXPECT_LE(Seen.Finals, 1);
        for (const auto& [Name, Ends] : Seen.Ends) EXPECT_EQ(Ends, 1) << Name;
        // The jobs still listed when the run ended have all ended.
        for (const std::string& Name : Seen.Left) EXPECT_EQ(Seen.Ends.count(Name), 1u) << Name << " never ended";

        // The component is gone: its threads go with it.
        auto End = Clock::now() + std::chrono::seconds(10);
        while (ThreadCount() > Threads && Clock::now() < End)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(ThreadCount(), Threads);

        for (const auto& File : fs::directory_iterator(Folder))
            EXPECT_EQ(ReadToEnd(File.path().string()), "") << File.path();
        fs::remove_all(Folder);
        if (HasFailure()) return;
    }
    // The random moments fall both inside the jobs and after their end.
    std::printf("untouched run %d ms; jobs that ended: %d at their end, %d stopped before it\n", RunTime, Finished,
                Stopped);
    EXPECT_GT(Finished, 20);
    EXPECT_GT(Stopped, 20);
}
