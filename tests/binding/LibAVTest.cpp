#include <gtest/gtest.h>

#include <dlfcn.h>

#include <fstream>
#include <thread>

#include "binding/LibAV.h"
#include "tests/TestMedia.h"

namespace {

const LibAVLibrary AllLibraries[] = {LibAVLibrary::Codec, LibAVLibrary::Filter, LibAVLibrary::Format,
                                     LibAVLibrary::Util,  LibAVLibrary::Scale,  LibAVLibrary::Resample};

// A successful load is never undone (the program keeps its libraries for
// life, and unloading them would strand what their initialisers allocated),
// so the cases that need an unloaded process skip when an earlier case of
// the same process has loaded them. CTest runs every case on its own.
class Binding : public ::testing::Test {
protected:

    static void ExpectNothingLoaded() {
        EXPECT_FALSE(LibrariesLoaded());
        for (LibAVLibrary L : AllLibraries) {
            EXPECT_EQ(LibraryHandle(L), nullptr);
            EXPECT_FALSE(LibraryResolved(L));
        }
    }

    static std::string MappedFileOf(const void* Address) {
        Dl_info Info{};
        return dladdr(Address, &Info) && Info.dli_fname ? Info.dli_fname : "";
    }

    static bool ProcessMaps(const std::string& Path) {
        std::ifstream Maps("/proc/self/maps");
        std::string Line;
        while (std::getline(Maps, Line))
            if (Line.find(Path) != std::string::npos) return true;
        return false;
    }
};

class UnloadedBinding : public Binding {
protected:
    void SetUp() override {
        if (LibrariesLoaded()) GTEST_SKIP() << "the libraries are already loaded in this process";
    }
};

}  // namespace

TEST_F(UnloadedBinding, FolderWithoutLibrariesNamesTheFirstOneAndLoadsNothing) {
    auto Folder = ScratchFolder("BindingEmptyFolder");
    EXPECT_FALSE(LoadLibraries(Folder.string(), true));
    std::string Expected = "Load libraray libavcodec.so.59 error: " + (Folder / "libavcodec.so.59").string() +
                           ": cannot open shared object file: No such file or directory";
    EXPECT_EQ(LibrariesError(), Expected);
    EXPECT_EQ(LibraryError(LibAVLibrary::Codec), Expected);
    ExpectNothingLoaded();
}

TEST_F(UnloadedBinding, LibraryLackingAnEntryNamesItAndLoadsNothing) {
    EXPECT_FALSE(LoadLibraries(STUB_FOLDER, true));
    EXPECT_EQ(LibrariesError(), std::string("Load function avcodec_string@libavcodec.so.59 error: ") +
                                    STUB_FOLDER + "/libavcodec.so.59: undefined symbol: avcodec_string");
    ExpectNothingLoaded();
    EXPECT_FALSE(ProcessMaps(STUB_FOLDER));  // released, not only forgotten
}

TEST_F(UnloadedBinding, FailedAttemptIsRetriedFromTheStart) {
    EXPECT_FALSE(LoadLibraries(STUB_FOLDER, true));
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    EXPECT_EQ(LibrariesError(), "");
    EXPECT_TRUE(LibraryResolved(LibAVLibrary::Codec));
}

