#include <cinttypes>

#include "common/Text.h"
#include "tests/component/ComponentTestSupport.h"

namespace {

const char* TestItemName(void*) { return "TestItem"; }

// Any object whose first member is its class can log.
struct LoggingObject {
    const AVClass* Class;
};

const AVClass TestClass = [] {
    AVClass C{};
    C.class_name = "TestClass";
    C.item_name = &TestItemName;
    C.version = LIBAVUTIL_VERSION_INT;
    return C;
}();

std::string Prefix(const void* AObject) {
    return StrFormat("[TestItem @ %08" PRIXPTR "]", reinterpret_cast<uintptr_t>(AObject));
}

class LogHandlerTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        Events.Attach(C);
        C.SetLogLevel(llInfo);
        std::lock_guard<std::mutex> Guard(ConverterList().LogLock);
        ConverterList().LogList.Clear();
    }
    void TearDown() override { C.SetLogLevel(llInfo); }

    ConverterEvents Events;  // outlives the component, which may still log while it goes
    TVxAVConverter C;
    LoggingObject Object{&TestClass};
};

}  // namespace

TEST_F(LogHandlerTest, MessageInTwoCallsArrivesAsOneLineWithTheFirstCallsPrefix) {
    av::av_log(&Object, AV_LOG_INFO, "first part, ");
    EXPECT_TRUE(Events.LinesContaining("first part").empty());
    LoggingObject Other{&TestClass};
    av::av_log(&Other, AV_LOG_INFO, "second %d\nstarts the next", 2);
    auto Lines = Events.LinesContaining("first part");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text, Prefix(&Object) + "first part, second 2");
    EXPECT_EQ(Lines[0].Index, -1);  // this thread runs no job
    EXPECT_EQ(Lines[0].Level, llInfo);
    av::av_log(nullptr, AV_LOG_ERROR, " line\n");
    auto Next = Events.LinesContaining("starts the next");
    ASSERT_EQ(Next.size(), 1u);
    EXPECT_EQ(Next[0].Text, "starts the next line");
    EXPECT_EQ(Next[0].Level, llError);  // the level of the call that ends the line
}

TEST_F(LogHandlerTest, LinesWithoutContextHaveNoPrefixAndSeveralFeedsMakeSeveralLines) {
    av::av_log(nullptr, AV_LOG_WARNING, "one\ntwo\n\nthree\n");
    std::lock_guard<std::mutex> Guard(Events.Lock);
    ASSERT_EQ(Events.Lines.size(), 4u);
    EXPECT_EQ(Events.Lines[0].Text, "one");
    EXPECT_EQ(Events.Lines[1].Text, "two");
    EXPECT_EQ(Events.Lines[2].Text, "");
    EXPECT_EQ(Events.Lines[3].Text, "three");
    EXPECT_EQ(Events.Lines[0].Level, llError);
}

TEST_F(LogHandlerTest, PartialLinesOfDifferentThreadsDoNotMix) {
    av::av_log(&Object, AV_LOG_INFO, "main begins ");
    std::thread([&] {
        av::av_log(nullptr, AV_LOG_INFO, "worker begins ");
        av::av_log(nullptr, AV_LOG_INFO, "and ends\n");
    }).join();
    av::av_log(nullptr, AV_LOG_INFO, "and ends\n");
    auto Worker = Events.LinesContaining("worker begins");
    auto Main = Events.LinesContaining("main begins");
    ASSERT_EQ(Worker.size(), 1u);
    ASSERT_EQ(Main.size(), 1u);
    EXPECT_EQ(Worker[0].Text, "worker begins and ends");
    EXPECT_EQ(Main[0].Text, Prefix(&Object) + "main begins and ends");
    EXPECT_NE(Worker[0].Thread, Main[0].Thread);
}

// The MP4 muxer makes its remark on the extension once per stream.
TEST_F(LogHandlerTest, LineRepeatingThePreviousOneIsDropped) {
    for (int Stream = 0; Stream < 2; ++Stream) av::av_log(&Object, AV_LOG_WARNING, "remark\n");
    av::av_log(&Object, AV_LOG_WARNING, "other\n");
    av::av_log(&Object, AV_LOG_WARNING, "remark\n");
    std::lock_guard<std::mutex> Guard(Events.Lock);
    std::vector<std::string> Texts;
    for (const auto& L : Events.Lines) Texts.push_back(L.Text);
    EXPECT_EQ(Texts, (std::vector<std::string>{Prefix(&Object) + "remark", Prefix(&Object) + "other",
                                               Prefix(&Object) + "remark"}));
}

