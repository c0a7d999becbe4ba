// The splash window: shown before the main window is made, hidden once the
// main window is showing.
#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QTimer;

class TfrmCover : public QWidget {
    Q_OBJECT
public:
    static constexpr int CoverWidth = 399;
    static constexpr int CoverHeight = 239;

    explicit TfrmCover(QWidget* Parent = nullptr);

    // The window whose showing ends the splash.
    void SetMainWindow(QWidget* MainWindow);
    // Shows the splash centred and paints it before returning.
    void ShowNow();
    // True when the picture came from "skin/mp4videocover.jpg".
    bool HasCoverFile() const { return FCoverFile; }

    QLabel* imgCover = nullptr;
    QTimer* tmr1 = nullptr;

    void tmr1Timer();

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void FormCreate();
    void CenterOnScreen();

    QPointer<QWidget> FMainWindow;
    bool FCoverFile = false;
};
