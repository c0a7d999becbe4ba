#include "dialogs/WinCrop.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include <algorithm>
#include <climits>

#include "app/GlobalUnit.h"
#include "app/PreviewMath.h"
#include "common/Bitmap.h"
#include "dialogs/FormControls.h"
#include "dialogs/RectTracker.h"
#include "widgets/PictureView.h"
#include "widgets/PreviewPlayer.h"

namespace {

// Spin edits never clamp what the tracker gives them.
constexpr int SpinLimit = 100000;
// The first picture of the crop preview.
constexpr int64_t FirstPictureUs = 10;
// Brightest sample (0..255) a black border row or column may hold; coded
// black carries some noise.
constexpr int BlackLimit = 40;

const char* const ZoomCodes[] = {"lbox", "cent", "full", "orig"};

QSpinBox* Spin(QWidget* Parent, const char* Name, int X, int Y) {
    auto* Box = new QSpinBox(Parent);
    Box->setObjectName(Name);
    Box->setRange(-SpinLimit, SpinLimit);
    Box->setSingleStep(1);
    // A typed value takes effect when it is complete (Return or leaving the
    // field), not at each digit.
    Box->setKeyboardTracking(false);
    Box->setGeometry(X, Y, 64, 24);
    return Box;
}

bool DarkRow(const TBitmap& Picture, int Row) {
    const uint8_t* P = Picture.ScanLine(Row);
    for (int I = 0; I < Picture.Width() * 3; ++I)
        if (P[I] > BlackLimit) return false;
    return true;
}

bool DarkColumn(const TBitmap& Picture, int Column, int Top, int Bottom) {
    for (int Row = Top; Row < Bottom; ++Row) {
        const uint8_t* P = Picture.ScanLine(Row) + 3 * Column;
        if (P[0] > BlackLimit || P[1] > BlackLimit || P[2] > BlackLimit) return false;
    }
    return true;
}

}  // namespace

int RoundHalfEven(int64_t Num, int64_t Den) {
    if (Den <= 0) return 0;
    const bool Negative = Num < 0;
    const int64_t N = Negative ? -Num : Num;
    int64_t Q = N / Den;
    const int64_t R2 = 2 * (N % Den);
    if (R2 > Den || (R2 == Den && Q % 2 == 1)) ++Q;
    return static_cast<int>(Negative ? -Q : Q);
}

int BorderToPreview(int SourceBorder, int PreviewSize, int FrameSize) {
    return RoundHalfEven(static_cast<int64_t>(SourceBorder) * PreviewSize, FrameSize);
}

int BorderToSource(int PreviewBorder, int FrameSize, int PreviewSize) {
    return RoundHalfEven(static_cast<int64_t>(PreviewBorder) * FrameSize, PreviewSize) / 2 * 2;
}

int ZoomIndex(const std::string& ZoomMode) {
    for (int I = 0; I < 4; ++I)
        if (ZoomMode == ZoomCodes[I]) return I;
    return 0;
}

const char* ZoomCode(int Index) { return Index >= 0 && Index < 4 ? ZoomCodes[Index] : ZoomCodes[0]; }

bool FindBlackBorders(const TBitmap& Picture, TBorders& Borders) {
    const int W = Picture.Width(), H = Picture.Height();
    if (W <= 0 || H <= 0) return false;
    int Top = 0;
    while (Top < H && DarkRow(Picture, Top)) ++Top;
    if (Top == H) return false;
    int Bottom = 0;
    while (DarkRow(Picture, H - 1 - Bottom)) ++Bottom;
    int Left = 0;
    while (DarkColumn(Picture, Left, Top, H - Bottom)) ++Left;
    int Right = 0;
    while (DarkColumn(Picture, W - 1 - Right, Top, H - Bottom)) ++Right;
    Borders = {Top, Left, Bottom, Right};
    return true;
}

