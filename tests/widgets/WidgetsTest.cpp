// Themes, path shortening, the picture view, message boxes and the
// platform seam.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QStyle>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QSet>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include "app/GlobalUnit.h"
#include "common/Bitmap.h"
#include "widgets/Controls.h"
#include "widgets/MessageBox.h"
#include "widgets/PathText.h"
#include "widgets/PictureView.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace {

std::string PathOf(size_t Length, const std::string& Ext) {
    std::string Path = "/v/";
    Path += std::string(Length - Path.size() - Ext.size(), 'a');
    return Path + Ext;
}

QColor PixelAt(const QImage& Image, int X, int Y) { return QColor(Image.pixel(X, Y)); }

}  // namespace

TEST(PathText, ShortensByEachDialogsLimits) {
    struct Case {
        size_t Length;
        size_t MaxWhole, Keep;
        bool TwoBlanks;
        bool Whole;
    };
    const Case Cases[] = {
        {50, 50, 44, false, true},  {51, 50, 44, false, false}, {50, 50, 44, true, true},
        {51, 50, 44, true, false},  {55, 55, 50, true, true},   {56, 55, 50, true, false},
        {120, 55, 50, true, false},
    };
    for (const Case& C : Cases) {
        const std::string Path = PathOf(C.Length, ".mkv");
        ASSERT_EQ(Path.size(), C.Length);
        const std::string Shown = ShortenPath(Path, C.MaxWhole, C.Keep, C.TwoBlanks);
        const std::string Cut = Path.substr(0, C.Keep) + ".." + ".mkv" + (C.TwoBlanks ? "  " : "");
        EXPECT_EQ(Shown, C.Whole ? Path : Cut) << C.Length << " chars, limit " << C.MaxWhole;
    }
}

TEST(PathText, CountsCharactersNotBytesAndKeepsNoExtension) {
    // 55 characters, 56 bytes: still shown whole.
    std::string Accented = "/v/\xC3\xA9" + std::string(47, 'a') + ".mkv";
    EXPECT_EQ(ShortenPath(Accented, 55, 50, true), Accented);
    // A cut never splits a character: the 50th one is two bytes long.
    std::string Long = "/v/" + std::string(46, 'a') + "\xC3\xA9" + std::string(20, 'b') + ".avi";
    EXPECT_EQ(ShortenPath(Long, 55, 50, true), "/v/" + std::string(46, 'a') + "\xC3\xA9" + "...avi  ");
    // A file without an extension ends in ".." and the blanks.
    std::string Bare = "/v.d/" + std::string(60, 'c');
    EXPECT_EQ(ShortenPath(Bare, 55, 50, true), Bare.substr(0, 50) + "..  ");
}

TEST(Theme, NamesAndOddRowTints) {
    const struct {
        int Index;
        const char* Name;
        QColor Tint;
    } Themes[] = {
        {0, "Default", QColor(226, 230, 246)}, {1, "Gray", QColor(236, 236, 236)},
        {2, "Orange", QColor(248, 242, 224)},  {3, "Purple", QColor(246, 230, 241)},
        {4, "Red", QColor(247, 225, 225)},     {5, "Green", QColor(226, 247, 225)},
        {6, "Light blue", QColor(225, 240, 247)}, {7, "Dark", QColor(44, 46, 52)},
        {9, "", QColor(235, 235, 235)},       {-1, "", QColor(235, 235, 235)},
    };
    for (const auto& T : Themes) {
        EXPECT_STREQ(ThemeName(T.Index), T.Name) << T.Index;
        EXPECT_EQ(OddRowTint(T.Index), T.Tint) << T.Index;
    }
    EXPECT_STREQ(ThemeName(ThemeSystem), "System");
}

// WCAG contrast ratio of two colours.
static double Contrast(const QColor& A, const QColor& B) {
    auto Lum = [](const QColor& C) {
        auto Lin = [](double V) { return V <= 0.03928 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4); };
        return 0.2126 * Lin(C.redF()) + 0.7152 * Lin(C.greenF()) + 0.0722 * Lin(C.blueF());
    };
    double L1 = Lum(A), L2 = Lum(B);
    return (std::max(L1, L2) + 0.05) / (std::min(L1, L2) + 0.05);
}

