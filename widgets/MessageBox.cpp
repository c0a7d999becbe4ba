#include "widgets/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include "app/GlobalUnit.h"

namespace {

QMessageBox::Icon IconFor(TMessageKind Kind) {
    switch (Kind) {
    case TMessageKind::Information: return QMessageBox::Information;
    case TMessageKind::Warning: return QMessageBox::Warning;
    case TMessageKind::Error: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

void ShowBox(QWidget* Parent, const std::string& Caption, const std::string& Text, TMessageKind Kind) {
    QWidget* Owner = Parent ? Parent : QApplication::activeWindow();
    QMessageBox Box(IconFor(Kind), QString::fromStdString(Caption), QString::fromStdString(Text), QMessageBox::Ok,
                    Owner);
    Box.exec();
}

}  // namespace

void InstallMessageBoxes(QWidget* Parent) {
    QPointer<QWidget> Owner(Parent);
    SetMessageFunction([Owner](const std::string& Caption, const std::string& Text, TMessageKind Kind) {
        if (!qApp) return;
        // Windows live on the UI thread; a message from elsewhere waits there.
        if (QThread::currentThread() == qApp->thread()) {
            ShowBox(Owner.data(), Caption, Text, Kind);
            return;
        }
        QMetaObject::invokeMethod(
            qApp, [&] { ShowBox(Owner.data(), Caption, Text, Kind); }, Qt::BlockingQueuedConnection);
    });
}