TEST_F(LogHandlerTest, LogLevelErrorFiltersInformationLines) {
    C.SetLogLevel(llError);
    EXPECT_EQ(LibraryLogFilterLevel.load(), 0);
    av::av_log(nullptr, AV_LOG_INFO, "an information\n");
    av::av_log(nullptr, AV_LOG_ERROR, "an error\n");
    EXPECT_TRUE(Events.LinesContaining("an information").empty());
    auto Errors = Events.LinesContaining("an error");
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].Level, llError);

    C.SetLogLevel(llQuiet);
    av::av_log(nullptr, AV_LOG_ERROR, "quiet error\n");
    EXPECT_TRUE(Events.LinesContaining("quiet error").empty());

    C.SetLogLevel(llDebug);
    av::av_log(nullptr, AV_LOG_DEBUG, "a debug line\n");
    auto Debug = Events.LinesContaining("a debug line");
    ASSERT_EQ(Debug.size(), 1u);
    EXPECT_EQ(Debug[0].Level, llDebug);
}

TEST_F(LogHandlerTest, EveryLiveComponentGetsEveryLine) {
    ConverterEvents OtherEvents;
    {
        TVxAVConverter Other;
        OtherEvents.Attach(Other);
        av::av_log(nullptr, AV_LOG_INFO, "for both\n");
    }
    av::av_log(nullptr, AV_LOG_INFO, "after the other went\n");
    EXPECT_EQ(Events.LinesContaining("for both").size(), 1u);
    EXPECT_EQ(OtherEvents.LinesContaining("for both").size(), 1u);
    EXPECT_EQ(Events.LinesContaining("after the other").size(), 1u);
    EXPECT_TRUE(OtherEvents.LinesContaining("after the other").empty());
}

TEST_F(LogHandlerTest, LineLoggedWhileAComponentRaisesAnEventIsNotLost) {
    // While a handler of Other runs, a second thread logs, and then the
    // handler itself logs: nobody waits for anybody, and Other gets both
    // lines once its handler is done.
    TVxAVConverter Other;
    std::mutex Lock;
    std::vector<std::string> OtherLines;
    std::atomic<bool> Inside{false}, Logged{false};
    Other.OnLog = [&](int, TLogLevel, const std::string& AMsg) {
        {
            std::lock_guard<std::mutex> Guard(Lock);
            OtherLines.push_back(AMsg);
        }
        if (AMsg != "trigger") return;
        Inside = true;
        while (!Logged) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        av::av_log(nullptr, AV_LOG_INFO, "from inside the event\n");
    };
    std::thread Trigger([] { av::av_log(nullptr, AV_LOG_INFO, "trigger\n"); });
    while (!Inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread Second([&] {
        av::av_log(nullptr, AV_LOG_INFO, "from a second thread\n");
        Logged = true;
    });
    Second.join();
    Trigger.join();
    EXPECT_EQ(Events.LinesContaining("from inside the event").size(), 1u);
    EXPECT_EQ(Events.LinesContaining("from a second thread").size(), 1u);
    std::lock_guard<std::mutex> Guard(Lock);
    EXPECT_EQ(OtherLines, (std::vector<std::string>{"trigger", "from a second thread", "from inside the event"}));
}

TEST_F(LogHandlerTest, OverlongTextIsCutIntoBufferSizedLines) {
    std::string Long(5000, 'x');
    av::av_log(nullptr, AV_LOG_INFO, "%s", Long.c_str());
    av::av_log(nullptr, AV_LOG_INFO, "tail\n");
    std::lock_guard<std::mutex> Guard(Events.Lock);
    ASSERT_EQ(Events.Lines.size(), 2u);
    EXPECT_EQ(Events.Lines[0].Text, std::string(2047, 'x'));
    EXPECT_EQ(Events.Lines[1].Text, "tail");
}

TEST(LogList, FindReusesTheFirstItemAndAddsOthersAfterIt) {
    TLogList List;
    TLogList::TLogItem& First = List.Find(10);
    EXPECT_EQ(First.ThreadID, 10);
    First.Text = "ten";
    TLogList::TLogItem& Second = List.Find(20);
    Second.Text = "twenty";
    TLogList::TLogItem& Third = List.Find(30);
    Third.Text = "thirty";
    EXPECT_EQ(List.ItemCount(), 3);
    EXPECT_EQ(List.Find(10).Text, "ten");
    EXPECT_EQ(List.Find(20).Text, "twenty");
    EXPECT_EQ(&List.Find(20), &Second);
    List.Clear();
    EXPECT_EQ(List.ItemCount(), 1);
    TLogList::TLogItem& Fresh = List.Find(20);
    EXPECT_EQ(&Fresh, &First);
    EXPECT_EQ(Fresh.Text, "");
}
