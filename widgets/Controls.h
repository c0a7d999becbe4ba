// The buttons with pictures that several windows make: the preview players'
// picture buttons and the main window's tool-bar commands. One maker each,
// so that a command looks the same wherever it appears.
#pragma once

#include <QIcon>
#include <QSize>
#include <QString>
#include <QStyle>

class QToolButton;
class QWidget;

// The desktop theme's icon Name, else the style's own Fallback.
QIcon ThemedIcon(const char* Name, QStyle::StandardPixmap Fallback);

// The pictures of the commands that more than one window offers.
enum class TPicture { Play, Pause, Stop, Snapshot, StepBack, StepForward };
QIcon PictureOf(TPicture Picture);

// A button that shows only its picture, with Hint as its tooltip and its
// accessible text. It comes PictureButtonSize large; the caller places it.
inline constexpr QSize PictureButtonSize(44, 34);
QToolButton* PictureButton(QWidget* Parent, const char* Name, const QString& Hint, const QIcon& Icon,
                           QSize IconSize = QSize(20, 20));

// A tool-bar command: its picture with the caption under it, flat until the
// mouse is over it.
QToolButton* CommandButton(QWidget* Parent, const char* Name, const QString& Caption, const QIcon& Icon);
