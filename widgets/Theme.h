// The colour themes of the Skin menu: seven tinted light themes, a dark
// theme of our own and the desktop's own palette ("System"). The first eight
// are the Fusion style with one palette each; System is the style and
// palette the program found at its start.
#pragma once

#include <QColor>

class QWidget;

// The seven light themes, then Dark and System.
constexpr int TintedThemeCount = 7;
constexpr int ThemeDark = 7;
constexpr int ThemeSystem = 8;
constexpr int ThemeCount = 9;

// "Default", "Gray", "Orange", "Purple", "Red", "Green", "Light blue",
// "Dark", "System"; "" outside.
const char* ThemeName(int Index);
// Applies theme Index to the application; an index outside 0..8 keeps the
// theme in use.
void ApplyTheme(int Index);
// The theme in use (0 before any was applied).
int CurrentTheme();
// True when the theme in use draws light text on dark backgrounds (Dark,
// and System on a dark desktop).
bool DarkColours();
// Read-only and shown-on-demand fields: the classic 3D-light system colour
// under the light themes, a colour of the same role under the dark ones.
QColor Colour3DLight();
// Text on such a field.
QColor Colour3DLightText();
// The tint of the file list's odd rows under theme Index.
QColor OddRowTint(int Index);
// The background of picture areas (the preview, the progress picture).
QColor PictureBackground();
// Colours of the text painted on a picture background.
QColor PictureCaption();

// How the file list draws its rows under a theme.
struct TListColours {
    QColor Even, Odd;                       // row backgrounds
    QColor SelectedFocused, Selected;       // selected row, list focused or not
    QColor FrameFocused, Frame;             // the selected row's frame
    QColor Text, SelectedText;              // cell texts
    QColor Check;                           // the hand-drawn check box
};
TListColours ListColours(int Index);

// Dialogs call this when they are shown, so a theme chosen since they were
// created reaches them too.
void ApplyCurrentTheme(QWidget* Window);
