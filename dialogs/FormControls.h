// What the trim and crop dialogs share: controls placed by hand at fixed
// positions, and opening the row's file.
#pragma once

#include <initializer_list>
#include <string>

#include "widgets/Controls.h"

class QLabel;
class QPushButton;
class QToolButton;
class QWidget;
class TElidedLabel;
class TPreviewPlayer;
class TVxAVConverter;

// A caption at X, Y, as wide as its text or W when W > 0.
QLabel* Caption(QWidget* Parent, const char* Text, int X, int Y, int W = 0);
// A one-line label for a path at X, Y, W wide, elided in the middle when the
// path is wider.
TElidedLabel* PathLabel(QWidget* Parent, int X, int Y, int W);
QPushButton* Button(QWidget* Parent, const char* Text, const char* Name, int X, int Y, int W = 90);
// The preview player's picture buttons in a row under its slider, spaced as
// the main window spaces its own.
void PlacePictureButtons(std::initializer_list<QToolButton*> Buttons);

// Makes File the converter's only job and opens it in the player; a file
// the player cannot open gives a warning and false.
bool OpenDialogSource(TVxAVConverter& Converter, TPreviewPlayer& Player, const std::string& File);
