// The about box: product name and version, the legal lines and a link to
// the product's page.
#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

// A label that works as a link: blue, red while the mouse is over it, a
// hand cursor, and a click opens its address with the desktop's handler.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* Parent = nullptr);
    void SetAddress(const QString& Address);
    const QString& Address() const { return FAddress; }

protected:
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void SetHot(bool Hot);
    void UpdateText();

    QString FAddress;
    bool FHot = false;
};

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownWidth = 300;
    static constexpr int ShownHeight = 150;

    explicit TfrmAbout(QWidget* Parent = nullptr);

    QLabel* lblAppNameVer = nullptr;
    QLabel* lblRights = nullptr;
    TLinkLabel* lblBuyNow1 = nullptr;
    QPushButton* btn1 = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void FormShow();
    void btn1Click();

    QLabel* imgIcon = nullptr;
    QLabel* lblLegal = nullptr;
};
