#include "widgets/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace {

struct TThemeColours {
    const char* Name;
    QColor Window;     // window and dialog background
    QColor Button;     // buttons, headers, tool bars
    QColor Highlight;  // selection; white text is drawn on it
    QColor OddRow;     // the file list's odd rows
};

// Tinted backgrounds, white bases and a dark accent each, so black text on
// the backgrounds and white text on the selection both stay readable.
const TThemeColours Themes[TintedThemeCount] = {
    {"Default", QColor(238, 240, 247), QColor(228, 232, 244), QColor(58, 102, 176), QColor(226, 230, 246)},
    {"Gray", QColor(237, 237, 237), QColor(226, 226, 226), QColor(88, 96, 110), QColor(236, 236, 236)},
    {"Orange", QColor(249, 243, 231), QColor(243, 230, 204), QColor(176, 92, 18), QColor(248, 242, 224)},
    {"Purple", QColor(246, 238, 245), QColor(236, 222, 234), QColor(122, 66, 132), QColor(246, 230, 241)},
    {"Red", QColor(248, 237, 237), QColor(240, 222, 222), QColor(168, 48, 48), QColor(247, 225, 225)},
    {"Green", QColor(237, 246, 236), QColor(222, 238, 221), QColor(46, 118, 58), QColor(226, 247, 225)},
    {"Light blue", QColor(235, 244, 249), QColor(217, 234, 245), QColor(32, 112, 168), QColor(225, 240, 247)},
};

// The dark theme's own colours.
namespace Dark {
const QColor Window(46, 47, 51), Base(32, 33, 36), Button(60, 62, 67), Text(228, 228, 228);
const QColor Highlight(58, 104, 172), OddRow(44, 46, 52), Field(56, 58, 63), Picture(34, 42, 56);
}  // namespace Dark

const QColor ClassicField(227, 227, 227);
const QColor ClassicPicture(166, 202, 240);
const QColor OutsideTint(235, 235, 235);

int ThemeInUse = 0;

// What the program found before it changed anything: the desktop's style
// and palette, which the System theme brings back.
struct TSystemLook {
    bool Taken = false;
    QString Style;
    QPalette Palette;
};
TSystemLook& SystemLook() {
    static TSystemLook Look;
    return Look;
}

void TakeSystemLook() {
    TSystemLook& Look = SystemLook();
    if (Look.Taken || !qApp) return;
    Look.Taken = true;
    Look.Style = QApplication::style() ? QApplication::style()->name() : QString("fusion");
    Look.Palette = QApplication::palette();
}

bool IsDark(const QPalette& P) { return P.color(QPalette::Window).lightness() < 128; }

QPalette TintedPalette(int Index) {
    const TThemeColours& T = Themes[Index];
    const QColor Text(24, 24, 28);
    const QColor DisabledText(150, 150, 150);
    QPalette P;
    P.setColor(QPalette::Window, T.Window);
    P.setColor(QPalette::WindowText, Text);
    P.setColor(QPalette::Base, Qt::white);
    P.setColor(QPalette::AlternateBase, T.OddRow);
    P.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    P.setColor(QPalette::ToolTipText, Text);
    P.setColor(QPalette::PlaceholderText, QColor(128, 128, 128));
    P.setColor(QPalette::Text, Text);
    P.setColor(QPalette::Button, T.Button);
    P.setColor(QPalette::ButtonText, Text);
    P.setColor(QPalette::BrightText, Qt::white);
    P.setColor(QPalette::Highlight, T.Highlight);
    P.setColor(QPalette::HighlightedText, Qt::white);
    P.setColor(QPalette::Link, QColor(0, 0, 238));
    P.setColor(QPalette::LinkVisited, QColor(85, 26, 139));
    P.setColor(QPalette::Light, T.Button.lighter(115));
    P.setColor(QPalette::Midlight, T.Button.lighter(105));
    P.setColor(QPalette::Mid, T.Button.darker(130));
    P.setColor(QPalette::Dark, T.Button.darker(160));
    P.setColor(QPalette::Shadow, QColor(60, 60, 60));
    for (QPalette::ColorRole Role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        P.setColor(QPalette::Disabled, Role, DisabledText);
    P.setColor(QPalette::Disabled, QPalette::Base, T.Window);
    P.setColor(QPalette::Disabled, QPalette::Highlight, T.Highlight.lighter(140));
    // A selection in an inactive window keeps its colour, as the list's own
    // drawing does.
    P.setColor(QPalette::Inactive, QPalette::Highlight, T.Highlight);
    P.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::white);
    return P;
}

