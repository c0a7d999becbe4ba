#include "dialogs/WinCover.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "app/GlobalUnit.h"
#include "widgets/Artwork.h"

TfrmCover::TfrmCover(QWidget* Parent)
    : QWidget(Parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("frmCover");
    setFixedSize(CoverWidth, CoverHeight);
    imgCover = new QLabel(this);
    imgCover->setObjectName("imgCover");
    imgCover->setGeometry(0, 0, CoverWidth, CoverHeight);
    imgCover->setScaledContents(true);
    tmr1 = new QTimer(this);
    tmr1->setObjectName("tmr1");
    tmr1->setInterval(1000);
    connect(tmr1, &QTimer::timeout, this, &TfrmCover::tmr1Timer);
    FormCreate();
}

void TfrmCover::FormCreate() {
    // The splash comes before the application-wide object: a default one
    // gives the product texts.
    TGlobalObject Defaults;
    const TGlobalObject& Texts = GlobalObject ? *GlobalObject : Defaults;
    QPixmap Picture = SplashPicture(CoverWidth, CoverHeight, QString::fromStdString(Texts.AppTitle()),
                                   QString::fromStdString(Texts.AppVersion()));
    const QString CoverFile = QString::fromStdString(AppDataFolder()) + "skin/mp4videocover.jpg";
    QPixmap FromFile;
    if (QFile::exists(CoverFile) && FromFile.load(CoverFile)) {
        Picture = FromFile;
        FCoverFile = true;
    }
    imgCover->setPixmap(Picture);
    tmr1->start();
}

void TfrmCover::SetMainWindow(QWidget* MainWindow) { FMainWindow = MainWindow; }

void TfrmCover::ShowNow() {
    show();
    raise();
    // Paint now: the main window's creation keeps the loop busy for a while.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
}

void TfrmCover::tmr1Timer() {
    if (FMainWindow && FMainWindow->isVisible()) {
        hide();
        tmr1->stop();
    }
}

void TfrmCover::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    CenterOnScreen();
    if (!tmr1->isActive()) tmr1->start();
}

void TfrmCover::CenterOnScreen() {
    QScreen* Where = screen();
    if (!Where) return;
    move(Where->availableGeometry().center() - rect().center());
}
