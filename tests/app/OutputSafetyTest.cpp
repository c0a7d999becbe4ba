// Outputs are never written over, never look finished before they are, and
// survive two runs at once, a kill and the signals that end a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "app/FilesRecord.h"
#include "binding/LibAV.h"
#include "component/VxAVConverter.h"
#include "probe/AVProbe.h"
#include "tests/TestMedia.h"
#include "tests/app/TarnconvSupport.h"

namespace fs = std::filesystem;

namespace {

using namespace tarnconv_test;

using TarnconvOutputs = TTarnconvTest;

std::string Slurp(const fs::path& Path) {
    std::ifstream In(Path);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

bool IsHiddenTemp(const fs::path& Path) {
    const std::string Name = Path.filename().string();
    return Name.size() > 6 && Name[0] == '.' && Name.substr(Name.size() - 5) == ".part";
}

std::vector<fs::path> Entries(const fs::path& Folder, bool Hidden) {
    std::vector<fs::path> Found;
    if (!fs::exists(Folder)) return Found;
    for (const auto& Entry : fs::directory_iterator(Folder))
        if (IsHiddenTemp(Entry.path()) == Hidden) Found.push_back(Entry.path());
    return Found;
}

// Waits until the run's hidden output has grown past Bytes.
bool WaitForTemp(const fs::path& Folder, uintmax_t Bytes) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < Deadline) {
        for (const fs::path& P : Entries(Folder, true)) {
            std::error_code Error;
            if (fs::file_size(P, Error) > Bytes && !Error) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The latest packet end of the file's streams, read and decoded to the end.
int64_t DecodedEndUs(const fs::path& Path) {
    TScan Scan = ScanFile(Path.string());
    if (!Scan.Opened || Scan.DecodeErrors) return -1;
    int64_t End = 0;
    for (const auto& [Stream, Us] : Scan.EndUs) End = std::max(End, Us);
    return End;
}

// Every file of the source's length; decoding it fully proves its index
// and trailer are there.
void ExpectComplete(const fs::path& Path, int64_t SourceEndUs) {
    SCOPED_TRACE(Path.string());
    ASSERT_TRUE(fs::exists(Path));
    EXPECT_GT(fs::file_size(Path), 0u);
    EXPECT_NEAR(static_cast<double>(DecodedEndUs(Path)), static_cast<double>(SourceEndUs), 120000.0);
}

TEST_F(TarnconvOutputs, AnyEntryUnderTheNameMakesItTakenAndIsLeftAlone) {
    struct TRow {
        const char* Kind;
        std::function<void(const fs::path& Name)> Make;
        std::function<void(const fs::path& Name)> Unchanged;
    };
    const fs::path Target = Folder / "target.txt";
    const fs::path Gone = Folder / "gone" / "nothing.wav";
    auto Lstat = [](const fs::path& P) {
        struct stat Info {};
        EXPECT_EQ(lstat(P.c_str(), &Info), 0) << P;
        return Info.st_mode;
    };
    const std::vector<TRow> Rows = {
        {"regular file", [](const fs::path& N) { std::ofstream(N) << "old"; },
         [&](const fs::path& N) { EXPECT_EQ(Slurp(N), "old"); }},
        {"dangling symlink", [&](const fs::path& N) { fs::create_symlink(Gone, N); },
         [&](const fs::path& N) {
             EXPECT_TRUE(S_ISLNK(Lstat(N)));
             EXPECT_FALSE(fs::exists(Gone.parent_path()));
         }},
        {"symlink to a file",
         [&](const fs::path& N) {
             std::ofstream(Target) << "keep";
             fs::create_symlink(Target, N);
         },
         [&](const fs::path& N) {
             EXPECT_TRUE(S_ISLNK(Lstat(N)));
             EXPECT_EQ(Slurp(Target), "keep");
         }},
        {"FIFO", [](const fs::path& N) { ASSERT_EQ(mkfifo(N.c_str(), 0600), 0); },
         [&](const fs::path& N) { EXPECT_TRUE(S_ISFIFO(Lstat(N))); }},
        {"folder", [](const fs::path& N) { fs::create_directory(N); },
         [](const fs::path& N) {
             EXPECT_TRUE(fs::is_directory(N));
             EXPECT_TRUE(fs::is_empty(N));
         }},
        {"character device through a symlink", [](const fs::path& N) { fs::create_symlink("/dev/null", N); },
         [&](const fs::path& N) {
             EXPECT_TRUE(S_ISLNK(Lstat(N)));
             EXPECT_EQ(fs::read_symlink(N), "/dev/null");
         }},
    };
    const int64_t SourceEnd = DecodedEndUs(MediaPath("short.avi"));
    ASSERT_GT(SourceEnd, 0);
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Kind);
        fs::path Out = Folder / "out";
        fs::remove_all(Out);
        fs::remove(Target);
        fs::create_directories(Out);

        // Present when the name is chosen.
        Row.Make(Out / "short_(new).wav");
        EXPECT_EQ(MakeOutputFileNameIn(Out.string() + "/", MediaPath("short.avi"), ".wav"),
                  (Out / "short_(new_1).wav").string());

        // Appearing after it was chosen, while the file is written.
        TVxAVConverter Converter;
        Converter.SetLogLevel(llQuiet);
        std::mutex Lock;
        std::condition_variable Changed;
        bool Ended = false, Failed = false;
        Converter.OnTerminate = [&](int AIndex, bool, bool AException, const std::string&) {
            std::lock_guard<std::mutex> Guard(Lock);
            Failed |= AException;
            Ended |= AIndex < 0;
            Changed.notify_all();
        };
        const fs::path Late = Out / "late_(new).wav";
        ASSERT_EQ(Converter.AddInputFile(MediaPath("short.avi"), nullptr), 0) << Converter.LastError;
        ASSERT_TRUE(Converter.SetOutputFile(0, Late.string(), nullptr)) << Converter.LastError;
        Row.Make(Late);
        Converter.Start(1);
        {
            std::unique_lock<std::mutex> Guard(Lock);
            ASSERT_TRUE(Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return Ended; }));
        }
        EXPECT_FALSE(Failed);
        TOutputOptions Options;
        Converter.GetOutputOptions(0, Options);
        EXPECT_EQ(Options.FileName, (Out / "late_(new_1).wav").string());
        ExpectComplete(Out / "late_(new_1).wav", SourceEnd);
        Row.Unchanged(Out / "short_(new).wav");
        Row.Unchanged(Late);
        EXPECT_TRUE(Entries(Out, true).empty());
    }
}

