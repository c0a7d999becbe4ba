#include "common/Text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <strings.h>

std::string StrFormat(const char* Format, ...) {
    va_list Args;
    va_start(Args, Format);
    va_list Copy;
    va_copy(Copy, Args);
    int Length = vsnprintf(nullptr, 0, Format, Copy);
    va_end(Copy);
    std::string Result;
    if (Length > 0) {
        Result.resize(static_cast<size_t>(Length) + 1);
        vsnprintf(Result.data(), Result.size(), Format, Args);
        Result.resize(static_cast<size_t>(Length));
    }
    va_end(Args);
    return Result;
}

std::string Trim(const std::string& Text) {
    size_t First = 0, Last = Text.size();
    while (First < Last && static_cast<unsigned char>(Text[First]) <= ' ') ++First;
    while (Last > First && static_cast<unsigned char>(Text[Last - 1]) <= ' ') --Last;
    return Text.substr(First, Last - First);
}

std::string LowerCase(std::string Text) {
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](unsigned char C) { return C >= 'A' && C <= 'Z' ? C + 32 : C; });
    return Text;
}

bool SameText(const std::string& A, const std::string& B) {
    return A.size() == B.size() && strncasecmp(A.data(), B.data(), A.size()) == 0;
}

bool StartsWith(const std::string& Text, const std::string& Prefix) {
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

std::string SplitHead(std::string& Text, const std::string& Separator, bool Remove) {
    size_t At = Separator.empty() ? std::string::npos : Text.find(Separator);
    if (At == std::string::npos) {
        std::string Head = Text;
        if (Remove) Text.clear();
        return Head;
    }
    std::string Head = Text.substr(0, At);
    if (Remove) Text.erase(0, At + Separator.size());
    return Head;
}

std::vector<std::string> SplitText(const std::string& Text, char Separator) {
    std::vector<std::string> Items;
    size_t Start = 0;
    while (true) {
        size_t At = Text.find(Separator, Start);
        Items.push_back(Text.substr(Start, At == std::string::npos ? std::string::npos : At - Start));
        if (At == std::string::npos) break;
        Start = At + 1;
    }
    return Items;
}
