#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/PreviewMath.h"
#include "app/Snapshot.h"
#include "binding/LibAV.h"
#include "common/Bitmap.h"
#include "probe/AVProbe.h"
#include "tests/app/AppTestSupport.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadAll(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}

uint32_t LE(const std::vector<uint8_t>& B, size_t At, int Size) {
    uint32_t Value = 0;
    for (int i = Size - 1; i >= 0; --i) Value = Value << 8 | B[At + i];
    return Value;
}

// Reads a BMP file back, checking that it is the 24-bit bottom-up kind.
TBitmap ReadBmp(const fs::path& Path) {
    std::vector<uint8_t> B = ReadAll(Path);
    TBitmap Picture;
    EXPECT_GE(B.size(), 54u) << Path;
    if (B.size() < 54) return Picture;
    int W = static_cast<int>(LE(B, 18, 4)), H = static_cast<int>(LE(B, 22, 4));
    size_t Stride = static_cast<size_t>(TBitmap::StrideFor(W));
    EXPECT_EQ(B[0], 'B');
    EXPECT_EQ(B[1], 'M');
    EXPECT_EQ(LE(B, 2, 4), B.size()) << "file size field";
    EXPECT_EQ(LE(B, 10, 4), 54u) << "pixel offset";
    EXPECT_EQ(LE(B, 14, 4), 40u) << "information header size";
    EXPECT_GT(H, 0) << "bottom-up rows";
    EXPECT_EQ(LE(B, 26, 2), 1u) << "planes";
    EXPECT_EQ(LE(B, 28, 2), 24u) << "bits per pixel";
    EXPECT_EQ(LE(B, 30, 4), 0u) << "compression";
    EXPECT_EQ(LE(B, 34, 4), Stride * H) << "image size";
    if (W <= 0 || H <= 0 || B.size() != 54 + Stride * H) return Picture;
    Picture.SetSize(W, H);
    for (int Row = 0; Row < H; ++Row) {
        const uint8_t* Line = B.data() + 54 + Stride * static_cast<size_t>(H - 1 - Row);
        std::memcpy(Picture.ScanLine(Row), Line, static_cast<size_t>(W) * 3);
        for (size_t Pad = static_cast<size_t>(W) * 3; Pad < Stride; ++Pad) EXPECT_EQ(Line[Pad], 0) << "padding";
    }
    return Picture;
}

struct TJpegReader {
    jpeg_decompress_struct Info{};
    jpeg_error_mgr Errors{};
    jmp_buf Jump;
};

[[noreturn]] void JpegFail(j_common_ptr Info) { longjmp(static_cast<TJpegReader*>(Info->client_data)->Jump, 1); }

bool RunDecode(TJpegReader& R, const std::vector<uint8_t>& Bytes, TBitmap& Picture) {
    R.Info.err = jpeg_std_error(&R.Errors);
    R.Errors.error_exit = JpegFail;
    R.Info.client_data = &R;
    if (setjmp(R.Jump)) {
        jpeg_destroy_decompress(&R.Info);
        return false;
    }
    jpeg_create_decompress(&R.Info);
    jpeg_mem_src(&R.Info, Bytes.data(), static_cast<unsigned long>(Bytes.size()));
    jpeg_read_header(&R.Info, TRUE);
    R.Info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&R.Info);
    Picture.SetSize(static_cast<int>(R.Info.output_width), static_cast<int>(R.Info.output_height));
    while (R.Info.output_scanline < R.Info.output_height) {
        JSAMPROW Row = Picture.ScanLine(static_cast<int>(R.Info.output_scanline));
        jpeg_read_scanlines(&R.Info, &Row, 1);
    }
    jpeg_finish_decompress(&R.Info);
    jpeg_destroy_decompress(&R.Info);
    return true;
}

// Decodes a JPEG file with libjpeg; an empty bitmap when it does not decode.
TBitmap ReadJpeg(const fs::path& Path) {
    TJpegReader Reader;
    TBitmap Picture;
    if (!RunDecode(Reader, ReadAll(Path), Picture)) Picture.Clear();
    return Picture;
}