TEST_F(Binding, LoadsFromTheSystemAndResolvesEveryEntry) {
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    EXPECT_TRUE(LibrariesLoaded());
    EXPECT_EQ(LibrariesError(), "");
    for (LibAVLibrary L : AllLibraries) {
        EXPECT_TRUE(LibraryResolved(L));
        EXPECT_NE(LibraryHandle(L), nullptr);
    }
    EXPECT_EQ(LibraryFileName(LibAVLibrary::Codec), "libavcodec.so.59");
    EXPECT_EQ(LibraryFileName(LibAVLibrary::Resample), "libswresample.so.4");
    // The bound entries are the installed libraries' own.
    EXPECT_EQ(av::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(av::avutil_version() >> 16, unsigned(LIBAVUTIL_VERSION_MAJOR));
    EXPECT_NE(av::avcodec_find_encoder_by_name("mpeg4"), nullptr);
    EXPECT_EQ(AVErrorString(AVERROR(ENOENT)), "No such file or directory");
}

TEST_F(Binding, SecondLoadReturnsAtOnce) {
    ASSERT_TRUE(LoadLibraries("", true));
    void* Codec = LibraryHandle(LibAVLibrary::Codec);
    // Even a folder that holds nothing does not matter any more.
    EXPECT_TRUE(LoadLibraries("/nonexistent", true));
    EXPECT_EQ(LibraryHandle(LibAVLibrary::Codec), Codec);
}

TEST_F(UnloadedBinding, PlainNamesLoadTheDevelopmentLinks) {
    ASSERT_TRUE(LoadLibraries("", false)) << LibrariesError();
    EXPECT_EQ(LibraryFileName(LibAVLibrary::Format), "libavformat.so");
}

TEST_F(UnloadedBinding, FolderCopiesWinOverTheSystemLibraries) {
    auto Folder = ScratchFolder("BindingFolderCopies");
    for (const char* Name : {"libavcodec.so.59", "libavfilter.so.8", "libavformat.so.59", "libavutil.so.57",
                             "libswscale.so.6", "libswresample.so.4"})
        std::filesystem::copy_file(std::filesystem::path(SYSTEM_LIB_FOLDER) / Name, Folder / Name);
    ASSERT_TRUE(LoadLibraries(Folder.string(), true)) << LibrariesError();
    EXPECT_EQ(MappedFileOf(reinterpret_cast<void*>(av::avcodec_version)), (Folder / "libavcodec.so.59").string());
    EXPECT_EQ(MappedFileOf(reinterpret_cast<void*>(av::av_log)), (Folder / "libavutil.so.57").string());
    // The codec library's own dependency on the utility library went to the
    // folder's copy too: the system's copy was never mapped.
    EXPECT_FALSE(ProcessMaps(std::string(SYSTEM_LIB_FOLDER) + "/libavutil.so.57"));
}

TEST_F(Binding, GeneratedMediaOpenThroughTheBoundEntries) {
    ASSERT_TRUE(LoadLibraries("", true));
    struct Expect {
        const char* Name;
        int Streams;
    };
    for (Expect E : {Expect{"clip.avi", 2}, Expect{"clip.mp4", 2}, Expect{"pal_16x15.mp4", 1},
                     Expect{"tone.mp3", 1}, Expect{"tone.wav", 1}, Expect{"still.png", 1},
                     Expect{"still.jpg", 1}, Expect{"short.avi", 2}, Expect{"jump.mkv", 1},
                     Expect{"truncated.avi", 2}}) {
        SCOPED_TRACE(E.Name);
        AVFormatContext* Context = nullptr;
        ASSERT_EQ(av::avformat_open_input(&Context, MediaPath(E.Name).c_str(), nullptr, nullptr), 0);
        EXPECT_GE(av::avformat_find_stream_info(Context, nullptr), 0);
        EXPECT_EQ(int(Context->nb_streams), E.Streams);
        av::avformat_close_input(&Context);
    }
    for (const char* Bad : {"random.bin", "empty.mp4"}) {
        SCOPED_TRACE(Bad);
        AVFormatContext* Context = nullptr;
        EXPECT_LT(av::avformat_open_input(&Context, MediaPath(Bad).c_str(), nullptr, nullptr), 0);
        EXPECT_EQ(Context, nullptr);
    }
}

// A program that converts a file and ends loads the filter library only when
// a job needs it: the other five work alone, a missing filter library fails
// the jobs that need it with its name, and it loads once from any thread.
TEST_F(UnloadedBinding, FilterLibraryLoadsOnDemandFromTheSameFolder) {
    auto Folder = ScratchFolder("BindingFilterOnDemand");
    for (const char* Name : {"libavcodec.so.59", "libavformat.so.59", "libavutil.so.57", "libswscale.so.6",
                             "libswresample.so.4"})
        std::filesystem::copy_file(std::filesystem::path(SYSTEM_LIB_FOLDER) / Name, Folder / Name);
    ASSERT_TRUE(LoadLibraries(Folder.string(), true, true)) << LibrariesError();
    EXPECT_FALSE(LibraryResolved(LibAVLibrary::Filter));
    EXPECT_FALSE(ProcessMaps("libavfilter.so"));
    EXPECT_NE(av::avformat_version, nullptr);

    auto FromTwoThreads = [] {
        std::string Why[2];
        bool Loaded[2] = {};
        std::thread Other([&] { Loaded[1] = LoadFilterLibrary(&Why[1]); });
        Loaded[0] = LoadFilterLibrary(&Why[0]);
        Other.join();
        EXPECT_EQ(Loaded[0], Loaded[1]);
        return std::pair(Loaded[0], Why[0] + Why[1]);
    };
    auto [Missing, Why] = FromTwoThreads();
    EXPECT_FALSE(Missing);
    EXPECT_NE(Why.find((Folder / "libavfilter.so.8").string()), std::string::npos) << Why;
    EXPECT_EQ(LibraryHandle(LibAVLibrary::Filter), nullptr);

    std::filesystem::copy_file(std::filesystem::path(SYSTEM_LIB_FOLDER) / "libavfilter.so.8",
                               Folder / "libavfilter.so.8");
    auto [Found, None] = FromTwoThreads();
    EXPECT_TRUE(Found);
    EXPECT_EQ(None, "");
    EXPECT_TRUE(LibraryResolved(LibAVLibrary::Filter));
    EXPECT_EQ(MappedFileOf(reinterpret_cast<void*>(av::avfilter_version)), (Folder / "libavfilter.so.8").string());
    EXPECT_FALSE(ProcessMaps(std::string(SYSTEM_LIB_FOLDER) + "/libavfilter.so.8"));
}