TfrmCrop::TfrmCrop(QWidget* Parent) : TPlayerDialog(pwCrop, "Time:", "Source File:", Parent) {
    setObjectName("frmCrop");
    setWindowTitle("Crop");

    RectTracker = new TRectTracker(this);
    RectTracker->setObjectName("RectTracker");
    RectTracker->raise();

    pgCrop = new QTabWidget(this);
    pgCrop->setObjectName("pgCrop");
    pgCrop->setGeometry(392, 10, 213, 250);
    auto* Page = new QWidget(pgCrop);
    pgCrop->addTab(Page, "Crop");
    grpbxCrop = new QGroupBox("Crop Size", Page);
    grpbxCrop->setObjectName("grpbxCrop");
    grpbxCrop->setGeometry(8, 8, 191, 164);
    Caption(grpbxCrop, "Up", 78, 22);
    spedUp = Spin(grpbxCrop, "spedUp", 63, 40);
    Caption(grpbxCrop, "Left", 12, 68);
    spedLeft = Spin(grpbxCrop, "spedLeft", 8, 86);
    Caption(grpbxCrop, "Right", 130, 68);
    spedRight = Spin(grpbxCrop, "spedRight", 118, 86);
    Caption(grpbxCrop, "Down", 74, 114);
    spedDown = Spin(grpbxCrop, "spedDown", 63, 132);
    btnReset = Button(Page, "Reset", "btnReset", 8, 180, 92);
    btnAuto = Button(Page, "Auto", "btnAuto", 107, 180, 92);
    btnAuto->setToolTip("Find the black borders of the picture");
    lblZoom = Caption(Page, "Zoom", 8, 212);
    lblZoom->hide();
    cmbZoom = new QComboBox(Page);
    cmbZoom->setObjectName("cmbZoom");
    cmbZoom->addItems({"Letter Box", "Center", "Full Screen", "Keep Original(crop and pan)"});
    cmbZoom->setMaxVisibleItems(4);
    cmbZoom->setGeometry(50, 208, 150, 24);
    cmbZoom->hide();

    grpSourceCrop = new QGroupBox("In Source Pixels", this);
    grpSourceCrop->setObjectName("grpSourceCrop");
    grpSourceCrop->setGeometry(392, 268, 213, 112);
    lblSourceCrop = new QLabel(grpSourceCrop);
    lblSourceCrop->setObjectName("lblSourceCrop");
    lblSourceCrop->setGeometry(10, 22, 196, 84);
    lblSourceCrop->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    btnDefault = Button(this, "&Default", "btnDefault", 318, 394);
    btnOk = Button(this, "Ok", "btnOk", 415, 394);
    btnOk->setDefault(true);
    btnCancel = Button(this, "Cancel", "btnCancel", 512, 394);

    connect(spedUp, &QSpinBox::valueChanged, this, &TfrmCrop::spedUpChange);
    connect(spedDown, &QSpinBox::valueChanged, this, &TfrmCrop::spedDownChange);
    connect(spedLeft, &QSpinBox::valueChanged, this, &TfrmCrop::spedLeftChange);
    connect(spedRight, &QSpinBox::valueChanged, this, &TfrmCrop::spedRightChange);
    connect(btnReset, &QPushButton::clicked, this, &TfrmCrop::btnResetClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmCrop::btnDefaultClick);
    connect(btnAuto, &QPushButton::clicked, this, &TfrmCrop::btnAutoClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmCrop::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmCrop::btnCancelClick);
    RectTracker->OnMouseDown = [this](TRectTracker*, const QPoint&, Qt::MouseButtons) { RectTrackerMouseDown(); };
    RectTracker->OnMouseMove = [this](TRectTracker*, const QPoint& P, Qt::MouseButtons) {
        RectTrackerMouseMove(P.x(), P.y());
    };
    EnableCrop(false);
}

void TfrmCrop::EnableCrop(bool Enabled) {
    RectTracker->setEnabled(Enabled);
    RectTracker->setVisible(Enabled);
    for (QWidget* W : std::initializer_list<QWidget*>{spedUp, spedDown, spedLeft, spedRight, btnAuto})
        W->setEnabled(Enabled);
}