TEST(Theme, EveryThemeIsFusionWithReadableColoursAndOutOfRangeKeepsIt) {
    QSet<QRgb> Windows;
    for (int I = 0; I < TintedThemeCount; ++I) {
        ApplyTheme(I);
        ASSERT_EQ(CurrentTheme(), I);
        EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
        const QPalette P = QApplication::palette();
        EXPECT_EQ(P.color(QPalette::Base), QColor(Qt::white)) << ThemeName(I);
        EXPECT_EQ(P.color(QPalette::AlternateBase), OddRowTint(I)) << ThemeName(I);
        EXPECT_GE(Contrast(P.color(QPalette::WindowText), P.color(QPalette::Window)), 7.0) << ThemeName(I);
        EXPECT_GE(Contrast(P.color(QPalette::ButtonText), P.color(QPalette::Button)), 7.0) << ThemeName(I);
        EXPECT_GE(Contrast(P.color(QPalette::HighlightedText), P.color(QPalette::Highlight)), 4.5) << ThemeName(I);
        Windows.insert(P.color(QPalette::Window).rgb());
    }
    EXPECT_EQ(Windows.size(), TintedThemeCount) << "each theme tints its windows";

    ApplyTheme(3);
    const QColor Purple = QApplication::palette().color(QPalette::Window);
    for (int Outside : {-1, ThemeCount, 100}) {
        ApplyTheme(Outside);
        EXPECT_EQ(CurrentTheme(), 3);
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), Purple);
    }

    // A window with a palette of its own gets the theme in use again.
    QWidget Window;
    QPalette Own;
    Own.setColor(QPalette::Window, Qt::black);
    Window.setPalette(Own);
    ApplyCurrentTheme(&Window);
    EXPECT_EQ(Window.palette().color(QPalette::Window), Purple);
    ApplyTheme(0);
}

// Under every theme, the seven, Dark and System alike: texts on their
// grounds, the list's rows as it draws them, read-only fields and the
// captions on picture backgrounds.
TEST(Theme, EveryColourPairIsReadableUnderEveryTheme) {
    const QString SystemStyle = QApplication::style()->name();
    for (int I = 0; I < ThemeCount; ++I) {
        SCOPED_TRACE(ThemeName(I));
        ApplyTheme(I);
        EXPECT_EQ(CurrentTheme(), I);
        const QPalette P = QApplication::palette();
        const TListColours L = ListColours(I);
        // Under System the palette's own pairs are the desktop's choice;
        // what the program makes of them is checked.
        const bool Ours = I != ThemeSystem;
        const struct {
            const char* What;
            QColor Text, Ground;
            double Least;
            bool Checked;
        } Pairs[] = {
            {"window text", P.color(QPalette::WindowText), P.color(QPalette::Window), 7.0, Ours},
            {"button text", P.color(QPalette::ButtonText), P.color(QPalette::Button), 4.5, Ours},
            {"field text", P.color(QPalette::Text), P.color(QPalette::Base), 7.0, Ours},
            {"selection", P.color(QPalette::HighlightedText), P.color(QPalette::Highlight), 4.5, Ours},
            {"even row", L.Text, L.Even, 7.0, true},
            {"odd row", L.Text, L.Odd, 7.0, true},
            {"selected row", L.SelectedText, L.SelectedFocused, 4.5, Ours},
            {"unfocused selected row", L.Text, L.Selected, 4.5, true},
            {"check box", L.Check, L.Odd, 4.5, true},
            {"read-only field", Colour3DLightText(), Colour3DLight(), 7.0, true},
            {"picture caption", PictureCaption(), PictureBackground(), 4.5, true},
        };
        for (const auto& Pair : Pairs) {
            if (Pair.Checked) {
                EXPECT_GE(Contrast(Pair.Text, Pair.Ground), Pair.Least) << Pair.What;
            }
        }
        // The list can tell its rows apart.
        EXPECT_NE(L.Even, L.Odd);
        EXPECT_NE(L.SelectedFocused, L.Selected);
    }
    // Dark is dark everywhere, with picture grounds of its own; System
    // brings back the style the program found.
    ApplyTheme(ThemeDark);
    EXPECT_TRUE(DarkColours());
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 80);
    EXPECT_LT(PictureBackground().lightness(), 80);
    ApplyTheme(ThemeSystem);
    EXPECT_EQ(QApplication::style()->name(), SystemStyle);
    ApplyTheme(0);
    EXPECT_FALSE(DarkColours());
    EXPECT_EQ(PictureBackground(), PreviewBackground);
    EXPECT_EQ(Colour3DLight(), QColor(227, 227, 227));
}

