#include "widgets/PathText.h"

#include "common/Files.h"

namespace {

// Characters are counted as UTF-8 code points, so a cut never splits one.
bool IsContinuation(unsigned char C) { return (C & 0xC0) == 0x80; }

size_t CharCount(const std::string& Text) {
    size_t Count = 0;
    for (unsigned char C : Text)
        if (!IsContinuation(C)) ++Count;
    return Count;
}

std::string FirstChars(const std::string& Text, size_t Count) {
    size_t Seen = 0;
    for (size_t I = 0; I < Text.size(); ++I) {
        if (!IsContinuation(static_cast<unsigned char>(Text[I]))) {
            if (Seen == Count) return Text.substr(0, I);
            ++Seen;
        }
    }
    return Text;
}

}  // namespace

std::string ShortenPath(const std::string& Path, size_t MaxWhole, size_t Keep, bool TwoBlanks) {
    if (CharCount(Path) <= MaxWhole) return Path;
    return FirstChars(Path, Keep) + ".." + ExtractFileExt(Path) + (TwoBlanks ? "  " : "");
}