void TfrmCrop::SetSpins(int Up, int Down, int Left, int Right) {
    FSettingSpins = true;
    spedUp->setValue(Up);
    spedDown->setValue(Down);
    spedLeft->setValue(Left);
    spedRight->setValue(Right);
    FSettingSpins = false;
    FLastUp = Up;
    FLastDown = Down;
    FLastLeft = Left;
    FLastRight = Right;
    UpdateSourceCrop();
}

TEdges TfrmCrop::ShownSourceBorders() const {
    if (!FHasVideo || FW <= 0 || FH <= 0) return {};
    // A border left as it was shown keeps the source value it came from: a
    // preview pixel spans several source pixels, and the way back through
    // it would move a stored or found border that nobody touched.
    auto Side = [](int Spin, int Shown, int Source, int Converted) {
        return Spin == Shown ? std::max(Source, 0) / 2 * 2 : Converted;
    };
    return {Side(spedUp->value(), FShownSpins.Top, FShownSource.Top,
                 BorderToSource(spedUp->value(), SourceDown(), FH)),
            Side(spedDown->value(), FShownSpins.Bottom, FShownSource.Bottom,
                 BorderToSource(spedDown->value(), SourceDown(), FH)),
            Side(spedLeft->value(), FShownSpins.Left, FShownSource.Left,
                 BorderToSource(spedLeft->value(), SourceAcross(), FW)),
            Side(spedRight->value(), FShownSpins.Right, FShownSource.Right,
                 BorderToSource(spedRight->value(), SourceAcross(), FW))};
}

void TfrmCrop::UpdateSourceCrop() {
    if (!FHasVideo) {
        lblSourceCrop->setText("No picture to crop.");
        return;
    }
    const TEdges B = ShownSourceBorders();
    const int Across = std::max(SourceAcross() - B.Left - B.Right, 0);
    const int Down = std::max(SourceDown() - B.Top - B.Bottom, 0);
    lblSourceCrop->setText(QString("Up %1, Down %2\nLeft %3, Right %4\nSource picture: %5 x %6\nCropped picture: %7 x %8")
                               .arg(B.Top)
                               .arg(B.Bottom)
                               .arg(B.Left)
                               .arg(B.Right)
                               .arg(SourceAcross())
                               .arg(SourceDown())
                               .arg(Across)
                               .arg(Down));
}

void TfrmCrop::ShowSourceBorders(const TEdges& Source) {
    const TEdges S = ScreenEdges(Source, FShape);
    const int Up = BorderToPreview(S.Top, FH, SourceDown()), Down = BorderToPreview(S.Bottom, FH, SourceDown());
    const int Left = BorderToPreview(S.Left, FW, SourceAcross());
    const int Right = BorderToPreview(S.Right, FW, SourceAcross());
    FShownSource = S;
    FShownSpins = {Up, Down, Left, Right};
    SetSpins(Up, Down, Left, Right);
    FSavedTop = FY0 + Up;
    FSavedLeft = FX0 + Left;
    RectTracker->SetBounds(FX0 + Left, FY0 + Up, FW - Right - Left, FH - Down - Up);
}

void TfrmCrop::FormShow() {
    BeginShow();
    FHasVideo = false;
    if (FRecord) {
        VxAVC.ClearJobs();
        cmbZoom->setCurrentIndex(ZoomIndex(FRecord->ZoomMode));
        const bool Opened = OpenSource();
        TAVProbe& Probe = VxAVC.Probe;
        if (Opened && Probe.VideoStreamCount() > 0) {
            const int Stream = FPlayer->VideoStream();
            Probe.Seek(Stream, FirstPictureUs);
            FFrameW = Probe.LastFrame().Width();
            FFrameH = Probe.LastFrame().Height();
            TBitmap& Frame = Probe.DecodeFrame(Stream);
            if (FFrameW <= 0 || FFrameH <= 0) {
                FFrameW = Frame.Width();
                FFrameH = Frame.Height();
            }
            FShape = imgPreview->Shape();
            imgPreview->DrawBitmap(Frame);
            int ShownW = 0, ShownH = 0;
            DisplaySize(FFrameW, FFrameH, FShape, ShownW, ShownH);
            const TRect R = PictureRectangle(ShownW, ShownH, imgPreview->width(), imgPreview->height());
            FHasVideo = !R.IsEmpty();
            if (FHasVideo) {
                RectTracker->SetBounds(imgPreview->x() + R.Left, imgPreview->y() + R.Top, R.Width(), R.Height());
                FX0 = RectTracker->x();
                FY0 = RectTracker->y();
                FW = R.Width();
                FH = R.Height();
            }
        }
        if (!FHasVideo) {
            StopTimer();
            EnableCrop(false);
            SetSpins(0, 0, 0, 0);
            if (!Opened) ReportOpenFailure();
        } else {
            ShowSourceBorders({FRecord->CropTop, FRecord->CropBottom, FRecord->CropLeft, FRecord->CropRight});
            FPlayer->Start();
            EnableCrop(true);
        }
        // Without a picture nothing can be cropped, and OK would only store zeros.
        btnOk->setEnabled(Opened);
        ShowSource(Opened);
    }
    RectTracker->raise();
    RectTracker->update();
}