// The style's black glyphs (play, stop, close) turn light under a dark
// theme; coloured pictures stay as they are.
TEST(Theme, DarkGlyphIconsAreLightenedUnderDarkThemes) {
    struct TCase {
        const char* Name;
        QStyle::StandardPixmap Picture;
        bool Glyph;
    } Cases[] = {{"play", QStyle::SP_MediaPlay, true}, {"stop", QStyle::SP_MediaStop, true},
                 {"save", QStyle::SP_DialogSaveButton, false}};
    auto Lightest = [](const QIcon& Icon) {
        const QImage Image = Icon.pixmap(24, 24).toImage().convertToFormat(QImage::Format_ARGB32);
        int Most = 0;
        for (int Y = 0; Y < Image.height(); ++Y)
            for (int X = 0; X < Image.width(); ++X)
                if (qAlpha(Image.pixel(X, Y)) > 128) Most = std::max(Most, QColor(Image.pixel(X, Y)).lightness());
        return Most;
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        ApplyTheme(0);
        const QIcon Icon = ThemedIcon("no-such-icon-in-any-theme", C.Picture);
        const QImage Light = Icon.pixmap(24, 24).toImage();
        const int Before = Lightest(Icon);
        ApplyTheme(ThemeDark);
        if (C.Glyph) {
            EXPECT_LT(Before, 110);
            EXPECT_GT(Lightest(Icon), 170);
        } else {
            EXPECT_EQ(Icon.pixmap(24, 24).toImage(), Light);
        }
    }
    ApplyTheme(0);
}

class PictureViewTest : public ::testing::Test {
protected:
    void SetUp() override { View.resize(160, 120); }
    TPictureView View;
};

TEST_F(PictureViewTest, WideBitmapLeavesMarginsAsTheyWere) {
    EXPECT_EQ(PixelAt(View.Canvas(), 0, 0), PreviewBackground);
    // A 4:3 picture covers the whole canvas first.
    TBitmap Full(40, 30);
    Full.Fill(0, 0, 255);
    View.DrawBitmap(Full);
    EXPECT_EQ(PixelAt(View.Canvas(), 0, 0), QColor(0, 0, 255));

    // 16:9 into 160 x 120: full width, 15 rows above and below stay blue.
    TBitmap Wide(32, 18);
    Wide.Fill(200, 30, 10);
    View.DrawBitmap(Wide);
    const QImage& C = View.Canvas();
    const struct {
        int Y;
        QColor Colour;
    } Rows[] = {{0, QColor(0, 0, 255)},    {14, QColor(0, 0, 255)},   {15, QColor(200, 30, 10)},
                {60, QColor(200, 30, 10)}, {104, QColor(200, 30, 10)}, {105, QColor(0, 0, 255)},
                {119, QColor(0, 0, 255)}};
    for (const auto& R : Rows) {
        EXPECT_EQ(PixelAt(C, 0, R.Y), R.Colour) << "row " << R.Y;
        EXPECT_EQ(PixelAt(C, 159, R.Y), R.Colour) << "row " << R.Y;
    }

    // Width 33 pads each row to 100 bytes, so the stride has to be honoured.
    TBitmap Padded(33, 33);
    Padded.Fill(10, 200, 30);
    View.ClearCanvas();
    View.DrawBitmap(Padded);
    // Square into 4:3: 20 columns left and right keep the background.
    EXPECT_EQ(PixelAt(View.Canvas(), 19, 60), PreviewBackground);
    EXPECT_EQ(PixelAt(View.Canvas(), 20, 0), QColor(10, 200, 30));
    EXPECT_EQ(PixelAt(View.Canvas(), 139, 119), QColor(10, 200, 30));
    EXPECT_EQ(PixelAt(View.Canvas(), 140, 60), PreviewBackground);
}

