// TfrmCrop, the crop dialog: borders cut off the selected file's picture,
// chosen by dragging a TRectTracker over a preview or by stepping four spin
// edits. The dialog works in preview pixels and stores source pixels, made
// even, in the row's record together with the zoom mode.
#pragma once

#include <cstdint>
#include <string>

#include "app/FilesRecord.h"
#include "common/Geometry.h"
#include "dialogs/PlayerDialog.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class TBitmap;
class TRectTracker;

// Num / Den rounded to the nearest integer, ties to the even one (Den > 0).
int RoundHalfEven(int64_t Num, int64_t Den);
// A border of the source picture in preview pixels and back; the way back
// makes the value even, towards zero.
int BorderToPreview(int SourceBorder, int PreviewSize, int FrameSize);
int BorderToSource(int PreviewBorder, int FrameSize, int PreviewSize);

// The zoom list: "lbox", "cent", "full", "orig"; any other text is index 0.
int ZoomIndex(const std::string& ZoomMode);
const char* ZoomCode(int Index);

// Black borders of one picture: rows and columns at the edges in which no
// sample is brighter than a dark grey. A picture that is dark all over has
// no borders to tell and gives false.
struct TBorders {
    int Top = 0, Left = 0, Bottom = 0, Right = 0;
};
bool FindBlackBorders(const TBitmap& Picture, TBorders& Borders);

class TfrmCrop : public TPlayerDialog {
    Q_OBJECT
public:
    explicit TfrmCrop(QWidget* Parent = nullptr);

    // The row the next opening edits (null when the file list is empty);
    // the record must outlive the dialog's showing.
    void SetRow(TlvFilesRecord* Record) { FRecord = Record; }

    // What the opening found: the picture rectangle in dialog coordinates
    // (X0, Y0, W, H) and the source picture's size.
    int X0() const { return FX0; }
    int Y0() const { return FY0; }
    int PictureWidth() const { return FW; }
    int PictureHeight() const { return FH; }
    int FrameWidth() const { return FFrameW; }
    int FrameHeight() const { return FFrameH; }
    // How the source is shown: the picture the tracker lies on is turned
    // and stretched as players show it.
    const TPictureShape& Shape() const { return FShape; }
    // The borders the dialog shows now, in source pixels per edge of the
    // picture as shown (what OK stores, before turning them back).
    TEdges ShownSourceBorders() const;

    TRectTracker* RectTracker = nullptr;
    QSpinBox *spedUp = nullptr, *spedLeft = nullptr, *spedDown = nullptr, *spedRight = nullptr;
    QPushButton *btnReset = nullptr, *btnAuto = nullptr;
    QPushButton *btnOk = nullptr, *btnCancel = nullptr, *btnDefault = nullptr;
    // What the borders mean in the source's pixels and the picture left.
    QLabel* lblSourceCrop = nullptr;

protected:
    void FormShow() override;

private:
    // Pictures the Auto button samples.
    static constexpr int AutoSamples = 10;

    void btnOkClick();
    void btnCancelClick();
    void btnResetClick();
    void btnDefaultClick();
    void btnAutoClick();
    void spedUpChange();
    void spedDownChange();
    void spedLeftChange();
    void spedRightChange();
    void RectTrackerMouseDown();
    // X, Y: the mouse in the tracker's coordinates.
    void RectTrackerMouseMove(int X, int Y);

    void SetSpins(int Up, int Down, int Left, int Right);
    // Spin values for borders in source pixels of the source's own edges.
    void ShowSourceBorders(const TEdges& Source);
    void UpdateSourceCrop();
    // Source pixels along the picture's vertical and horizontal as shown.
    int SourceDown() const { return FShape.Turned() ? FFrameW : FFrameH; }
    int SourceAcross() const { return FShape.Turned() ? FFrameH : FFrameW; }
    void SpinChanged(QSpinBox* Spin);
    void EnableCrop(bool Enabled);

    QTabWidget* pgCrop = nullptr;
    QGroupBox* grpbxCrop = nullptr;
    QLabel* lblZoom = nullptr;
    QComboBox* cmbZoom = nullptr;
    bool FHasVideo = false;
    int FX0 = 0, FY0 = 0, FW = 0, FH = 0;
    int FFrameW = 0, FFrameH = 0;
    TPictureShape FShape;
    QGroupBox* grpSourceCrop = nullptr;
    int FLastUp = 0, FLastDown = 0, FLastLeft = 0, FLastRight = 0;
    int FSavedTop = 0, FSavedLeft = 0;
    // The source borders last shown (screen sides) and the spin values
    // that showed them.
    TEdges FShownSource, FShownSpins;
    bool FDragging = false;
    bool FSettingSpins = false;
};