void TfrmCrop::RectTrackerMouseDown() {
    RectTracker->update();
    FSavedTop = RectTracker->y();
    FSavedLeft = RectTracker->x();
}

void TfrmCrop::RectTrackerMouseMove(int X, int Y) {
    if (!FHasVideo) return;
    FDragging = true;
    TRectTracker* T = RectTracker;
    auto Inner = [T] { return T->TrackRect(); };
    auto SetLeft = [T](int V) { T->SetBounds(V, T->y(), T->width(), T->height()); };
    auto SetTop = [T](int V) { T->SetBounds(T->x(), V, T->width(), T->height()); };
    auto SetWidth = [T](int V) { T->SetBounds(T->x(), T->y(), V, T->height()); };
    auto SetHeight = [T](int V) { T->SetBounds(T->x(), T->y(), T->width(), V); };

    if (Inner().Left < FX0 + 3) SetLeft(FX0 + spedLeft->value());
    if (Inner().Top < FY0 + 3) SetTop(FY0);
    if (Inner().Right > FW && X >= FW - (T->x() - FX0)) SetWidth(FW - (T->x() - FX0) - spedRight->value());
    if (T->width() > FW) SetWidth(FW - (T->x() - FX0));
    if (Inner().Bottom > FH && Y >= FH - (T->y() - FY0)) SetHeight(FH - (T->y() - FY0));
    if (T->height() > FH) SetHeight(FH - (T->y() - FY0));
    if (Inner().Right - FX0 > FW && Inner().Bottom - FY0 > FH) {
        T->SetBounds(FSavedLeft, FSavedTop, T->width(), T->height());
        SetWidth(FW - (T->x() - FX0));
        SetHeight(FH - (T->y() - FY0));
    }
    if (Inner().Right - FX0 > FW) {
        SetLeft(FSavedLeft);
        SetWidth(FW - (T->x() - FX0));
    }
    if (Inner().Bottom - FY0 > FH) {
        SetTop(FSavedTop);
        SetHeight(FH - (T->y() - FY0));
    }
    const int Up = std::max(T->y() - FY0, 0);
    const int Down = std::max(FH - T->height() - (T->y() - FY0), 0);
    const int Left = std::max(T->x() - FX0, 0);
    const int Right = std::max(FW - T->width() - (T->x() - FX0), 0);
    // The spin edits follow the tracker without moving it back.
    SetSpins(Up, Down, Left, Right);
    FDragging = false;
}

