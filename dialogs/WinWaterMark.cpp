#include "dialogs/WinWaterMark.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/Controls.h"
#include "widgets/PathText.h"
#include "widgets/Theme.h"

namespace {

enum class TButtonPicture { Text, Image, Watermark };

QIcon ButtonIcon(TButtonPicture Kind) {
    const int S = 32;
    QPixmap Picture(S, S);
    Picture.fill(Qt::transparent);
    QPainter P(&Picture);
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(QPen(QColor(70, 90, 120), 1.5));
    P.setBrush(QColor(250, 250, 252));
    P.drawRoundedRect(QRectF(3.5, 5.5, 25, 21), 3, 3);
    switch (Kind) {
    case TButtonPicture::Text: {
        QFont F("DejaVu Serif");
        F.setPixelSize(17);
        F.setBold(true);
        P.setFont(F);
        P.setPen(QColor(40, 70, 140));
        P.drawText(QRectF(3.5, 5.5, 25, 21), Qt::AlignCenter, "T");
        break;
    }
    case TButtonPicture::Image: {
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(236, 180, 40));
        P.drawEllipse(QPointF(11, 12), 3, 3);
        P.setBrush(QColor(70, 140, 80));
        QPolygonF Hills({QPointF(5, 25), QPointF(13, 16), QPointF(18, 21), QPointF(22, 17), QPointF(27, 25)});
        P.drawPolygon(Hills);
        break;
    }
    case TButtonPicture::Watermark: {
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(40, 110, 190, 150));
        QPainterPath Drop;
        Drop.moveTo(16, 9);
        Drop.cubicTo(20, 15, 23, 18, 23, 20);
        Drop.cubicTo(23, 25, 9, 25, 9, 20);
        Drop.cubicTo(9, 18, 12, 15, 16, 9);
        P.drawPath(Drop);
        break;
    }
    }
    return QIcon(Picture);
}

QToolButton* MakeImageButton(QWidget* Parent, const char* Name, TButtonPicture Kind) {
    QToolButton* Button = PictureButton(Parent, Name, QString(), ButtonIcon(Kind), QSize(32, 32));
    Button->setFixedSize(44, 44);
    return Button;
}

QLineEdit* MakePosition(QWidget* Parent, const char* Name) {
    auto* Edit = new QLineEdit("10", Parent);
    Edit->setObjectName(Name);
    Edit->setValidator(new QIntValidator(0, 99999, Edit));
    Edit->setMaxLength(5);
    Edit->setFixedWidth(56);
    return Edit;
}

// A check box above its group and the image button beside the group.
void AddSection(QVBoxLayout* Into, QCheckBox* Check, QGroupBox* Group, QToolButton* Button) {
    Into->addWidget(Check);
    auto* Row = new QHBoxLayout;
    Row->addWidget(Group, 1);
    Row->addWidget(Button, 0, Qt::AlignVCenter);
    Into->addLayout(Row);
}

}  // namespace

