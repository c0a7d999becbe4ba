#include <dlfcn.h>

#include <algorithm>
#include <cstdarg>

#include "tests/engine/EngineTestSupport.h"

namespace {

// Lines that reach the codec library's log while a case runs.
std::mutex LibraryLogLock;
std::vector<std::pair<int, std::string>> LibraryLogLines;

void CaptureLibraryLog(void*, int ALevel, const char* AFormat, va_list AArgs) {
    char Buffer[1024];
    vsnprintf(Buffer, sizeof Buffer, AFormat, AArgs);
    std::lock_guard<std::mutex> Guard(LibraryLogLock);
    LibraryLogLines.emplace_back(ALevel, Buffer);
}

// The counting plug-in's query functions, from the module the engine loaded.
struct CountingHook {
    void* Module = dlopen(COUNTING_HOOK_PATH, RTLD_NOW | RTLD_NOLOAD);
    template <typename T>
    T Get(const char* AName) {
        return Module ? reinterpret_cast<T>(dlsym(Module, AName)) : nullptr;
    }
    int Processed(void* AContext) { return Get<int (*)(void*)>("CountingHookProcessed")(AContext); }
    int ArgCount(void* AContext) { return Get<int (*)(void*)>("CountingHookArgCount")(AContext); }
    int MaxIndex(void* AContext) { return Get<int (*)(void*)>("CountingHookMaxIndex")(AContext); }
    int Mark(void* AContext) { return Get<int (*)(void*)>("CountingHookMark")(AContext); }
    int64_t LastPts(void* AContext) { return Get<int64_t (*)(void*)>("CountingHookLastPts")(AContext); }
    int Live() { return Get<int (*)()>("CountingHookLive")(); }
    ~CountingHook() {
        if (Module) dlclose(Module);
    }
};

class FrameHookTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        std::lock_guard<std::mutex> Guard(LibraryLogLock);
        LibraryLogLines.clear();
        av::av_log_set_callback(CaptureLibraryLog);
    }
    void TearDown() override {
        ReleaseFrameHooks(Chain);
        av::av_log_set_callback(av::av_log_default_callback);
    }

    int Add(std::vector<std::string> AArguments) {
        Arguments.push_back(std::move(AArguments));
        std::vector<char*> Argv;
        for (std::string& Word : Arguments.back()) Argv.push_back(Word.data());
        Argv.push_back(nullptr);
        return AddFrameHook(Chain, static_cast<int>(Argv.size()) - 1, Argv.data());
    }

    static bool LibraryLogged(int ALevel, const std::string& AText) {
        std::lock_guard<std::mutex> Guard(LibraryLogLock);
        return std::any_of(LibraryLogLines.begin(), LibraryLogLines.end(),
                           [&](auto& Line) { return Line.first == ALevel && Line.second == AText; });
    }

    static int Entries(TFrameHookEntry* AChain) {
        int Count = 0;
        for (; AChain; AChain = AChain->Next) ++Count;
        return Count;
    }

    TFrameHookEntry* Chain = nullptr;
    std::list<std::vector<std::string>> Arguments;  // plug-ins may keep their argv
};

// A 16x16 planar YUV 4:2:0 picture in plain buffers.
struct Picture {
    std::vector<uint8_t> Y = std::vector<uint8_t>(16 * 16, 16), U = std::vector<uint8_t>(64, 128),
                         V = std::vector<uint8_t>(64, 128);
    TFrameHookPicture Planes{{Y.data(), U.data(), V.data(), nullptr}, {16, 8, 8, 0}};
};

}  // namespace

