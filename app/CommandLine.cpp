#include "app/CommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "app/OutputOptions.h"
#include "app/Profiles.h"
#include "common/Text.h"

namespace {

int Number(const std::string& Option, const std::string& Text, int Min, int Max) {
    char* End = nullptr;
    errno = 0;
    long Value = Text.empty() ? 0 : std::strtol(Text.c_str(), &End, 10);
    if (Text.empty() || *End || errno || Value < Min || Value > Max)
        throw EUsageError(StrFormat("%s wants a number from %d to %d, not '%s'", Option.c_str(), Min, Max,
                                    Text.c_str()));
    return static_cast<int>(Value);
}

}  // namespace

std::string TOptionValue::Take(const std::string& What) {
    if (FInline) return FText;
    if (FIndex + 1 >= FArguments.size()) throw EUsageError(FName + " wants " + What);
    return FArguments[++FIndex];
}

void TOptionValue::None() const {
    if (FInline) throw EUsageError(FName + " takes no value");
}

void WalkArguments(const std::vector<std::string>& Arguments, std::vector<std::string>& Files,
                   const std::function<void(const std::string& Name, TOptionValue& Value)>& OnOption) {
    bool OptionsEnd = false;
    for (size_t I = 0; I < Arguments.size(); ++I) {
        std::string A = Arguments[I];
        if (OptionsEnd || A.empty() || A[0] != '-' || A == "-") {
            Files.push_back(A);
            continue;
        }
        if (A == "--") {
            OptionsEnd = true;
            continue;
        }
        std::string Text;
        bool Inline = false;
        if (StartsWith(A, "--") && A.find('=') != std::string::npos) {
            Text = A.substr(A.find('=') + 1);
            A = A.substr(0, A.find('='));
            Inline = true;
        }
        TOptionValue Value(A, Arguments, I, Inline, std::move(Text));
        OnOption(A, Value);
    }
}

int LogLevelFromName(const std::string& Name) {
    static const char* const Names[] = {"quiet", "error", "info", "debug", "all"};
    for (int I = 0; I < 5; ++I)
        if (Name == Names[I]) return I;
    return -1;
}

TConvOptions ParseCommandLine(const std::vector<std::string>& Arguments) {
    TConvOptions O;
    WalkArguments(Arguments, O.Files, [&O](const std::string& A, TOptionValue& V) {
        auto Next = [&V] { return V.Take(); };
        auto Flag = [&V] { V.None(); };

        if (A == "-p" || A == "--profile")
            O.Profile = Number(A, Next(), 0, ProfileCount - 1);
        else if (A == "-o" || A == "--output-dir") {
            O.OutputDir = Next();
            if (O.OutputDir.empty()) throw EUsageError(A + " wants a folder");
        } else if (A == "--start")
            O.StartMs = Number(A, Next(), 0, INT_MAX);
        else if (A == "--length")
            O.LengthMs = Number(A, Next(), 1, INT_MAX);
        else if (A == "--fit-size") {
            const std::string Text = Next();
            int64_t Bytes = 0;
            try {
                Bytes = FitSizeBytes(Text);
            } catch (const EFitSizeError&) {
            }
            if (Bytes <= 0) throw EUsageError("--fit-size wants a size in MB, not '" + Text + "'");
            O.FitSizeMB = double(Bytes) / double(BytesPerMB);
        } else if (A == "--crop") {
            std::vector<std::string> Parts = SplitText(Next(), ',');
            if (Parts.size() != 4) throw EUsageError("--crop wants four sizes: top,bottom,left,right");
            int* Fields[] = {&O.CropTop, &O.CropBottom, &O.CropLeft, &O.CropRight};
            for (size_t K = 0; K < 4; ++K) {
                *Fields[K] = Number("--crop", Trim(Parts[K]), 0, 65536);
                if (*Fields[K] % 2) throw EUsageError("--crop sizes must be even");
            }
        } else if (A == "--zoom") {
            O.Zoom = Next();
            if (O.Zoom != "lbox" && O.Zoom != "cent" && O.Zoom != "full" && O.Zoom != "orig")
                throw EUsageError("--zoom wants lbox, cent, full or orig, not '" + O.Zoom + "'");
        } else if (A == "-j" || A == "--jobs")
            O.Jobs = Number(A, Next(), 1, 64);
        else if (A == "--threads")
            O.Threads = Number(A, Next(), 0, 64);
        else if (A == "--settings")
            O.SettingsFile = Next();
        else if (A == "--profiles")
            O.ProfilesFile = Next();
        else if (A == "--list-profiles") {
            Flag();
            O.ListProfiles = true;
        } else if (A == "--info")
            O.InfoFile = Next();
        else if (A == "--log-level") {
            std::string Name = Next();
            O.LogLevel = LogLevelFromName(Name);
            if (O.LogLevel < 0) throw EUsageError("--log-level wants quiet, error, info, debug or all, not '" + Name + "'");
        } else if (A == "-q" || A == "--quiet") {
            Flag();
            O.Quiet = true;
        } else if (A == "-h" || A == "--help") {
            Flag();
            O.Help = true;
        } else if (A == "--version") {
            Flag();
            O.Version = true;
        } else
            throw EUsageError("unknown option " + A);
    });
    if (!O.Help && !O.Version && !O.ListProfiles && O.InfoFile.empty() && O.Files.empty()) throw EUsageError("no input files");
    return O;
}

std::string UsageText(const std::string& Program) {
    return "Usage: " + Program + R"( [options] FILE...
Converts every FILE with one output profile into one output folder.

  -p, --profile N        output profile 0..50, see --list-profiles (default: the stored one)
  -o, --output-dir DIR   output folder (default: the stored one)
      --start MS         start this many milliseconds into each file
      --length MS        convert this many milliseconds
      --crop T,B,L,R     cut source pixels off the top, bottom, left, right
      --zoom MODE        lbox (letter box, default), cent, full, orig
      --fit-size MB      make each file at most MB megabytes (1 MB = 1,000,000
                         bytes): the picture's rate fills what the sound
                         leaves, in two passes (video profiles only)
  -j, --jobs N           files converted at once (default 1)
      --threads N        codec threads per file (default 0: the codecs choose,
                         sharing the cores among the files of -j)
      --settings FILE    settings file to use
      --profiles FILE    profile file to use
      --list-profiles    list the output profiles
      --info FILE        show what FILE holds
      --log-level L      quiet, error (warnings and errors; default), info
                         (also the codec libraries' stream and encoder
                         lines), debug, all
  -q, --quiet            no progress display
  -h, --help             this text
      --version          the program's name and version

Exit status: 0 all files converted, 1 a file failed, 2 bad usage,
130 interrupted (the files written so far are complete).
)";
}

std::string VersionText(const std::string& Title, const std::string& Version) {
    std::string Number = Trim(Version);
    // The stored version reads " ver 1.32 "; the number alone follows the title.
    if (StartsWith(LowerCase(Number), "ver ")) Number = Trim(Number.substr(4));
    std::string Name = Trim(Title);
    return Number.empty() ? Name : Name + " " + Number;
}