double MeanDifference(const TBitmap& A, const TBitmap& B) {
    if (A.Width() != B.Width() || A.Height() != B.Height() || A.Empty()) return 1e9;
    double Sum = 0;
    for (int Y = 0; Y < A.Height(); ++Y)
        for (int X = 0; X < A.Width() * 3; ++X) Sum += std::abs(A.ScanLine(Y)[X] - B.ScanLine(Y)[X]);
    return Sum / (A.Width() * 3.0 * A.Height());
}

// A detailed picture: gradients with a fine texture, so that JPEG quality
// shows in the file size.
TBitmap Pattern(int W, int H) {
    TBitmap Picture(W, H);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
            // The texture is in the brightness, the colours are smooth.
            int Texture = ((X * Y) ^ (X + Y)) & 63;
            uint8_t* P = Picture.ScanLine(Y) + 3 * X;
            P[0] = static_cast<uint8_t>(Texture + Y * 150 / H);
            P[1] = static_cast<uint8_t>(Texture + X * 150 / W);
            P[2] = static_cast<uint8_t>(Texture + 100);
        }
    return Picture;
}

std::set<std::string> FilesIn(const fs::path& Folder) {
    std::set<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Folder)) Names.insert(Entry.path().filename().string());
    return Names;
}

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        Scratch = ScratchFolder(std::string("Snapshot_") + Info->name());
        fs::create_directories(Scratch / "home");
        Home = std::make_unique<THomeFolder>(Scratch / "home");
        Ini = (Scratch / "settings.ini").string();
        Out = Scratch / "snaps";
        Settings("SnapOutPutDir", Out.string());
    }
    void Settings(const std::string& Key, const std::string& Value) {
        IniFile(Ini).WriteString("settings", Key, Value);
    }
    std::vector<std::string> Paths(std::initializer_list<const char*> Names) const {
        std::vector<std::string> Result;
        for (const char* Name : Names) Result.push_back((Out / Name).string());
        return Result;
    }

    fs::path Scratch, Out;
    std::string Ini;
    std::unique_ptr<THomeFolder> Home;
    TMessageCatcher Catcher;
};

}  // namespace

TEST_F(SnapshotTest, SettingsSelectTheFilesWritten) {
    struct TCase {
        const char* Name;
        std::vector<std::pair<const char*, const char*>> Keys;
        std::vector<const char*> Files;
    };
    const TCase Cases[] = {
        {"no keys: all four", {}, {SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg, SnapshotSmallJpg}},
        {"no small size, no JPEG", {{"snapSmallSize", "0"}, {"snapJpg", "0"}}, {SnapshotFullBmp}},
        {"small size only", {{"snapFullSize", "0"}}, {SnapshotSmallBmp, SnapshotSmallJpg}},
        {"only exactly 1 selects", {{"snapBmp", "2"}, {"snapFullSize", "-1"}}, {SnapshotSmallJpg}},
        {"an unreadable value takes the default", {{"snapJpg", "yes"}, {"snapSmallSize", "0"}},
         {SnapshotFullBmp, SnapshotFullJpg}},
        {"nothing selected", {{"snapBmp", "0"}, {"snapJpg", "0"}}, {}},
    };
    TBitmap Full = Pattern(64, 48), Small = Pattern(21, 18);
    for (const TCase& C : Cases) {
        fs::remove_all(Out);
        for (const char* Key : {"snapFullSize", "snapSmallSize", "snapBmp", "snapJpg"}) IniFile(Ini).DeleteKey("settings", Key);
        for (auto [Key, Value] : C.Keys) Settings(Key, Value);
        std::vector<std::string> Expected;
        std::set<std::string> Names;
        for (const char* Name : C.Files) {
            Expected.push_back((Out / Name).string());
            Names.insert(Name);
        }
        EXPECT_EQ(SaveSnapshot(Ini, Full, Small), Expected) << C.Name;
        EXPECT_EQ(FilesIn(Out), Names) << C.Name << ": nothing else, no temporary files";
    }
    EXPECT_TRUE(Catcher.Messages.empty());
}