TEST_F(TarnconvOutputs, TwoRunsIntoOneFolderAtOnceBothKeepTheirFiles) {
    const int64_t SourceEnd = DecodedEndUs(MediaPath("short.avi"));
    ASSERT_GT(SourceEnd, 0);
    for (int Round = 0; Round < 20; ++Round) {
        SCOPED_TRACE(Round);
        fs::path Out = Folder / ("round" + std::to_string(Round));
        std::vector<std::string> A = Args({"-p", "34", "-o", Out.string(), MediaPath("short.avi")});
        TRun First(Folder, "first", A), Second(Folder, "second", A);
        EXPECT_EQ(First.Wait(), 0) << First.Err();
        EXPECT_EQ(Second.Wait(), 0) << Second.Err();
        std::set<std::string> Named;
        for (const TRun* Run : {&First, &Second}) {
            std::string Out = Run->Out();
            size_t At = Out.find("] done: ");
            ASSERT_NE(At, std::string::npos) << Out;
            Named.insert(Out.substr(At + 8, Out.find('\n', At) - At - 8));
        }
        EXPECT_EQ(Named, (std::set<std::string>{(Out / "short_(new).mp3").string(),
                                                (Out / "short_(new_1).mp3").string()}));
        std::vector<fs::path> Files = Entries(Out, false);
        EXPECT_EQ(Files.size(), 2u);
        for (const fs::path& F : Files) ExpectComplete(F, SourceEnd);
        EXPECT_TRUE(Entries(Out, true).empty());
    }
}

TEST_F(TarnconvOutputs, KilledRunLeavesOnlyItsHiddenFileWhichTheNextRunRemoves) {
    fs::path Out = Folder / "out";
    {
        TRun Run(Folder, "killed", Args({"-p", "26", "-o", Out.string(), "--threads", "1", MediaPath("long35.avi")}));
        ASSERT_TRUE(WaitForTemp(Out, 30000));
        Run.Signal(SIGKILL);
        EXPECT_EQ(Run.Wait(), -1);
    }
    // Nothing under a final name, and no empty file.
    EXPECT_TRUE(Entries(Out, false).empty());
    std::vector<fs::path> Left = Entries(Out, true);
    ASSERT_EQ(Left.size(), 1u);
    EXPECT_GT(fs::file_size(Left[0]), 0u);

    // The next run in that folder, started after it, clears it away.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::string Stdout, Stderr;
    EXPECT_EQ(RunToEnd(Folder, "next", Args({"-p", "34", "-o", Out.string(), MediaPath("short.avi")}), &Stdout,
                       &Stderr),
              0)
        << Stderr;
    EXPECT_FALSE(fs::exists(Left[0]));
    EXPECT_TRUE(Entries(Out, true).empty());
    ExpectComplete(Out / "short_(new).mp3", DecodedEndUs(MediaPath("short.avi")));
}

