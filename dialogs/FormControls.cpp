#include "dialogs/FormControls.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <exception>

#include "app/GlobalUnit.h"
#include "component/VxAVConverter.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PreviewPlayer.h"

QLabel* Caption(QWidget* Parent, const char* Text, int X, int Y, int W) {
    auto* Label = new QLabel(QString::fromUtf8(Text), Parent);
    Label->adjustSize();
    Label->move(X, Y);
    if (W > 0) Label->resize(W, Label->height());
    return Label;
}

TElidedLabel* PathLabel(QWidget* Parent, int X, int Y, int W) {
    auto* Label = new TElidedLabel(Parent);
    Label->setGeometry(X, Y, W, Label->fontMetrics().height() + 2);
    return Label;
}

QPushButton* Button(QWidget* Parent, const char* Text, const char* Name, int X, int Y, int W) {
    auto* Btn = new QPushButton(QString::fromUtf8(Text), Parent);
    Btn->setObjectName(Name);
    Btn->setGeometry(X, Y, W, 28);
    return Btn;
}

void PlacePictureButtons(std::initializer_list<QToolButton*> Buttons) {
    int X = 10;
    for (QToolButton* B : Buttons) {
        B->move(X, 298);
        X += PictureButtonSize.width() + 8;
    }
}

bool OpenDialogSource(TVxAVConverter& Converter, TPreviewPlayer& Player, const std::string& File) {
    Converter.ClearJobs();
    TInputOptions Options;
    InitInputOptions(Options);
    Options.FileName = File;
    Converter.AddInputFile(File, &Options);
    try {
        return Player.OpenFile(File);
    } catch (const std::exception& Error) {
        ShowMessageBox("Warning", Error.what(), TMessageKind::Warning);
        return false;
    }
}