TEST_F(SnapshotTest, FilesHoldThePicturesAtTheirSizes) {
    // A real frame and the main window's picture area drawn from it.
    ASSERT_TRUE(LoadLibraries("", true)) << LibrariesError();
    TAVProbe Probe;
    ASSERT_TRUE(Probe.OpenFile(MediaPath("clip.mp4")));
    ASSERT_TRUE(Probe.Seek(Probe.FirstVideoStream(), 1000000));
    TBitmap Full = Probe.DecodeFrame(-1);
    ASSERT_EQ(Full.Width() * 1000 + Full.Height(), 640480);
    TBitmap Small(MainPreviewWidth, MainPreviewHeight);  // 217 x 3 bytes: rows need padding
    Small.Fill(166, 202, 240);
    DrawFitted(Full, Small);

    std::vector<std::string> Written = SaveSnapshot(Ini, Full, Small);
    EXPECT_EQ(Written, Paths({SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg, SnapshotSmallJpg}));
    TBitmap FullBmp = ReadBmp(Out / SnapshotFullBmp), SmallBmp = ReadBmp(Out / SnapshotSmallBmp);
    EXPECT_EQ(MeanDifference(FullBmp, Full), 0.0) << "full BMP pixels";
    EXPECT_EQ(MeanDifference(SmallBmp, Small), 0.0) << "small BMP pixels, margins included";
    // The probe reads our BMP too, as a 24-bit still picture.
    ASSERT_TRUE(Probe.OpenFile((Out / SnapshotSmallBmp).string()));
    EXPECT_EQ(MeanDifference(Probe.DecodeFrame(-1), Small), 0.0);

    TBitmap FullJpg = ReadJpeg(Out / SnapshotFullJpg), SmallJpg = ReadJpeg(Out / SnapshotSmallJpg);
    EXPECT_EQ(FullJpg.Width() * 1000 + FullJpg.Height(), 640480);
    EXPECT_EQ(SmallJpg.Width() * 1000 + SmallJpg.Height(), 217188);
    EXPECT_LT(MeanDifference(FullJpg, Full), 8.0);
    EXPECT_LT(MeanDifference(SmallJpg, Small), 8.0);
    EXPECT_TRUE(Catcher.Messages.empty());
}

TEST_F(SnapshotTest, JpegQualityIsHonoured) {
    Settings("snapBmp", "0");
    Settings("snapSmallSize", "0");
    const TBitmap Full = Pattern(320, 240), Small = Pattern(8, 8);
    struct TResult {
        uintmax_t Size;
        double Error;
    };
    auto Save = [&](const char* Quality) {
        Settings("jpgCmp", Quality);
        // Each snapshot comes under a number of its own.
        fs::remove_all(Out);
        EXPECT_EQ(SaveSnapshot(Ini, Full, Small), Paths({SnapshotFullJpg})) << Quality;
        TBitmap Back = ReadJpeg(Out / SnapshotFullJpg);
        EXPECT_EQ(Back.Width() * 1000 + Back.Height(), 320240) << Quality << " decodes";
        return TResult{fs::file_size(Out / SnapshotFullJpg), MeanDifference(Back, Full)};
    };
    TResult Q10 = Save("10"), Q90 = Save("90"), Q1 = Save("1"), Q100 = Save("100");
    EXPECT_LT(Q10.Size * 2, Q90.Size);
    EXPECT_LT(Q90.Error, Q10.Error);
    EXPECT_LT(Q90.Error, 6.0);
    // Values outside 1..100 are taken as the nearest end of the range.
    EXPECT_EQ(Save("0").Size, Q1.Size);
    EXPECT_EQ(Save("250").Size, Q100.Size);
    EXPECT_TRUE(Catcher.Messages.empty());
}

TEST_F(SnapshotTest, UnwritableFolderWarnsAndFallsBackToTheDefault) {
    // A plain file stands where the folder's parent would have to be.
    WriteText(Scratch / "blocker", "x");
    const std::string Bad = (Scratch / "blocker" / "snaps").string();
    Settings("SnapOutPutDir", Bad);
    const fs::path Default = Scratch / "home" / "videoconverter";

    std::vector<std::string> Written = SaveSnapshot(Ini, Pattern(40, 30), Pattern(20, 20));
    ASSERT_EQ(Catcher.Messages.size(), 1u);
    EXPECT_EQ(Catcher.Messages[0].Caption, "Warning");
    EXPECT_EQ(Catcher.Messages[0].Text, "Cannot create output directory: " + Bad + " (" + std::strerror(ENOTDIR) +
                                            "). It will use the default directory " + Default.string() +
                                            " for now; the chosen directory stays in the settings.");
    ASSERT_EQ(Written.size(), 4u);
    for (const std::string& Path : Written) EXPECT_EQ(fs::path(Path).parent_path(), Default);
    EXPECT_EQ(FilesIn(Default).size(), 4u);
    EXPECT_EQ(IniFile(Ini).ReadString("settings", "SnapOutPutDir", ""), Bad);
}

