// A window that shows the main window's log, which the file list covers.
#pragma once

#include <QDialog>
#include <QPointer>

class QPlainTextEdit;
class QPushButton;
class QTimer;

class TfrmLog : public QDialog {
    Q_OBJECT
public:
    // Follows Source while it lives.
    explicit TfrmLog(QPlainTextEdit* Source, QWidget* Parent = nullptr);

    QPlainTextEdit* mmoText = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void Refresh();

    QPushButton* btnCopy = nullptr;
    QPushButton* btnClose = nullptr;
    QPointer<QPlainTextEdit> FSource;
    QTimer* FRefresh = nullptr;
};
