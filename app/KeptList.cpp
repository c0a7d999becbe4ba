#include "app/KeptList.h"

#include <cstdio>

#include "common/Numbers.h"

namespace {

bool Escaped(unsigned char C) { return C <= ' ' || C == 0x7F || C == '%' || C == ',' || C == '|'; }

std::string EncodePath(const std::string& Path) {
    std::string Out;
    for (unsigned char C : Path) {
        if (Escaped(C)) {
            char Code[4];
            std::snprintf(Code, sizeof Code, "%%%02X", C);
            Out += Code;
        } else {
            Out += static_cast<char>(C);
        }
    }
    return Out;
}

int HexDigit(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return -1;
}

bool DecodePath(const std::string& Text, std::string& Path) {
    Path.clear();
    for (size_t I = 0; I < Text.size(); ++I) {
        if (Text[I] != '%') {
            Path += Text[I];
            continue;
        }
        if (I + 2 >= Text.size()) return false;
        const int High = HexDigit(Text[I + 1]), Low = HexDigit(Text[I + 2]);
        if (High < 0 || Low < 0) return false;
        Path += static_cast<char>(High * 16 + Low);
        I += 2;
    }
    return !Path.empty();
}

std::vector<std::string> Split(const std::string& Text, char Separator) {
    std::vector<std::string> Parts;
    size_t Start = 0;
    for (;;) {
        const size_t End = Text.find(Separator, Start);
        Parts.push_back(Text.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
        if (End == std::string::npos) return Parts;
        Start = End + 1;
    }
}

bool IsZoomMode(const std::string& Mode) { return Mode == "lbox" || Mode == "cent" || Mode == "full" || Mode == "orig"; }

}  // namespace

std::string EncodeKeptList(const std::vector<TKeptRow>& Rows) {
    std::string Text;
    for (const TKeptRow& Row : Rows) {
        const TlvFilesRecord& R = Row.Record;
        if (R.SourceFile.empty()) continue;
        if (!Text.empty()) Text += '|';
        Text += std::string(Row.Checked ? "1" : "0") + "," + std::to_string(R.TrimStart) + "," +
                std::to_string(R.TrimLength) + "," + (IsZoomMode(R.ZoomMode) ? R.ZoomMode : "lbox") + "," +
                std::to_string(R.CropTop) + "," + std::to_string(R.CropLeft) + "," + std::to_string(R.CropBottom) +
                "," + std::to_string(R.CropRight) + "," + EncodePath(R.SourceFile);
    }
    return Text;
}

std::vector<TKeptRow> DecodeKeptList(const std::string& Text) {
    std::vector<TKeptRow> Rows;
    if (Text.empty()) return Rows;
    for (const std::string& Line : Split(Text, '|')) {
        const std::vector<std::string> Fields = Split(Line, ',');
        if (Fields.size() != 9) continue;
        TKeptRow Row;
        int Numbers[7];
        const int At[7] = {0, 1, 2, 4, 5, 6, 7};
        bool Read = true;
        for (int I = 0; I < 7 && Read; ++I) Read = TryStrToInt(Fields[At[I]], Numbers[I]) && Numbers[I] >= 0;
        if (!Read || Numbers[0] > 1 || !IsZoomMode(Fields[3]) || !DecodePath(Fields[8], Row.Record.SourceFile))
            continue;
        Row.Checked = Numbers[0] == 1;
        Row.Record.TrimStart = Numbers[1];
        Row.Record.TrimLength = Numbers[2];
        Row.Record.ZoomMode = Fields[3];
        Row.Record.CropTop = Numbers[3];
        Row.Record.CropLeft = Numbers[4];
        Row.Record.CropBottom = Numbers[5];
        Row.Record.CropRight = Numbers[6];
        Rows.push_back(std::move(Row));
    }
    return Rows;
}