TEST_F(SnapshotTest, FailedFilesAreReportedAndLeaveNothingHalfWritten) {
    struct TCase {
        const char* Name;
        std::function<void()> Prepare, Undo;
        TBitmap Full, Small;
        std::vector<const char*> Written;
        std::vector<std::string> Reasons;  // one per failed file, in order
    };
    rlimit Saved{};
    getrlimit(RLIMIT_FSIZE, &Saved);
    // The earlier snapshot's files (below) take number 0: this one is 1.
    const std::vector<std::string> One = SnapshotNames(1);
    auto In = [&](size_t I) { return (Out / One[I]).string(); };
    const TCase Cases[] = {
        // Writes past 100000 bytes fail half-way: both BMP files.
        {"disk refuses the rest of the file",
         [&] {
             signal(SIGXFSZ, SIG_IGN);
             rlimit Limit = Saved;
             Limit.rlim_cur = 100000;
             setrlimit(RLIMIT_FSIZE, &Limit);
         },
         [&] {
             setrlimit(RLIMIT_FSIZE, &Saved);
             signal(SIGXFSZ, SIG_DFL);
         },
         Pattern(320, 240), Pattern(217, 188), {One[2].c_str(), One[3].c_str()},
         {"Cannot save snapshot " + In(0) + ": File too large.",
          "Cannot save snapshot " + In(1) + ": File too large."}},
        // An audio-only preview has no full picture, but its picture area.
        {"no full picture", [] {}, [] {}, TBitmap(), Pattern(20, 20), {One[1].c_str(), One[3].c_str()},
         {"Cannot save snapshot " + In(0) + ": there is no picture.",
          "Cannot save snapshot " + In(2) + ": there is no picture."}},
    };
    for (const TCase& C : Cases) {
        fs::remove_all(Out);
        fs::create_directories(Out);
        // An earlier snapshot is left as it was.
        const std::string Old = "earlier snapshot";
        for (const char* Name : {SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg}) WriteText(Out / Name, Old);
        Catcher.Messages.clear();
        C.Prepare();
        std::vector<std::string> Written = SaveSnapshot(Ini, C.Full, C.Small);
        C.Undo();

        std::vector<std::string> Expected;
        for (const char* Name : C.Written) Expected.push_back((Out / Name).string());
        EXPECT_EQ(Written, Expected) << C.Name;
        std::string Text;
        for (const std::string& Reason : C.Reasons) Text += (Text.empty() ? "" : "\n") + Reason;
        ASSERT_EQ(Catcher.Messages.size(), 1u) << C.Name;
        EXPECT_EQ(Catcher.Messages[0].Caption, "Warning");
        EXPECT_EQ(Catcher.Messages[0].Text, Text) << C.Name;
        for (const std::string& Name : FilesIn(Out))
            EXPECT_EQ(Name.find(".part"), std::string::npos) << C.Name << ": temporary file " << Name << " left";
        for (const char* Name : {SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg}) {
            EXPECT_EQ(ReadAll(Out / Name), std::vector<uint8_t>(Old.begin(), Old.end()))
                << C.Name << ": " << Name << " lost its earlier content";
        }
    }
}

