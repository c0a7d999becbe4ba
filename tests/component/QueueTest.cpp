// Jobs that wait as names (AddJob): a long queue holds no engine and no open
// file, a run never holds more engines than it has jobs running, and a job
// refused as it starts ends alone while the batch goes on.
#include <dirent.h>

#include <filesystem>
#include <map>

#include "tests/component/ComponentTestSupport.h"

namespace {

namespace fs = std::filesystem;

int OpenFiles() {
    int Count = -1;  // the folder's own handle
    if (DIR* Dir = opendir("/proc/self/fd")) {
        while (dirent* Entry = readdir(Dir))
            if (Entry->d_name[0] != '.') ++Count;
        closedir(Dir);
    }
    return Count;
}

// Refuses one job by name; the others keep the records as they come.
struct TRefuseOne : TJobSetup {
    explicit TRefuseOne(bool ARefuse) : Refuse(ARefuse) {}
    void SetUp(TAVProbe&, TInputOptions&, TOutputOptions&) override {
        if (Refuse) throw std::runtime_error("refused by its setup");
    }
    bool Refuse;
};

}  // namespace

TEST_F(ComponentTest, QueuedJobsHoldNoEngineUntilTheyStartAndGiveItBackAtTheirEnd) {
    const fs::path Folder = ScratchFolder("QueueTest");
    const int Count = 200, Refused = 7, Missing = 11;
    ConverterEvents Events;
    TVxAVConverter C;
    const int FilesBefore = OpenFiles();
    std::vector<std::string> Outputs;
    for (int I = 0; I < Count; ++I) {
        const fs::path Input = Folder / ("in" + std::to_string(I) + ".wav");
        if (I != Missing) fs::create_hard_link(MediaPath("tone.wav"), Input);
        Outputs.push_back((Folder / ("out" + std::to_string(I) + ".wav")).string());
        ASSERT_EQ(C.AddJob(Input.string(), Outputs.back(), std::make_unique<TRefuseOne>(I == Refused)), I);
    }
    EXPECT_EQ(C.EngineCount(), 0);
    EXPECT_EQ(OpenFiles(), FilesBefore);
    TOutputOptions Planned;
    C.GetOutputOptions(5, Planned);
    EXPECT_EQ(Planned.FileName, Outputs[5]);
    EXPECT_THROW(C.Job(5), std::logic_error);

    // Sampled in every event, under the component's lock.
    std::mutex Lock;
    int MostEngines = 0, MostRunning = 0, MostFiles = 0, TooMany = 0;
    auto Sample = [&] {
        int Running = 0;
        for (int K = 0; K < C.JobCount(); ++K) Running += C.JobRunning(K);
        const int Engines = C.EngineCount(), Files = OpenFiles();
        std::lock_guard<std::mutex> Guard(Lock);
        TooMany += Engines > Running;
        MostEngines = std::max(MostEngines, Engines);
        MostRunning = std::max(MostRunning, Running);
        MostFiles = std::max(MostFiles, Files);
    };
    Events.Attach(C);
    auto Record = C.OnTerminate;
    C.OnTerminate = [&](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
        Sample();
        Record(AIndex, AFinished, AException, AMessage);
    };
    auto Progress = C.OnProgress;
    C.OnProgress = [&](int AIndex, int AFrame, int AFps, int ACurrent, float AQuality, float ABitRate,
                       int64_t ASize, int ATotal) {
        Sample();
        Progress(AIndex, AFrame, AFps, ACurrent, AQuality, ABitRate, ASize, ATotal);
    };
    C.Start(2);
    ASSERT_TRUE(Events.WaitForFinal(120));

    EXPECT_EQ(TooMany, 0);
    EXPECT_EQ(MostRunning, 2);
    EXPECT_LE(MostEngines, 2);
    // Two jobs' inputs and outputs, and the files the libraries keep.
    EXPECT_LE(MostFiles, FilesBefore + 8);
    EXPECT_EQ(C.EngineCount(), 0);

    std::map<int, int> Ends;
    for (const auto& T : Events.Terminations) {
        ++Ends[T.Index];
        if (T.Index == Refused || T.Index == Missing) {
            EXPECT_FALSE(T.Finished) << T.Index;
            EXPECT_TRUE(T.Exception) << T.Index;
        } else if (T.Index >= 0) {
            EXPECT_TRUE(T.Finished && !T.Exception) << T.Index << ": " << T.Message;
        }
    }
    EXPECT_EQ(Ends.size(), size_t(Count + 1));
    for (const auto& [Index, Times] : Ends) EXPECT_EQ(Times, 1) << Index;
    EXPECT_EQ(Events.Terminations.back().Index, -1);
    for (const auto& T : Events.Terminations) {
        if (T.Index == Refused) {
            EXPECT_EQ(T.Message, "refused by its setup");
        } else if (T.Index == Missing) {
            EXPECT_NE(T.Message.find("no such file or directory"), std::string::npos);
        }
    }

    // Every other job wrote its whole file, read back by the libraries.
    for (int I = 0; I < Count; ++I) {
        SCOPED_TRACE(Outputs[I]);
        if (I == Refused || I == Missing) {
            EXPECT_FALSE(fs::exists(Outputs[I]));
            continue;
        }
        if (I % 20 != 0) {
            EXPECT_TRUE(fs::is_regular_file(Outputs[I]));
            continue;
        }
        AVFormatContext* Context = nullptr;
        ASSERT_EQ(av::avformat_open_input(&Context, Outputs[I].c_str(), nullptr, nullptr), 0);
        ASSERT_GE(av::avformat_find_stream_info(Context, nullptr), 0);
        EXPECT_NEAR(Context->duration / double(AV_TIME_BASE), 2.0, 0.05);
        av::avformat_close_input(&Context);
    }
}
