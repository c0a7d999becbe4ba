// Names that look like URLs are files, and a file that lists other files
// is refused without any of them being opened. The marker files are watched
// with inotify, so a read through a protocol or a playlist shows up even
// when it fails.
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "probe/AVProbe.h"
#include "tests/component/ComponentTestSupport.h"

namespace fs = std::filesystem;

namespace {

class OpenWatch {
public:
    explicit OpenWatch(const fs::path& File) {
        FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FFd >= 0) inotify_add_watch(FFd, File.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() {
        if (FFd >= 0) close(FFd);
    }
    bool Valid() const { return FFd >= 0; }
    bool Touched() const {
        char Buffer[4096];
        return read(FFd, Buffer, sizeof Buffer) > 0;
    }

private:
    int FFd = -1;
};

void Write(const fs::path& File, const std::string& Text) { std::ofstream(File, std::ios::binary) << Text; }

class CurrentFolder {
public:
    explicit CurrentFolder(const fs::path& Folder) : FOld(fs::current_path()) { fs::current_path(Folder); }
    ~CurrentFolder() { fs::current_path(FOld); }

private:
    fs::path FOld;
};

}  // namespace

class LocalNamesTest : public ComponentTest {};

TEST_F(LocalNamesTest, UrlLikeNamesOpenAsFilesAndPlaylistsAreRefusedWithoutReadingWhatTheyName) {
    const fs::path Folder = ScratchFolder("local-names");
    const fs::path Clip = MediaPath("short.avi");
    // The marker is a playable clip: a read through it would succeed.
    const fs::path Marker = Folder / "marker.avi";
    fs::copy_file(Clip, Marker);
    fs::copy_file(Clip, Folder / "a.avi");

    struct Row {
        std::string Name;     // relative to the folder
        std::string Content;  // "" = a copy of the clip
        std::string Refusal;  // "" = opens as a plain file
    };
    const std::string Hls = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n#EXT-X-MEDIA-SEQUENCE:0\n"
                            "#EXTINF:10.0,\n" +
                            Marker.string() + "\n#EXT-X-ENDLIST\n";
    const std::vector<Row> Rows = {
        {"concat:marker.avi|a.avi", "", ""},
        {"data:,hello.avi", "", ""},
        {"file:marker.avi", "", ""},
        {"subfile,,start,0,end,0,,:marker.avi", "", ""},
        {"evil.avi", Hls, "playlists are not supported (hls)"},
        {"evil.m3u8", Hls, "playlists are not supported (hls)"},
        {"list.avi", "ffconcat version 1.0\nfile 'marker.avi'\nfile '" + Marker.string() + "'\n",
         "playlists are not supported (concat)"},
        {"session.avi", "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 127.0.0.1\nt=0 0\nm=video 5004 RTP/AVP 96\n"
                        "a=rtpmap:96 H264/90000\n",
         "playlists are not supported (sdp)"},
    };
    CurrentFolder Here(Folder);
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Name);
        if (R.Content.empty())
            fs::copy_file(Clip, Folder / R.Name);
        else
            Write(Folder / R.Name, R.Content);
        OpenWatch MarkerWatch(Marker), OtherWatch(Folder / "a.avi");
        ASSERT_TRUE(MarkerWatch.Valid());

        TVxAVConverter C;
        const int Job = C.AddInputFile(R.Name, nullptr);
        TAVProbe Probe;
        const bool Opened = Probe.OpenFile(R.Name);
        if (R.Refusal.empty()) {
            ASSERT_GE(Job, 0) << C.LastError;
            EXPECT_EQ(C.GetJobProbe(Job).GetFileName(), R.Name);
            EXPECT_EQ(C.GetJobProbe(Job).VideoStreamCount(), 1);
            ASSERT_TRUE(Opened) << Probe.LastError();
            EXPECT_EQ(Probe.GetFileName(), R.Name);
            EXPECT_EQ(Probe.GetFileSize(), static_cast<int64_t>(fs::file_size(Clip)));
        } else {
            EXPECT_EQ(Job, -1);
            EXPECT_EQ(C.LastError, R.Name + ": " + R.Refusal);
            EXPECT_FALSE(Opened);
            EXPECT_EQ(Probe.LastError(), R.Name + ": " + R.Refusal);
        }
        EXPECT_FALSE(MarkerWatch.Touched()) << "the marker was opened";
        EXPECT_FALSE(OtherWatch.Touched()) << "a.avi was opened";
    }
}
