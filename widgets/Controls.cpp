#include "widgets/Controls.h"

#include <QApplication>
#include <QToolButton>

QIcon ThemedIcon(const char* Name, QStyle::StandardPixmap Fallback) {
    return QIcon::fromTheme(QString::fromLatin1(Name), QApplication::style()->standardIcon(Fallback));
}

QIcon PictureOf(TPicture Picture) {
    switch (Picture) {
        case TPicture::Play: return ThemedIcon("media-playback-start", QStyle::SP_MediaPlay);
        case TPicture::Pause: return ThemedIcon("media-playback-pause", QStyle::SP_MediaPause);
        case TPicture::Stop: return ThemedIcon("media-playback-stop", QStyle::SP_MediaStop);
        case TPicture::Snapshot: return ThemedIcon("camera-photo", QStyle::SP_DialogSaveButton);
        case TPicture::StepBack: return ThemedIcon("go-previous", QStyle::SP_ArrowLeft);
        case TPicture::StepForward: return ThemedIcon("go-next", QStyle::SP_ArrowRight);
    }
    return {};
}

QToolButton* PictureButton(QWidget* Parent, const char* Name, const QString& Hint, const QIcon& Icon,
                           QSize IconSize) {
    auto* B = new QToolButton(Parent);
    B->setObjectName(QString::fromLatin1(Name));
    B->setText(Hint);
    B->setToolTip(Hint);
    B->setIcon(Icon);
    B->setIconSize(IconSize);
    B->setToolButtonStyle(Qt::ToolButtonIconOnly);
    B->resize(PictureButtonSize);
    return B;
}

QToolButton* CommandButton(QWidget* Parent, const char* Name, const QString& Caption, const QIcon& Icon) {
    auto* B = new QToolButton(Parent);
    B->setObjectName(QString::fromLatin1(Name));
    B->setText(Caption);
    B->setIcon(Icon);
    B->setIconSize(QSize(24, 24));
    B->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    B->setAutoRaise(true);
    return B;
}
