#include "dialogs/WinAbout.h"

#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtGlobal>

#include "app/Credits.h"
#include "app/GlobalUnit.h"
#include "app/Snapshot.h"
#include "widgets/Artwork.h"
#include "widgets/Platform.h"
#include "widgets/Theme.h"

namespace {

constexpr int LabelWidth = 160;

}  // namespace

TLinkLabel::TLinkLabel(QWidget* Parent) : QLabel(Parent) {
    setCursor(Qt::PointingHandCursor);
    setTextFormat(Qt::PlainText);
    SetHot(false);
}

void TLinkLabel::SetAddress(const QString& Address) {
    FAddress = Address;
    setToolTip(Address);
    UpdateText();
}

void TLinkLabel::SetHot(bool Hot) {
    FHot = Hot;
    QPalette P = palette();
    // Blue and red as links always were; lighter ones on dark backgrounds.
    const bool Dark = DarkColours();
    P.setColor(QPalette::WindowText, Hot ? (Dark ? QColor(255, 128, 128) : QColor(Qt::red))
                                         : (Dark ? QColor(122, 178, 255) : QColor(Qt::blue)));
    setPalette(P);
}

void TLinkLabel::UpdateText() {
    // A long address is shortened in the middle; the tool tip shows it whole.
    setText(fontMetrics().elidedText(FAddress, Qt::ElideMiddle, qMax(width(), 40)));
}

void TLinkLabel::showEvent(QShowEvent* Event) {
    QLabel::showEvent(Event);
    // The theme may have changed since the colours were set.
    SetHot(FHot);
}

void TLinkLabel::enterEvent(QEnterEvent* Event) {
    QLabel::enterEvent(Event);
    SetHot(true);
}

void TLinkLabel::leaveEvent(QEvent* Event) {
    QLabel::leaveEvent(Event);
    SetHot(false);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* Event) {
    QLabel::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) && !FAddress.isEmpty())
        Platform().OpenUrl(FAddress.toStdString());
}

void TLinkLabel::resizeEvent(QResizeEvent* Event) {
    QLabel::resizeEvent(Event);
    UpdateText();
}

TfrmAbout::TfrmAbout(QWidget* Parent) : QDialog(Parent) {
    setObjectName("frmAbout");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    imgIcon = new QLabel(this);
    imgIcon->setObjectName("imgIcon");
    imgIcon->setFixedSize(33, 33);
    imgIcon->setPixmap(ProductIcon(33));

    lblAppNameVer = new QLabel(this);
    lblAppNameVer->setObjectName("lblAppNameVer");
    lblAppNameVer->setWordWrap(true);
    QFont Bold = lblAppNameVer->font();
    Bold.setBold(true);
    lblAppNameVer->setFont(Bold);

    lblLegal = new QLabel(QString::fromUtf8("Copyright \u00a9 Tarn Software"), this);
    lblLegal->setObjectName("lblLegal");
    // The program is free software: no rights are reserved beyond the GPL's.
    lblRights = new QLabel("Free software under the GNU General Public License, version 2 or later", this);
    lblRights->setObjectName("lblRights");
    lblRights->setWordWrap(true);
    for (QLabel* Label : {lblAppNameVer, lblLegal}) Label->setMinimumWidth(LabelWidth);

    lblBuyNow1 = new TLinkLabel(this);
    lblBuyNow1->setObjectName("lblBuyNow1");

    auto* lblCredits = new QLabel("Built with:", this);
    lblCredits->setObjectName("lblCredits");
    tvCredits = new QTreeWidget(this);
    tvCredits->setObjectName("tvCredits");
    tvCredits->setHeaderLabels({"Library", "Version", "Licence"});
    tvCredits->setRootIsDecorated(false);
    tvCredits->setIndentation(0);
    tvCredits->setSelectionMode(QAbstractItemView::NoSelection);
    tvCredits->setFocusPolicy(Qt::TabFocus);
    tvCredits->header()->setStretchLastSection(true);
    tvCredits->header()->setSectionsMovable(false);
    lblCredits->setBuddy(tvCredits);

    btnLicences = new QPushButton("&Licences", this);
    btnLicences->setObjectName("btnLicences");
    btnLicences->setToolTip("The licences in full, in the help page");
    btnLicences->setAutoDefault(false);
    connect(btnLicences, &QPushButton::clicked, this, &TfrmAbout::btnLicencesClick);

    btn1 = new QPushButton("&Ok", this);
    btn1->setObjectName("btn1");
    btn1->setDefault(true);
    connect(btn1, &QPushButton::clicked, this, &TfrmAbout::btn1Click);

    auto* Texts = new QVBoxLayout;
    Texts->setSpacing(2);
    Texts->addWidget(lblAppNameVer);
    Texts->addSpacing(4);
    Texts->addWidget(lblLegal);
    Texts->addWidget(lblRights);
    Texts->addSpacing(4);
    Texts->addWidget(lblBuyNow1);

    auto* Top = new QHBoxLayout;
    Top->setSpacing(14);
    Top->addWidget(imgIcon, 0, Qt::AlignTop);
    Top->addLayout(Texts, 1);

    auto* Bottom = new QHBoxLayout;
    Bottom->addWidget(btnLicences);
    Bottom->addStretch();
    Bottom->addWidget(btn1);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(14, 12, 12, 10);
    Main->addLayout(Top);
    Main->addSpacing(6);
    Main->addWidget(lblCredits);
    Main->addWidget(tvCredits, 1);
    Main->addLayout(Bottom);
    setTabOrder(tvCredits, btnLicences);
    setTabOrder(btnLicences, btn1);
    resize(ShownWidth, ShownHeight);
}