// A snapshot takes the first number none of whose four names is an entry
// of the folder, whatever kind of entry it is.
TEST_F(SnapshotTest, NextSnapshotTakesTheFirstNumberWithAllFourNamesFree) {
    EXPECT_EQ(SnapshotNames(0),
              std::vector<std::string>({SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg, SnapshotSmallJpg}));
    EXPECT_EQ(SnapshotNames(12), std::vector<std::string>({"Snapshot_12_full.bmp", "Snapshot_12_small.bmp",
                                                           "Snapshot_12_full.jpg", "Snapshot_12_small.jpg"}));
    struct TCase {
        const char* Name;
        std::vector<std::string> Taken;  // "name" a file, "name/" a folder, "name@" a dangling link
        int Number;
    };
    const TCase Cases[] = {
        {"empty folder", {}, 0},
        {"a whole first snapshot", {"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg",
                                    "Snapshot_small.jpg"}, 1},
        {"only one file of the first", {"Snapshot_small.jpg"}, 1},
        {"a folder takes a name", {"Snapshot_full.bmp/"}, 1},
        {"a dangling link takes a name", {"Snapshot_full.jpg", "Snapshot_1_small.bmp@"}, 2},
        {"a gap is filled", {"Snapshot_full.bmp", "Snapshot_2_full.bmp"}, 1},
        {"other files do not count", {"snapshot_full.bmp", "Snapshot_full.png", "Snapshot_1_full.bmp.part"}, 0},
    };
    for (const TCase& C : Cases) {
        fs::remove_all(Out);
        fs::create_directories(Out);
        for (std::string Entry : C.Taken) {
            if (Entry.back() == '/') {
                fs::create_directories(Out / Entry.substr(0, Entry.size() - 1));
            } else if (Entry.back() == '@') {
                fs::create_symlink(Out / "nowhere", Out / Entry.substr(0, Entry.size() - 1));
            } else {
                WriteText(Out / Entry, "x");
            }
        }
        EXPECT_EQ(FreeSnapshotNumber(Out.string()), C.Number) << C.Name;
    }
}

// The second snapshot leaves the first one's files as they were, and the
// two share no name.
TEST_F(SnapshotTest, SecondSnapshotLeavesTheFirstOnesFilesInPlace) {
    const std::vector<std::string> First = SaveSnapshot(Ini, Pattern(64, 48), Pattern(21, 18));
    ASSERT_EQ(First, Paths({SnapshotFullBmp, SnapshotSmallBmp, SnapshotFullJpg, SnapshotSmallJpg}));
    std::vector<std::vector<uint8_t>> Before;
    for (const std::string& Path : First) Before.push_back(ReadAll(Path));
    const std::vector<std::string> Second = SaveSnapshot(Ini, Pattern(32, 24), Pattern(21, 18));
    std::vector<std::string> Expected;
    for (const std::string& Name : SnapshotNames(1)) Expected.push_back((Out / Name).string());
    EXPECT_EQ(Second, Expected);
    for (size_t I = 0; I < First.size(); ++I) EXPECT_EQ(ReadAll(First[I]), Before[I]) << First[I];
    EXPECT_EQ(ReadBmp(Out / "Snapshot_1_full.bmp").Width(), 32);
    EXPECT_EQ(FilesIn(Out).size(), 8u);
    EXPECT_TRUE(Catcher.Messages.empty());
}

// A name taken after the number was chosen is not written over.
TEST_F(SnapshotTest, NewFileNeverReplacesAnEntry) {
    fs::create_directories(Out);
    const std::vector<uint8_t> Bytes = {1, 2, 3};
    std::string Error;
    EXPECT_TRUE(WriteNewFile((Out / "a.bmp").string(), Bytes, Error)) << Error;
    EXPECT_EQ(ReadAll(Out / "a.bmp"), Bytes);
    WriteText(Out / "b.bmp", "old");
    fs::create_symlink(Out / "nowhere", Out / "c.bmp");
    fs::create_directories(Out / "d.bmp");
    for (const char* Name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) {
        Error.clear();
        EXPECT_FALSE(WriteNewFile((Out / Name).string(), {9, 9}, Error)) << Name;
        EXPECT_FALSE(Error.empty()) << Name;
    }
    EXPECT_EQ(ReadAll(Out / "a.bmp"), Bytes);
    EXPECT_EQ(ReadAll(Out / "b.bmp"), std::vector<uint8_t>({'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists(Out / "nowhere"));
    for (const std::string& Name : FilesIn(Out)) EXPECT_EQ(Name.find(".part"), std::string::npos) << Name;
}