QPalette DarkPalette() {
    using namespace Dark;
    const QColor DisabledText(128, 129, 133);
    QPalette P;
    P.setColor(QPalette::Window, Window);
    P.setColor(QPalette::WindowText, Text);
    P.setColor(QPalette::Base, Base);
    P.setColor(QPalette::AlternateBase, OddRow);
    P.setColor(QPalette::ToolTipBase, QColor(62, 64, 70));
    P.setColor(QPalette::ToolTipText, Text);
    P.setColor(QPalette::PlaceholderText, QColor(140, 141, 146));
    P.setColor(QPalette::Text, Text);
    P.setColor(QPalette::Button, Button);
    P.setColor(QPalette::ButtonText, Text);
    P.setColor(QPalette::BrightText, QColor(255, 128, 128));
    P.setColor(QPalette::Highlight, Highlight);
    P.setColor(QPalette::HighlightedText, Qt::white);
    P.setColor(QPalette::Link, QColor(122, 178, 255));
    P.setColor(QPalette::LinkVisited, QColor(190, 160, 246));
    P.setColor(QPalette::Light, Button.lighter(135));
    P.setColor(QPalette::Midlight, Button.lighter(115));
    P.setColor(QPalette::Mid, Button.darker(130));
    P.setColor(QPalette::Dark, Button.darker(170));
    P.setColor(QPalette::Shadow, QColor(12, 12, 14));
    for (QPalette::ColorRole Role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        P.setColor(QPalette::Disabled, Role, DisabledText);
    P.setColor(QPalette::Disabled, QPalette::Base, Window);
    P.setColor(QPalette::Disabled, QPalette::Button, Window);
    P.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 80, 96));
    P.setColor(QPalette::Inactive, QPalette::Highlight, Highlight);
    P.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::white);
    return P;
}

QPalette ThemePalette(int Index) {
    if (Index == ThemeDark) return DarkPalette();
    if (Index == ThemeSystem) return SystemLook().Taken ? SystemLook().Palette : QApplication::palette();
    return TintedPalette(Index);
}

bool ValidTheme(int Index) { return Index >= 0 && Index < ThemeCount; }

// The colour half way from A to B by Share (0: A, 1: B).
QColor Blend(const QColor& A, const QColor& B, double Share) {
    return QColor::fromRgbF(float(A.redF() + (B.redF() - A.redF()) * Share),
                            float(A.greenF() + (B.greenF() - A.greenF()) * Share),
                            float(A.blueF() + (B.blueF() - A.blueF()) * Share));
}

}  // namespace

const char* ThemeName(int Index) {
    if (Index == ThemeDark) return "Dark";
    if (Index == ThemeSystem) return "System";
    return Index >= 0 && Index < TintedThemeCount ? Themes[Index].Name : "";
}

void ApplyTheme(int Index) {
    if (!ValidTheme(Index) || !qApp) return;
    TakeSystemLook();
    const QString Style = Index == ThemeSystem ? SystemLook().Style : QString("fusion");
    if (!QApplication::style() || QApplication::style()->name().compare(Style, Qt::CaseInsensitive) != 0) {
        if (QStyle* Made = QStyleFactory::create(Style))
            QApplication::setStyle(Made);
        else if (!QApplication::style() || QApplication::style()->name().compare("fusion", Qt::CaseInsensitive))
            QApplication::setStyle(QStyleFactory::create("Fusion"));
    }
    QApplication::setPalette(ThemePalette(Index));
    ThemeInUse = Index;
}

