// The about box: product name and version, the legal lines, a link to the
// product's page, and the libraries the program stands on with the versions
// loaded and their licences.
#pragma once

#include <QDialog>
#include <QLabel>

#include <functional>

class QPushButton;
class QTreeWidget;

// A label that works as a link: blue, red while the mouse is over it, a
// hand cursor, and a click opens its address with the desktop's handler.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* Parent = nullptr);
    void SetAddress(const QString& Address);
    const QString& Address() const { return FAddress; }

protected:
    void showEvent(QShowEvent* Event) override;
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
    // Wide enough for the list of libraries with their versions.
    static constexpr int ShownWidth = 520;
    static constexpr int ShownHeight = 400;
    enum TCreditColumn { ccName, ccVersion, ccLicence };

    explicit TfrmAbout(QWidget* Parent = nullptr);

    // Loads the codec libraries when they are not yet, so that their
    // versions can be shown; set by the main window.
    std::function<void()> LoadLibraries;

    QLabel* lblAppNameVer = nullptr;
    QLabel* lblRights = nullptr;
    TLinkLabel* lblBuyNow1 = nullptr;
    // One row per library: name, version loaded (the file in its tooltip),
    // licence.
    QTreeWidget* tvCredits = nullptr;
    QPushButton* btnLicences = nullptr;
    QPushButton* btn1 = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void FormShow();
    void FillCredits();
    void btn1Click();
    void btnLicencesClick();

    QLabel* imgIcon = nullptr;
    QLabel* lblLegal = nullptr;
};