void TfrmCrop::SpinChanged(QSpinBox* Box) {
    if (FDragging || FSettingSpins || !FHasVideo) return;
    const bool Vertical = Box == spedUp || Box == spedDown;
    int& Last = Box == spedUp ? FLastUp : Box == spedDown ? FLastDown : Box == spedLeft ? FLastLeft : FLastRight;
    const int Across = Vertical ? RectTracker->height() : RectTracker->width();
    FSettingSpins = true;
    if (Across <= TRectTracker::MinSize && Box->value() >= Last) {
        Box->setValue(Last);
        if (Vertical) {
            FLastUp = spedUp->value();
            FLastDown = spedDown->value();
        } else {
            FLastLeft = spedLeft->value();
            FLastRight = spedRight->value();
        }
        FSettingSpins = false;
        return;
    }
    if (Box->value() < 0) Box->setValue(0);
    // A typed border never leaves less than the tracker's smallest size.
    QSpinBox* Other = Box == spedUp ? spedDown : Box == spedDown ? spedUp : Box == spedLeft ? spedRight : spedLeft;
    const int Most = std::max((Vertical ? FH : FW) - Other->value() - TRectTracker::MinSize, 0);
    if (Box->value() > Most) Box->setValue(Most);
    FSettingSpins = false;
    if (Vertical) {
        const int Up = spedUp->value(), Down = spedDown->value();
        RectTracker->SetBounds(RectTracker->x(), FY0 + Up, RectTracker->width(), FH - Down - Up);
        FLastUp = Up;
        FLastDown = Down;
        FSavedTop = FY0 + Up;
    } else {
        const int Left = spedLeft->value(), Right = spedRight->value();
        RectTracker->SetBounds(FX0 + Left, RectTracker->y(), FW - Right - Left, RectTracker->height());
        FLastLeft = Left;
        FLastRight = Right;
        FSavedLeft = FX0 + Left;
    }
    UpdateSourceCrop();
}

void TfrmCrop::spedUpChange() { SpinChanged(spedUp); }
void TfrmCrop::spedDownChange() { SpinChanged(spedDown); }
void TfrmCrop::spedLeftChange() { SpinChanged(spedLeft); }
void TfrmCrop::spedRightChange() { SpinChanged(spedRight); }

void TfrmCrop::btnResetClick() {
    SetSpins(0, 0, 0, 0);
    FSavedTop = FY0;
    FSavedLeft = FX0;
    if (FHasVideo) RectTracker->SetBounds(FX0, FY0, FW, FH);
}

void TfrmCrop::btnDefaultClick() { btnResetClick(); }

void TfrmCrop::btnAutoClick() {
    if (!FHasVideo) return;
    TAVProbe& Probe = VxAVC.Probe;
    const int Stream = FPlayer->VideoStream();
    const int64_t Duration = FPlayer->DurationUs();
    // The smallest border per side over pictures spread across the file, so
    // that a dark scene cannot make the crop cut into the picture.
    TBorders Least{INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    bool Found = false;
    for (int I = 0; I < AutoSamples; ++I) {
        // Key frames: they are quickest to reach and carry the least ringing
        // at the edge of a bar.
        Probe.Seek(Stream, Duration > 0 ? Duration * (2 * I + 1) / (2 * AutoSamples) : FirstPictureUs,
                   TAVProbe::smKeyFrame);
        TBitmap& Picture = Probe.DecodeFrame(Stream);
        TBorders Borders;
        if (Picture.Width() != FFrameW || Picture.Height() != FFrameH || !FindBlackBorders(Picture, Borders))
            continue;
        Found = true;
        Least.Top = std::min(Least.Top, Borders.Top);
        Least.Left = std::min(Least.Left, Borders.Left);
        Least.Bottom = std::min(Least.Bottom, Borders.Bottom);
        Least.Right = std::min(Least.Right, Borders.Right);
    }
    if (!Found) Least = {};
    // The preview shows the picture at the slider again.
    FPlayer->ShowPosition(trcPreview->value());
    ShowSourceBorders({Least.Top, Least.Bottom, Least.Left, Least.Right});
}

void TfrmCrop::btnOkClick() {
    if (FRecord) {
        const TEdges Source = SourceEdges(ShownSourceBorders(), FShape);
        FRecord->CropTop = Source.Top;
        FRecord->CropLeft = Source.Left;
        FRecord->CropBottom = Source.Bottom;
        FRecord->CropRight = Source.Right;
        FRecord->ZoomMode = ZoomCode(cmbZoom->currentIndex());
    }
    accept();
}

void TfrmCrop::btnCancelClick() { reject(); }