int CurrentTheme() { return ThemeInUse; }

bool DarkColours() {
    if (ThemeInUse == ThemeDark) return true;
    return ThemeInUse == ThemeSystem && IsDark(ThemePalette(ThemeSystem));
}

QColor Colour3DLight() {
    if (ThemeInUse == ThemeDark) return Dark::Field;
    if (ThemeInUse == ThemeSystem) {
        const QPalette P = ThemePalette(ThemeSystem);
        return Blend(P.color(QPalette::Base), P.color(QPalette::Window), 0.6);
    }
    return ClassicField;
}

QColor Colour3DLightText() {
    if (ThemeInUse == ThemeDark) return Dark::Text;
    if (ThemeInUse == ThemeSystem) return ThemePalette(ThemeSystem).color(QPalette::Active, QPalette::Text);
    return Qt::black;
}

QColor OddRowTint(int Index) {
    if (Index >= 0 && Index < TintedThemeCount) return Themes[Index].OddRow;
    if (Index == ThemeDark) return Dark::OddRow;
    if (Index == ThemeSystem) return ListColours(ThemeSystem).Odd;
    return OutsideTint;
}

QColor PictureBackground() {
    if (ThemeInUse == ThemeDark || (ThemeInUse == ThemeSystem && DarkColours())) return Dark::Picture;
    return ClassicPicture;
}

QColor PictureCaption() { return PictureBackground() == ClassicPicture ? QColor(40, 70, 120) : QColor(176, 196, 226); }

TListColours ListColours(int Index) {
    TListColours C;
    if (Index == ThemeDark) {
        C.Even = Dark::Base;
        C.Odd = Dark::OddRow;
        C.SelectedFocused = QColor(46, 84, 142);
        C.Selected = QColor(56, 64, 80);
        C.FrameFocused = QColor(104, 152, 222);
        C.Frame = QColor(92, 106, 132);
        C.Text = C.SelectedText = Dark::Text;
        C.Check = QColor(200, 201, 205);
        return C;
    }
    if (Index == ThemeSystem) {
        const QPalette P = ThemePalette(ThemeSystem);
        C.Even = P.color(QPalette::Active, QPalette::Base);
        C.Odd = P.color(QPalette::Active, QPalette::AlternateBase);
        // A palette without its own alternate colour gets a visible one.
        if (C.Odd == C.Even) C.Odd = Blend(C.Even, P.color(QPalette::Active, QPalette::Text), 0.05);
        C.SelectedFocused = P.color(QPalette::Active, QPalette::Highlight);
        C.SelectedText = P.color(QPalette::Active, QPalette::HighlightedText);
        C.Selected = Blend(C.Even, C.SelectedFocused, 0.35);
        C.FrameFocused = C.SelectedFocused.darker(125);
        C.Frame = Blend(C.Even, C.SelectedFocused, 0.6);
        C.Text = C.Check = P.color(QPalette::Active, QPalette::Text);
        return C;
    }
    C.Even = Qt::white;
    C.Odd = OddRowTint(Index);
    C.SelectedFocused = QColor(185, 204, 236);
    C.Selected = QColor(229, 236, 248);
    C.FrameFocused = QColor(122, 160, 218);
    C.Frame = QColor(152, 181, 226);
    C.Text = C.SelectedText = C.Check = Qt::black;
    return C;
}

void ApplyCurrentTheme(QWidget* Window) {
    if (!Window) return;
    // A window that set a palette of its own no longer follows the
    // application's; give it the theme in use again.
    QPalette Wanted = ThemePalette(ThemeInUse);
    if (Window->palette() != Wanted) Window->setPalette(Wanted);
}