TEST_F(PictureViewTest, ReleasesTheLockAndKeepsDrawingOnResize) {
    View.show();
    TBitmap Bitmap(16, 12);
    Bitmap.Fill(255, 0, 0);
    View.DrawBitmap(Bitmap);
    std::atomic<bool> Free{false};
    std::thread Other([&] {
        Bitmap.Lock();
        Free = true;
        Bitmap.Unlock();
    });
    Other.join();
    EXPECT_TRUE(Free);

    View.resize(200, 150);
    QApplication::processEvents();
    ASSERT_EQ(View.Canvas().size(), QSize(200, 150));
    EXPECT_EQ(PixelAt(View.Canvas(), 100, 60), QColor(255, 0, 0));
    EXPECT_EQ(PixelAt(View.Canvas(), 180, 140), PreviewBackground);

    TBitmap Empty;
    const QImage Before = View.Canvas();
    View.DrawBitmap(Empty);
    EXPECT_EQ(View.Canvas(), Before);
}

TEST(MessageBoxes, ShowCaptionTextAndIconByKind) {
    const struct {
        TMessageKind Kind;
        QMessageBox::Icon Icon;
    } Kinds[] = {{TMessageKind::Information, QMessageBox::Information},
                 {TMessageKind::Warning, QMessageBox::Warning},
                 {TMessageKind::Error, QMessageBox::Critical}};
    InstallMessageBoxes();
    for (const auto& K : Kinds) {
        QString Caption, Text;
        QMessageBox::Icon Icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(Box, nullptr);
            Caption = Box->windowTitle();
            Text = Box->text();
            Icon = Box->icon();
            Box->accept();
        });
        ShowMessageBox("Tarn MP4 Video Converter", "Something to say.", K.Kind);
        EXPECT_EQ(Caption, "Tarn MP4 Video Converter");
        EXPECT_EQ(Text, "Something to say.");
        EXPECT_EQ(Icon, K.Icon);
    }
    SetMessageFunction({});
    SetQuestionFunction({});
}

// Questions get one button per answer; the one clicked is the answer,
// Escape gives the Cancel answer, Return the default one. Without a box
// installed there is no one to ask: the answer is Cancel.
TEST(MessageBoxes, QuestionsAnswerWithTheButtonChosen) {
    const std::vector<std::string> Answers = {"Stop", "Continue"};
    SetQuestionFunction({});
    EXPECT_EQ(AskQuestion("Title", "Stop converting?", Answers, 1, 1), 1);
    InstallMessageBoxes();
    const struct {
        const char* Name;
        std::function<void(QMessageBox&)> Answer;
        int Expected;
    } Cases[] = {
        {"click Stop", [](QMessageBox& Box) { Box.buttons()[0]->click(); }, 0},
        {"Escape", [](QMessageBox& Box) { QTest::keyClick(&Box, Qt::Key_Escape); }, 1},
        {"Return", [](QMessageBox& Box) { QTest::keyClick(&Box, Qt::Key_Return); }, 1},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        QStringList Buttons;
        QString Text;
        QTimer::singleShot(0, [&] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(Box, nullptr);
            Text = Box->text();
            for (QAbstractButton* B : Box->buttons()) Buttons << B->text();
            C.Answer(*Box);
        });
        EXPECT_EQ(AskQuestion("Title", "Stop converting?", Answers, 1, 1), C.Expected);
        EXPECT_EQ(Text, "Stop converting?");
        EXPECT_EQ(Buttons, (QStringList{"Stop", "Continue"}));
    }
    SetMessageFunction({});
    SetQuestionFunction({});
}

TEST(PlatformServices, ReplaceableAndCdRomTestOnOrdinaryFolders) {
    struct TFake : TPlatformServices {
        bool IsCdRom(const std::string&) override { return true; }
        bool PowerOff() override { return false; }
    } Fake;
    SetPlatform(&Fake);
    EXPECT_TRUE(Platform().IsCdRom("/tmp"));
    SetPlatform(nullptr);
    EXPECT_NE(&Platform(), &Fake);
    EXPECT_FALSE(Platform().IsCdRom(TEST_BINARY_DIR));
    // A folder not made yet is judged by its nearest existing parent.
    EXPECT_FALSE(Platform().IsCdRom(std::string(TEST_BINARY_DIR) + "/not/made/yet"));
}