TfrmWaterMark::TfrmWaterMark(QWidget* Parent) : QDialog(Parent) {
    setObjectName("frmWaterMark");
    setWindowTitle("Water Mark");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* SourceCaption = new QLabel("Source File:", this);
    lblSourceName = new QLabel(this);
    lblSourceName->setObjectName("lblSourceName");
    lblSourceName->setMinimumWidth(SourceLabelWidth);

    // Text.
    ckTextScrol2 = new QCheckBox("Add Text:", this);
    ckTextScrol2->setObjectName("ckTextScrol2");
    grpAddText = new QGroupBox("Add text", this);
    grpAddText->setObjectName("grpAddText");
    edtAddText = new QLineEdit(grpAddText);
    edtAddText->setObjectName("edtAddText");
    edtPosX = MakePosition(grpAddText, "edtPosX");
    edtPosY = MakePosition(grpAddText, "edtPosY");
    ckTextScrol1 = new QCheckBox("Text Scrolling", grpAddText);
    ckTextScrol1->setObjectName("ckTextScrol1");
    auto* TextGrid = new QGridLayout(grpAddText);
    TextGrid->setHorizontalSpacing(6);
    TextGrid->setVerticalSpacing(2);
    TextGrid->addWidget(new QLabel("Text:", grpAddText), 0, 0);
    TextGrid->addWidget(edtAddText, 0, 1, 1, 4);
    TextGrid->addWidget(new QLabel("Position", grpAddText), 1, 0);
    TextGrid->addWidget(new QLabel("X:", grpAddText), 1, 1);
    TextGrid->addWidget(edtPosX, 1, 2);
    TextGrid->addWidget(new QLabel("X must > 0 ,and < video width", grpAddText), 1, 3, 1, 2);
    TextGrid->addWidget(new QLabel("Position", grpAddText), 2, 0);
    TextGrid->addWidget(new QLabel("Y:", grpAddText), 2, 1);
    TextGrid->addWidget(edtPosY, 2, 2);
    TextGrid->addWidget(new QLabel("Y must > 0 ,and < video height", grpAddText), 2, 3, 1, 2);
    TextGrid->addWidget(ckTextScrol1, 3, 0, 1, 5);
    TextGrid->setColumnStretch(4, 1);

    // Image.
    ckTextScrol3 = new QCheckBox("Add Image:", this);
    ckTextScrol3->setObjectName("ckTextScrol3");
    grpAddImage = new QGroupBox("Add image", this);
    grpAddImage->setObjectName("grpAddImage");
    edtAddImage = new QLineEdit(grpAddImage);
    edtAddImage->setObjectName("edtAddImage");
    btnBrows = new QPushButton("&Brows", grpAddImage);
    btnBrows->setObjectName("btnBrows");
    ckTextScrol5 = new QCheckBox("Image dancing", grpAddImage);
    ckTextScrol5->setObjectName("ckTextScrol5");
    auto* ImageGrid = new QGridLayout(grpAddImage);
    ImageGrid->setVerticalSpacing(2);
    ImageGrid->addWidget(new QLabel("Image:", grpAddImage), 0, 0);
    ImageGrid->addWidget(edtAddImage, 0, 1);
    ImageGrid->addWidget(btnBrows, 0, 2);
    ImageGrid->addWidget(ckTextScrol5, 1, 0, 1, 3);
    ImageGrid->setColumnStretch(1, 1);

    // Watermark image.
    ckTextScrol4 = new QCheckBox("Add Water Mark Image:", this);
    ckTextScrol4->setObjectName("ckTextScrol4");
    grpAddWatermark = new QGroupBox("Add water mark image", this);
    grpAddWatermark->setObjectName("grpAddWatermark");
    edtAddWatermark = new QLineEdit(grpAddWatermark);
    edtAddWatermark->setObjectName("edtAddWatermark");
    btnBrows1 = new QPushButton("B&rows", grpAddWatermark);
    btnBrows1->setObjectName("btnBrows1");
    auto* MarkGrid = new QGridLayout(grpAddWatermark);
    MarkGrid->addWidget(new QLabel("Image:", grpAddWatermark), 0, 0);
    MarkGrid->addWidget(edtAddWatermark, 0, 1);
    MarkGrid->addWidget(btnBrows1, 0, 2);
    MarkGrid->setColumnStretch(1, 1);

    imgbtnText = MakeImageButton(this, "imgbtnText", TButtonPicture::Text);
    imgbtnImage = MakeImageButton(this, "imgbtnImage", TButtonPicture::Image);
    imgbtnWatermark = MakeImageButton(this, "imgbtnWatermark", TButtonPicture::Watermark);

    btnDefault = new QPushButton("&Default", this);
    btnDefault->setObjectName("btnDefault");
    btnOk = new QPushButton("&Ok", this);
    btnOk->setObjectName("btnOk");
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    // Ok must not close the dialog through the default-button path either.
    for (QPushButton* Button : {btnBrows, btnBrows1, btnDefault, btnOk, btnCancel}) Button->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmWaterMark::btnCancelClick);
    connect(btnBrows1, &QPushButton::clicked, this, &TfrmWaterMark::btnBrows1Click);

    auto* Source = new QHBoxLayout;
    Source->addWidget(SourceCaption);
    Source->addWidget(lblSourceName, 1);

    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(btnDefault);
    Buttons->addStretch();
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);

    auto* Main = new QVBoxLayout(this);
    // Tighter group margins than the style's: the three groups, their check
    // boxes and the buttons have to share 420 pixels.
    for (QGroupBox* Group : {grpAddText, grpAddImage, grpAddWatermark})
        Group->layout()->setContentsMargins(9, 4, 9, 6);
    Main->setContentsMargins(12, 10, 12, 10);
    Main->setSpacing(3);
    Main->addLayout(Source);
    AddSection(Main, ckTextScrol2, grpAddText, imgbtnText);
    AddSection(Main, ckTextScrol3, grpAddImage, imgbtnImage);
    AddSection(Main, ckTextScrol4, grpAddWatermark, imgbtnWatermark);
    Main->addStretch();
    Main->addSpacing(6);
    Main->addLayout(Buttons);
    resize(ShownWidth, ShownHeight);
}

void TfrmWaterMark::SetSourceFile(const std::string& SourceFile) {
    FSourceFile = SourceFile;
    if (isVisible()) FormShow();
}

void TfrmWaterMark::showEvent(QShowEvent* Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TfrmWaterMark::FormShow() {
    setFixedSize(ShownWidth, ShownHeight);
    ApplyCurrentTheme(this);
    lblSourceName->clear();
    for (QLineEdit* Edit : {edtAddText, edtPosX, edtPosY, edtAddImage, edtAddWatermark}) {
        QPalette P = Edit->palette();
        P.setColor(QPalette::Base, Colour3DLight());
        Edit->setPalette(P);
    }
    if (!FSourceFile.empty()) {
        lblSourceName->setText(QString::fromStdString(ShortenPath(FSourceFile, 55, 50, true)));
        lblSourceName->setToolTip(QString::fromStdString(FSourceFile));
    }
    lblSourceName->setMinimumWidth(SourceLabelWidth);
}

void TfrmWaterMark::btnCancelClick() { reject(); }

void TfrmWaterMark::btnBrows1Click() {}
