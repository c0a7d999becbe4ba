#include "widgets/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
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

int AskBox(QWidget* Parent, const std::string& Caption, const std::string& Text,
           const std::vector<std::string>& Answers, int Default, int Cancel) {
    QWidget* Owner = Parent ? Parent : QApplication::activeWindow();
    // A modal window in front (the progress dialog) owns the question.
    if (QWidget* Modal = QApplication::activeModalWidget()) Owner = Modal;
    QMessageBox Box(QMessageBox::Question, QString::fromStdString(Caption), QString::fromStdString(Text),
                    QMessageBox::NoButton, Owner);
    std::vector<QAbstractButton*> Buttons;
    for (size_t I = 0; I < Answers.size(); ++I) {
        const int Index = static_cast<int>(I);
        QPushButton* B = Box.addButton(QString::fromStdString(Answers[I]),
                                       Index == Cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (Index == Default) Box.setDefaultButton(B);
        if (Index == Cancel) Box.setEscapeButton(B);
        Buttons.push_back(B);
    }
    Box.exec();
    for (size_t I = 0; I < Buttons.size(); ++I)
        if (Box.clickedButton() == Buttons[I]) return static_cast<int>(I);
    return Cancel;
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
    // Questions are asked on the UI thread only.
    SetQuestionFunction([Owner](const std::string& Caption, const std::string& Text,
                                const std::vector<std::string>& Answers, int Default, int Cancel) {
        if (!qApp || QThread::currentThread() != qApp->thread()) return Cancel;
        return AskBox(Owner.data(), Caption, Text, Answers, Default, Cancel);
    });
}
