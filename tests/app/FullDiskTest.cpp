// Outputs that cannot be written, through the built tarnconv: a file system
// that fills up during a batch, and an output folder that takes no files.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "tests/TestMedia.h"
#include "tests/app/TarnconvSupport.h"

namespace fs = std::filesystem;

namespace {

using namespace tarnconv_test;

// A small tmpfs over a folder while it lives, where the machine lets the
// tests mount one.
class TMount {
public:
    TMount(const fs::path& Folder, const char* Options, unsigned long Flags = 0) : FFolder(Folder) {
        FMounted = mount("tmpfs", Folder.c_str(), "tmpfs", Flags | MS_NOSUID | MS_NODEV, Options) == 0;
    }
    ~TMount() {
        if (FMounted) umount2(FFolder.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return FMounted; }

private:
    fs::path FFolder;
    bool FMounted = false;
};

// tarnconv with a limit on the size of the files it writes; the limit's
// signal is ignored, so that a write over it fails as on a full disk.
int RunWithFileSizeLimit(rlim_t Bytes, const fs::path& Folder, std::vector<std::string> Arguments,
                         std::string& Out, std::string& Err) {
    fs::path OutFile = Folder / "limited.out", ErrFile = Folder / "limited.err";
    Arguments.insert(Arguments.begin(), TARNCONV_PATH);
    std::vector<char*> Argv;
    for (std::string& A : Arguments) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Child = fork();
    if (Child == 0) {
        // Only calls that are safe between fork and exec.
        rlimit Limit{Bytes, Bytes};
        setrlimit(RLIMIT_FSIZE, &Limit);
        signal(SIGXFSZ, SIG_IGN);
        int O = open(OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int E = open(ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(O, 1);
        dup2(E, 2);
        execv(TARNCONV_PATH, Argv.data());
        _exit(127);
    }
    int Status = 0;
    if (Child < 0 || waitpid(Child, &Status, 0) != Child) return -1;
    Out = ReadFile(OutFile);
    Err = ReadFile(ErrFile);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class FullDisk : public TTarnconvTest {
protected:
    void SetUp() override {
        TTarnconvTest::SetUp();
        Output = Folder / "out";
        fs::create_directories(Output);
    }

    // Profile 17 (AVI, 640x480): the 3-second clip makes about 260 KB, the
    // 0.8-second one about 50 KB.
    std::vector<std::string> Args() {
        return {"--settings", Settings, "--log-level", "error", "-q", "-p", "17", "-o", Output.string(),
                MediaPath("clip.mp4"), MediaPath("short.avi")};
    }

    fs::path Output;
};

}  // namespace

TEST_F(FullDisk, AFullFileSystemFailsThatFileClearlyRemovesItAndTheBatchGoesOn) {
    std::string Out, Err, Reason;
    int Status;
    {
        TMount Small(Output, "size=128k");
        if (Small.Mounted()) {
            Reason = "No space left on device";
            Status = RunToEnd(Folder, "full", Args(), &Out, &Err);
        } else {
            Reason = "File too large";
            Status = RunWithFileSizeLimit(128 * 1024, Folder, Args(), Out, Err);
        }
        std::printf("the output file system fills up by %s\n",
                    Small.Mounted() ? "a 128 KB tmpfs" : "a 128 KB file-size limit");

        EXPECT_EQ(Status, 1) << Err;
        std::string Big = (Output / "clip_(new).avi").string();
        EXPECT_NE(Err.find("failed: " + MediaPath("clip.mp4") + ": Could not write '" + Big + "': " + Reason +
                           " (the unfinished file is removed)"),
                  std::string::npos)
            << Err;
        // Nothing that looks like a finished file is left; its space went
        // to the next file of the batch, which is whole.
        EXPECT_FALSE(fs::exists(Big));
        std::string Next = (Output / "short_(new).avi").string();
        TScan Scan = ScanFile(Next);
        EXPECT_TRUE(Scan.Opened) << Next;
        EXPECT_EQ(Scan.DecodeErrors, 0);
        EXPECT_EQ(Scan.VideoFrames, 20);
        EXPECT_NE(Out.find("1 of 2 converted, 1 failed"), std::string::npos) << Out;
    }
}

TEST_F(FullDisk, AFolderThatTakesNoFilesIsReportedBeforeAnyConversion) {
    TMount ReadOnly(Output, "size=64k", MS_RDONLY);
    if (!ReadOnly.Mounted()) {
        // Root writes through permissions; only a read-only mount stops it.
        if (geteuid() == 0) GTEST_SKIP() << "no read-only mount here, and permissions do not bind root";
        chmod(Output.c_str(), 0555);
    }
    std::string Out, Err;
    int Status = RunToEnd(Folder, "readonly", Args(), &Out, &Err);
    chmod(Output.c_str(), 0755);

    EXPECT_EQ(Status, 1);
    std::string Reason = ReadOnly.Mounted() ? "Read-only file system" : "Permission denied";
    EXPECT_NE(Err.find("tarnconv: cannot write to output directory " + Output.string() + "/: " + Reason),
              std::string::npos)
        << Err;
    // No job was made: the jobs' lines ("[1/2] a -> b") never came.
    EXPECT_EQ(Out.find("->"), std::string::npos) << Out;
    EXPECT_TRUE(fs::is_empty(Output));
}