TEST_F(FrameHookTest, CompletePluginIsConfiguredAndSeesEveryPicture) {
    bool LoadedBefore = dlopen(COUNTING_HOOK_PATH, RTLD_NOW | RTLD_NOLOAD) != nullptr;
    if (!LoadedBefore) {
        // Its helper sits beside it and nothing else would find it.
        EXPECT_EQ(dlopen(COUNTING_HOOK_HELPER_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    }
    ASSERT_EQ(Add({COUNTING_HOOK_PATH, "200"}), 0);
    void* Helper = dlopen(COUNTING_HOOK_HELPER_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(Helper, nullptr);
    if (Helper) dlclose(Helper);

    ASSERT_EQ(Entries(Chain), 1);
    ASSERT_NE(Chain->Process, nullptr);
    ASSERT_NE(Chain->Release, nullptr);
    ASSERT_NE(Chain->Context, nullptr);
    CountingHook Hook;
    ASSERT_NE(Hook.Module, nullptr);
    int LiveBefore = Hook.Live();
    EXPECT_EQ(Hook.ArgCount(Chain->Context), 2);
    EXPECT_EQ(Hook.MaxIndex(Chain->Context), 63);

    Picture P;
    for (int64_t Pts : {0, 40000, 80000}) RunFrameHooks(Chain, &P.Planes, AV_PIX_FMT_YUV420P, 16, 16, Pts);
    EXPECT_EQ(Hook.Processed(Chain->Context), 3);
    EXPECT_EQ(Hook.LastPts(Chain->Context), 80000);
    EXPECT_EQ(P.Y[0], 200);  // the plug-in wrote into the picture it was given
    EXPECT_EQ(P.Y[1], 16);

    ReleaseFrameHooks(Chain);
    EXPECT_EQ(Chain, nullptr);
    EXPECT_EQ(Hook.Live(), LiveBefore - 1);
}

TEST_F(FrameHookTest, LibraryNamedTwiceIsLoadedOnceButConfiguredTwice) {
    ASSERT_EQ(Add({COUNTING_HOOK_PATH, "1"}), 0);
    ASSERT_EQ(Add({COUNTING_HOOK_PATH}), 0);
    std::vector<std::string> Loaded = LoadedFrameHookLibraries();
    EXPECT_EQ(std::count(Loaded.begin(), Loaded.end(), COUNTING_HOOK_PATH), 1);

    ASSERT_EQ(Entries(Chain), 2);
    void* First = Chain->Context;
    void* Second = Chain->Next->Context;
    ASSERT_NE(First, Second);
    CountingHook Hook;
    EXPECT_EQ(Hook.Mark(First), 1);
    EXPECT_EQ(Hook.Mark(Second), 77);  // the helper library's default

    // Both entries see each picture, in the order they were added.
    Picture P;
    RunFrameHooks(Chain, &P.Planes, AV_PIX_FMT_YUV420P, 16, 16, 5);
    EXPECT_EQ(Hook.Processed(First), 1);
    EXPECT_EQ(Hook.Processed(Second), 1);
    EXPECT_EQ(P.Y[0], 77);
}

TEST_F(FrameHookTest, RefusedPluginsGiveTheirCodesAndLogLines) {
    EXPECT_EQ(AddFrameHook(Chain, 0, nullptr), -2);

    EXPECT_EQ(Add({NO_PROCESS_HOOK_PATH}), -2);
    EXPECT_TRUE(LibraryLogged(AV_LOG_ERROR, std::string("Failed to find Process entrypoint in ") +
                                                NO_PROCESS_HOOK_PATH + "\n"));

    EXPECT_EQ(Add({COUNTING_HOOK_PATH, "fail"}), -22);
    EXPECT_TRUE(LibraryLogged(AV_LOG_ERROR, std::string("Failed to Configure ") + COUNTING_HOOK_PATH + "\n"));

    std::string Missing = MediaPath("no-such-plugin.so");
    EXPECT_EQ(Add({Missing}), -1);
    bool Reason = false;
    {
        std::lock_guard<std::mutex> Guard(LibraryLogLock);
        for (auto& [Level, Text] : LibraryLogLines)
            Reason |= Level == AV_LOG_ERROR && Text.find(Missing) != std::string::npos && Text.back() == '\n';
    }
    EXPECT_TRUE(Reason);
    // A library that did not load is not remembered as loaded.
    std::vector<std::string> Loaded = LoadedFrameHookLibraries();
    EXPECT_EQ(std::count(Loaded.begin(), Loaded.end(), Missing), 0);
    EXPECT_EQ(Chain, nullptr);
}

TEST_F(FrameHookTest, VhookOptionBuildsTheEnginesChainAndClearJobReleasesIt) {
    TCustomFFmpeg Engine;
    Engine.PrepareJob();
    Engine.SetOption("vhook", std::string(COUNTING_HOOK_PATH) + "  33");
    Engine.SetOption("vhook", std::string(COUNTING_HOOK_PATH) + "|44| x y");
    EXPECT_TRUE(Engine.Settings.UsingHooks);
    ASSERT_EQ(Entries(Engine.State().HookChain), 2);
    CountingHook Hook;
    EXPECT_EQ(Hook.ArgCount(Engine.State().HookChain->Context), 2);  // runs of blanks are one separator
    EXPECT_EQ(Hook.Mark(Engine.State().HookChain->Context), 33);
    EXPECT_EQ(Hook.ArgCount(Engine.State().HookChain->Next->Context), 3);  // "|" separates, blanks stay in words
    EXPECT_EQ(Hook.Mark(Engine.State().HookChain->Next->Context), 44);

    std::string Value = std::string(NO_PROCESS_HOOK_PATH) + " a";
    try {
        Engine.SetOption("vhook", Value);
        ADD_FAILURE() << "a plug-in without Process was accepted";
    } catch (const FFMpegException& E) {
        EXPECT_EQ(std::string(E.what()), "Failed to add video hook function: " + Value);
    }
    EXPECT_EQ(Entries(Engine.State().HookChain), 2);

    int Live = Hook.Live();
    Engine.ClearJob();
    EXPECT_EQ(Engine.State().HookChain, nullptr);
    EXPECT_EQ(Hook.Live(), Live - 2);
}