void TfrmAbout::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfrmAbout::FormShow() {
    setFixedSize(ShownWidth, ShownHeight);
    if (LoadLibraries) LoadLibraries();
    FillCredits();
    TGlobalObject Defaults;
    const TGlobalObject& Texts = GlobalObject ? *GlobalObject : Defaults;
    lblBuyNow1->SetAddress(QString::fromStdString(Texts.HomePageURL()));
    ApplyCurrentTheme(this);
    lblAppNameVer->setText(QString::fromStdString(Texts.AppTitle() + Texts.AppVersion()));
    setWindowTitle("About");
    btn1->setFocus();
}

void TfrmAbout::FillCredits() {
    tvCredits->clear();
    auto Row = [this](const std::string& Name, const std::string& Version, const std::string& File,
                      const std::string& Licence) {
        auto* Item = new QTreeWidgetItem(tvCredits);
        Item->setText(ccName, QString::fromStdString(Name));
        // A library that tells no version is named by its file.
        const std::string Shown = !Version.empty() ? Version : !File.empty() ? File : "not loaded";
        Item->setText(ccVersion, QString::fromStdString(Shown));
        Item->setToolTip(ccVersion, QString::fromStdString(File.empty() ? "Not loaded" : "Loaded from " + File));
        Item->setText(ccLicence, QString::fromStdString(Licence));
        Item->setToolTip(ccLicence, QString::fromStdString(Licence));
    };
    for (const TCredit& C : LibraryCredits()) Row(C.Name, C.Version, C.File, C.Licence);
    Row("libjpeg-turbo", JpegLibraryVersion(), LoadedLibraryFile("libjpeg.so"), "IJG AND BSD-3-Clause AND Zlib");
    Row("Qt", qVersion(), LoadedLibraryFile("libQt6Core.so"), "LGPL-3.0-only");
    for (int Column = ccName; Column < ccLicence; ++Column) {
        tvCredits->resizeColumnToContents(Column);
        tvCredits->setColumnWidth(Column, tvCredits->columnWidth(Column) + 16);
    }
}

void TfrmAbout::btnLicencesClick() {
    TGlobalObject Defaults;
    const TGlobalObject& Texts = GlobalObject ? *GlobalObject : Defaults;
    Platform().OpenUrl(Texts.HelpPageURL() + "#credits");
}

void TfrmAbout::btn1Click() { accept(); }