TEST_F(TarnconvOutputs, InterruptingSignalsLeaveAPlayableFileUnderItsName) {
    for (int Signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(Signal));
        fs::path Out = Folder / ("out" + std::to_string(Signal));
        // 35 s at 1920x1080 on one thread takes long enough to be interrupted.
        TRun Run(Folder, "interrupted", Args({"-p", "26", "-o", Out.string(), "--threads", "1", MediaPath("long35.avi")}));
        ASSERT_TRUE(WaitForTemp(Out, 30000));
        Run.Signal(Signal);
        EXPECT_EQ(Run.Wait(), 130) << Run.Err();
        const fs::path Output = Out / "long35_(new).mp4";
        EXPECT_NE(Run.Out().find("stopped: " + Output.string()), std::string::npos) << Run.Out();
        EXPECT_TRUE(Entries(Out, true).empty());

        TAVProbe Probe;
        ASSERT_TRUE(Probe.OpenFile(Output.string())) << Probe.LastError();
        TAVFileInfo Info;
        Probe.GetFileInfo(Info);
        EXPECT_GT(Info.Duration, 0);
        EXPECT_LT(Info.Duration, 34000000);
        double Rate = av_q2d(Probe.Context()->streams[Probe.FirstVideoStream()]->r_frame_rate);
        Probe.CloseFile();
        TScan Scan = ScanFile(Output.string());
        ASSERT_TRUE(Scan.Opened);
        EXPECT_EQ(Scan.DecodeErrors, 0);
        // Every frame the file announces decodes.
        EXPECT_NEAR(Scan.VideoFrames / Rate, Info.Duration / 1e6, 0.1);
    }
}

}  // namespace

namespace {

// The numbers of a summary line "0 of 200 converted, 3 stopped, 197 not
// converted" after "of": the total, and the sum of the parts.
std::pair<int, int> SummaryCounts(const std::string& Out) {
    std::smatch Line;
    if (!std::regex_search(Out, Line, std::regex(R"((\d+) of (\d+) converted([^\n]*))"))) return {-1, -1};
    int Sum = std::stoi(Line[1]);
    std::string Rest = Line[3];
    const std::regex Part(R"(, (\d+) )");
    for (std::sregex_iterator It(Rest.begin(), Rest.end(), Part), End; It != End; ++It)
        Sum += std::stoi((*It)[1]);
    return {std::stoi(Line[2]), Sum};
}

TEST_F(TarnconvOutputs, AfterCtrlCTheSummaryCountsEveryFileAndNamesNoMissingOne) {
    struct TRow {
        const char* Name;
        std::vector<std::string> Files;
        std::function<bool(const TRun&, const fs::path&)> Ready;  // when Ctrl-C comes
        std::function<void(const std::string& Out, const fs::path& Folder)> Check;
    };
    // Ctrl-C as soon as the program has begun: while two hundred files are
    // queued, or as the first starts; either way every file is counted.
    std::vector<std::string> Many;
    for (int I = 0; I < 200; ++I) {
        fs::path Link = Folder / ("many" + std::to_string(I) + ".avi");
        fs::create_hard_link(MediaPath("short.avi"), Link);
        Many.push_back(Link.string());
    }
    const std::vector<TRow> Rows = {
        {"at once", Many,
         [](const TRun& Run, const fs::path&) { return Run.Out().find("Profile") != std::string::npos; },
         [](const std::string& Out, const fs::path& Folder) {
             EXPECT_NE(Out.find(" not converted"), std::string::npos);
             EXPECT_EQ(SummaryCounts(Out), std::make_pair(200, 200));
             // A file the first job completed on its stop is the one named.
             for (const fs::path& Kept : Entries(Folder, false))
                 EXPECT_NE(Out.find("stopped: " + Kept.string()), std::string::npos) << Kept;
         }},
        {"with a file still queued", {MediaPath("long35.avi"), MediaPath("short.avi")},
         [](const TRun&, const fs::path& Folder) { return WaitForTemp(Folder, 30000); },
         [](const std::string& Out, const fs::path& Folder) {
             const fs::path Stopped = Folder / "long35_(new).mp4", Never = Folder / "short_(new).mp4";
             EXPECT_NE(Out.find("[1/2] stopped: " + Stopped.string()), std::string::npos);
             EXPECT_TRUE(fs::exists(Stopped));
             // The queued file is named only where the plan is listed.
             EXPECT_NE(Out.find("[2/2] stopped before anything was written: " + MediaPath("short.avi")),
                       std::string::npos);
             EXPECT_EQ(Out.find(Never.string()), Out.rfind(Never.string()));
             EXPECT_FALSE(fs::exists(Never));
             EXPECT_NE(Out.find("0 of 2 converted, 1 stopped, 1 not converted"), std::string::npos);
         }},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        fs::path Out = Folder / "out";
        fs::remove_all(Out);
        std::vector<std::string> A = Args({"-p", "26", "-o", Out.string(), "--threads", "1"});
        A.insert(A.end(), Row.Files.begin(), Row.Files.end());
        TRun Run(Folder, "summary", A);
        auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!Row.Ready(Run, Out) && std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Run.Signal(SIGINT);
        EXPECT_EQ(Run.Wait(), 130) << Run.Err();
        std::string Stdout = Run.Out();
        SCOPED_TRACE(Stdout);
        Row.Check(Stdout, Out);
        EXPECT_TRUE(Entries(Out, true).empty());
    }
}

}  // namespace

