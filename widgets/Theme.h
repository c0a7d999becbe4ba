// The seven colour themes of the Skin menu: the Fusion style with one
// palette each, applied to the whole application.
#pragma once

#include <QColor>

class QWidget;

constexpr int ThemeCount = 7;

// "Default", "Gray", "Orange", "Purple", "Red", "Green", "Light blue".
const char* ThemeName(int Index);
// Applies theme Index to the application; an index outside 0..6 keeps the
// theme in use.
void ApplyTheme(int Index);
// The theme in use (0 before any was applied).
int CurrentTheme();
// The classic 3D-light system colour of read-only and shown-on-demand
// fields, the same under every theme.
inline const QColor Colour3DLight(227, 227, 227);
// The tint of the file list's odd rows under theme Index.
QColor OddRowTint(int Index);
// Dialogs call this when they are shown, so a theme chosen since they were
// created reaches them too.
void ApplyCurrentTheme(QWidget* Window);
