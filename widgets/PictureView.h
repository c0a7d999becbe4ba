// A picture area that keeps its own canvas of its size: the background is
// painted once, frames are drawn into it with FitPicture, and whatever the
// frame does not cover stays as it was. "A copy of the picture area" is a
// copy of Canvas().
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include "app/PreviewMath.h"
#include "common/Bitmap.h"

// Background of every preview area.
inline const QColor PreviewBackground(166, 202, 240);

class TPictureView : public QWidget {
    Q_OBJECT
public:
    explicit TPictureView(QWidget* Parent = nullptr);

    // Fills the whole canvas with the background colour.
    void ClearCanvas();
    // Draws the bitmap fitted into the canvas, holding its lock meanwhile and
    // reading its rows in place; an empty bitmap draws nothing.
    void DrawBitmap(TBitmap& Bitmap);
    // How the pictures drawn next are shown (sample aspect, turn, mirror).
    void SetShape(const TPictureShape& Shape) { FShape = Shape; }
    const TPictureShape& Shape() const { return FShape; }
    // Where the last picture went on the canvas (empty before one).
    TRect PictureArea() const { return FArea; }
    const QImage& Canvas() const { return FCanvas; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    // Draws an image fitted into the canvas.
    void DrawImage(const QImage& Image);
    // Gives the canvas the widget's size, keeping what was drawn; a widget
    // not shown yet gets no resize events, so drawing calls this too.
    void FitCanvasToWidget();

    QImage FCanvas;
    TPictureShape FShape;
    TBitmap FTurned;  // the turned picture, kept to spare an allocation a step
    TRect FArea;
};