namespace {

// A WAV file written byte by byte: 0.1 s of a 8 kHz mono tone, 16 bits.
void WriteTinyWav(const fs::path& Path) {
    const uint32_t Rate = 8000, Samples = 800;
    std::string Data;
    for (uint32_t I = 0; I < Samples; ++I) {
        int16_t V = static_cast<int16_t>((I % 16 < 8) ? 8000 : -8000);
        Data.append(reinterpret_cast<const char*>(&V), 2);
    }
    auto U32 = [](uint32_t V) { return std::string(reinterpret_cast<const char*>(&V), 4); };
    auto U16 = [](uint16_t V) { return std::string(reinterpret_cast<const char*>(&V), 2); };
    std::ofstream Out(Path, std::ios::binary);
    Out << "RIFF" << U32(36 + static_cast<uint32_t>(Data.size())) << "WAVE" << "fmt " << U32(16) << U16(1) << U16(1)
        << U32(Rate) << U32(Rate * 2) << U16(2) << U16(16) << "data" << U32(static_cast<uint32_t>(Data.size()))
        << Data;
}

// Runs tarnconv with its open files limited to Limit; the exit status.
int RunWithOpenFileLimit(rlim_t Limit, const fs::path& Folder, std::vector<std::string> Arguments) {
    const std::string OutName = (Folder / "limited.out").string(), ErrName = (Folder / "limited.err").string();
    Arguments.insert(Arguments.begin(), TARNCONV_PATH);
    std::vector<char*> Argv;
    for (std::string& A : Arguments) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Child = fork();
    if (Child == 0) {
        rlimit Files{Limit, Limit};
        setrlimit(RLIMIT_NOFILE, &Files);
        int Out = open(OutName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int Err = open(ErrName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(Out, 1);
        dup2(Err, 2);
        close(Out);
        close(Err);
        execv(TARNCONV_PATH, Argv.data());
        _exit(127);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TEST_F(TarnconvOutputs, TwoThousandFilesConvertWithinAnOpenFileLimitOf256) {
    const fs::path Sources = Folder / "sources", Out = Folder / "out";
    fs::create_directories(Sources);
    WriteTinyWav(Sources / "tone.wav");
    std::vector<std::string> Files;
    for (int I = 0; I < 2000; ++I) {
        fs::path Link = Sources / ("t" + std::to_string(I) + ".wav");
        if (I > 0) fs::create_hard_link(Sources / "tone.wav", Link);
        else Link = Sources / "tone.wav";
        Files.push_back(Link.string());
    }
    std::vector<std::string> A = Args({"-q", "-p", "34", "-o", Out.string()});
    A.insert(A.end(), Files.begin(), Files.end());
    EXPECT_EQ(RunWithOpenFileLimit(256, Folder, A), 0) << Slurp(Folder / "limited.err").substr(0, 2000);
    EXPECT_NE(Slurp(Folder / "limited.out").find("2000 of 2000 converted"), std::string::npos);
    std::vector<fs::path> Written = Entries(Out, false);
    EXPECT_EQ(Written.size(), 2000u);
    EXPECT_TRUE(Entries(Out, true).empty());
    // Each is a whole file: a sample of them decodes to the source's end.
    for (size_t I = 0; I < Written.size(); I += 250) {
        SCOPED_TRACE(Written[I].string());
        EXPECT_GE(DecodedEndUs(Written[I]), 90000);
    }
}

}  // namespace
