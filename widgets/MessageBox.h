// Message boxes of the windowed program. Everything shows its messages
// through ShowMessageBox (app/GlobalUnit.h); this installs the Qt boxes
// behind it. Tests install their own function with SetMessageFunction
// instead, so that no test waits on a modal box.
#pragma once

class QWidget;

// Routes ShowMessageBox to modal QMessageBox windows over Parent (or the
// active window): Information, Warning and Error icons, one OK button; and
// AskQuestion to a question box with one button per answer.
void InstallMessageBoxes(QWidget* Parent = nullptr);
