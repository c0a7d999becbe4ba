#include "gui/LogWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "widgets/Theme.h"

TfrmLog::TfrmLog(QPlainTextEdit* Source, QWidget* Parent) : QDialog(Parent), FSource(Source) {
    setObjectName("frmLog");
    setWindowTitle("Log");
    resize(640, 420);

    mmoText = new QPlainTextEdit(this);
    mmoText->setObjectName("mmoText");
    mmoText->setReadOnly(true);
    mmoText->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    btnCopy = new QPushButton("&Copy All", this);
    btnCopy->setObjectName("btnCopy");
    btnClose = new QPushButton("Close", this);
    btnClose->setObjectName("btnClose");
    btnClose->setDefault(true);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(btnCopy);
    Buttons->addWidget(btnClose);
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(mmoText);
    Layout->addLayout(Buttons);

    connect(btnCopy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(mmoText->toPlainText()); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    // Many lines arrive at once while files are added: one refresh for all.
    FRefresh = new QTimer(this);
    FRefresh->setSingleShot(true);
    FRefresh->setInterval(100);
    connect(FRefresh, &QTimer::timeout, this, &TfrmLog::Refresh);
    if (FSource)
        connect(FSource, &QPlainTextEdit::textChanged, this, [this] {
            if (isVisible()) FRefresh->start();
        });
}

void TfrmLog::showEvent(QShowEvent* Event) {
    ApplyCurrentTheme(this);
    QDialog::showEvent(Event);
    Refresh();
}

void TfrmLog::Refresh() {
    if (!FSource) return;
    QScrollBar* Bar = mmoText->verticalScrollBar();
    const bool AtEnd = Bar->value() == Bar->maximum();
    mmoText->setPlainText(FSource->toPlainText());
    if (AtEnd) Bar->setValue(Bar->maximum());
}
