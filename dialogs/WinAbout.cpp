#include "dialogs/WinAbout.h"

#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/GlobalUnit.h"
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
    P.setColor(QPalette::WindowText, Hot ? QColor(Qt::red) : QColor(Qt::blue));
    setPalette(P);
}

void TLinkLabel::UpdateText() {
    // A long address is shortened in the middle; the tool tip shows it whole.
    setText(fontMetrics().elidedText(FAddress, Qt::ElideMiddle, qMax(width(), 40)));
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
    lblRights = new QLabel("All Rights Reserved", this);
    lblRights->setObjectName("lblRights");
    for (QLabel* Label : {lblAppNameVer, lblLegal, lblRights}) Label->setFixedWidth(LabelWidth);

    lblBuyNow1 = new TLinkLabel(this);
    lblBuyNow1->setObjectName("lblBuyNow1");

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
    Texts->addStretch();

    auto* Top = new QHBoxLayout;
    Top->setSpacing(14);
    Top->addWidget(imgIcon, 0, Qt::AlignTop);
    Top->addLayout(Texts, 1);

    auto* Bottom = new QHBoxLayout;
    Bottom->addWidget(lblBuyNow1, 1);
    Bottom->addWidget(btn1);

    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(14, 12, 12, 10);
    Main->addLayout(Top, 1);
    Main->addLayout(Bottom);
    resize(ShownWidth, ShownHeight);
}

void TfrmAbout::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfrmAbout::FormShow() {
    setFixedSize(ShownWidth, ShownHeight);
    TGlobalObject Defaults;
    const TGlobalObject& Texts = GlobalObject ? *GlobalObject : Defaults;
    lblBuyNow1->SetAddress(QString::fromStdString(Texts.HomePageURL()));
    ApplyCurrentTheme(this);
    lblAppNameVer->setText(QString::fromStdString(Texts.AppTitle() + Texts.AppVersion()));
    setWindowTitle("About");
}

void TfrmAbout::btn1Click() { accept(); }
