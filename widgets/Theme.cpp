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
const TThemeColours Themes[ThemeCount] = {
    {"Default", QColor(238, 240, 247), QColor(228, 232, 244), QColor(58, 102, 176), QColor(226, 230, 246)},
    {"Gray", QColor(237, 237, 237), QColor(226, 226, 226), QColor(88, 96, 110), QColor(236, 236, 236)},
    {"Orange", QColor(249, 243, 231), QColor(243, 230, 204), QColor(176, 92, 18), QColor(248, 242, 224)},
    {"Purple", QColor(246, 238, 245), QColor(236, 222, 234), QColor(122, 66, 132), QColor(246, 230, 241)},
    {"Red", QColor(248, 237, 237), QColor(240, 222, 222), QColor(168, 48, 48), QColor(247, 225, 225)},
    {"Green", QColor(237, 246, 236), QColor(222, 238, 221), QColor(46, 118, 58), QColor(226, 247, 225)},
    {"Light blue", QColor(235, 244, 249), QColor(217, 234, 245), QColor(32, 112, 168), QColor(225, 240, 247)},
};

int ThemeInUse = 0;

QPalette ThemePalette(int Index) {
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

bool ValidTheme(int Index) { return Index >= 0 && Index < ThemeCount; }

}  // namespace

const char* ThemeName(int Index) { return ValidTheme(Index) ? Themes[Index].Name : ""; }

void ApplyTheme(int Index) {
    if (!ValidTheme(Index) || !qApp) return;
    if (!QApplication::style() || QApplication::style()->name().compare("fusion", Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(ThemePalette(Index));
    ThemeInUse = Index;
}

int CurrentTheme() { return ThemeInUse; }

QColor OddRowTint(int Index) { return ValidTheme(Index) ? Themes[Index].OddRow : QColor(235, 235, 235); }

void ApplyCurrentTheme(QWidget* Window) {
    if (!Window) return;
    // A window that set a palette of its own no longer follows the
    // application's; give it the theme in use again.
    QPalette Wanted = ThemePalette(ThemeInUse);
    if (Window->palette() != Wanted) Window->setPalette(Wanted);
}
