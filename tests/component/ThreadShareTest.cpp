// Codec threads of running jobs: the codecs' own choice for a job that runs
// alone, the cores shared among jobs that run at once, a forced count as it is.
#include <unistd.h>

#include <map>

#include "engine/EngineState.h"
#include "tests/component/ComponentTestSupport.h"

TEST_F(ComponentTest, CodecThreadsOfJobsThatRunAloneOrTogether) {
    const int Cores = std::max(1, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    struct Case {
        int Jobs;     // run at once, and in the batch
        int Threads;  // the component's ThreadCount; 0 = unset
        int Encoder;  // the encoder's count as opened (0: the codec's choice)
    } Cases[] = {
        {1, 0, 0}, {2, 0, std::max(1, Cores / 2)}, {4, 0, std::max(1, Cores / 4)},
        {1, 3, 3}, {2, 3, 3},                      {4, 3, 3},
    };
    for (const Case& K : Cases) {
        SCOPED_TRACE("-j " + std::to_string(K.Jobs) + " threads " + std::to_string(K.Threads));
        ConverterEvents Events;
        TVxAVConverter C;
        Events.Attach(C);
        C.SetThreadCount(K.Threads);
        std::mutex Lock;
        std::map<int, std::pair<int, int>> Seen;  // job: encoder, decoder thread counts
        C.OnProgress = [&](int AIndex, int, int, int, float, float, int64_t, int) {
            if (AIndex < 0) return;
            TEngineState& State = C.Job(AIndex).State();
            int Encoder = -1, Decoder = -1;
            for (const TCodecNode& Node : State.OpenEncoders)
                if (Node.Codec->codec_type == AVMEDIA_TYPE_VIDEO) Encoder = Node.Codec->thread_count;
            for (const TCodecNode& Node : State.OpenDecoders)
                if (Node.Codec->codec_type == AVMEDIA_TYPE_VIDEO) Decoder = Node.Codec->thread_count;
            std::lock_guard<std::mutex> Guard(Lock);
            Seen.emplace(AIndex, std::pair{Encoder, Decoder});
        };
        const auto Folder = ScratchFolder("ThreadShare");
        for (int I = 0; I < K.Jobs; ++I) {
            ASSERT_EQ(C.AddInputFile(MediaPath("short.avi"), nullptr), I) << C.LastError;
            TOutputOptions Out;
            Out.VideoCodec = "libx264";
            ASSERT_TRUE(C.SetOutputFile(I, (Folder / ("out" + std::to_string(I) + ".mp4")).string(), &Out))
                << C.LastError;
        }
        C.Start(K.Jobs);
        ASSERT_TRUE(Events.WaitForFinal());
        std::lock_guard<std::mutex> Guard(Lock);
        ASSERT_EQ(Seen.size(), static_cast<size_t>(K.Jobs));
        for (const auto& [Index, Counts] : Seen) {
            EXPECT_EQ(Counts.first, K.Encoder) << "job " << Index;
            // The decoder's count as the library resolved it: its own choice
            // (frame threads) takes more than one thread on a multi-core machine.
            if (K.Threads == 0 && K.Jobs == 1)
                EXPECT_EQ(Counts.second > 1, Cores > 1) << "job " << Index << ": " << Counts.second;
            else
                EXPECT_EQ(Counts.second, K.Encoder) << "job " << Index;
        }
    }
}
