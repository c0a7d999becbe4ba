#include "widgets/PictureView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include "app/PreviewMath.h"
#include "common/Bitmap.h"
#include "common/Geometry.h"
#include "widgets/BitmapLock.h"
#include "widgets/Theme.h"

TPictureView::TPictureView(QWidget* Parent) : QWidget(Parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    FitCanvasToWidget();
}

void TPictureView::ClearCanvas() {
    FitCanvasToWidget();
    if (!FCanvas.isNull()) FCanvas.fill(PictureBackground());
    update();
}

void TPictureView::DrawBitmap(TBitmap& Bitmap) {
    TBitmapLock Guard(Bitmap);
    if (Bitmap.Empty()) return;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // A preview step draws a picture twice a second or more: the bilinear
    // stretch writes the canvas's B, G, R, 255 bytes directly, in a fifth of
    // the time of a smooth QPainter stretch from a 24-bit image.
    FitCanvasToWidget();
    if (FCanvas.isNull()) return;
    const TRect Area = DrawFitted(Bitmap, FShape, FTurned, FCanvas.bits(), FCanvas.width(), FCanvas.height(),
                                  int(FCanvas.bytesPerLine()), 4);
    if (!Area.IsEmpty()) {
        FArea = Area;
        update();
    }
#else
    // The bitmap's rows are B,G,R bytes with a 4-byte aligned stride: the
    // image reads them where they are.
    const QImage Rows(Bitmap.Bits(), Bitmap.Width(), Bitmap.Height(), Bitmap.Stride(), QImage::Format_BGR888);
    DrawImage(Rows);
#endif
}

void TPictureView::DrawImage(const QImage& Image) {
    FitCanvasToWidget();
    if (Image.isNull() || FCanvas.isNull()) return;
    TRect Area = FitPicture(Image.width(), Image.height(), FCanvas.width(), FCanvas.height());
    if (Area.IsEmpty()) return;
    {
        QPainter Painter(&FCanvas);
        Painter.setRenderHint(QPainter::SmoothPixmapTransform);
        Painter.drawImage(QRect(Area.Left, Area.Top, Area.Width(), Area.Height()), Image);
    }
    update();
}

void TPictureView::paintEvent(QPaintEvent* Event) {
    QPainter Painter(this);
    const QRect Dirty = Event->rect();
    // Outside the canvas (only while a resize is pending) shows the background.
    Painter.fillRect(Dirty, PictureBackground());
    if (!FCanvas.isNull()) Painter.drawImage(Dirty.topLeft(), FCanvas, Dirty);
}

void TPictureView::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    FitCanvasToWidget();
}

void TPictureView::FitCanvasToWidget() {
    const QSize NewSize = size();
    if (NewSize.isEmpty()) {
        FCanvas = QImage();
        return;
    }
    if (FCanvas.size() == NewSize) return;
    // What was drawn stays where it was; new area gets the background.
    QImage Grown(NewSize, QImage::Format_RGB32);
    Grown.fill(PictureBackground());
    if (!FCanvas.isNull()) {
        QPainter Painter(&Grown);
        Painter.drawImage(0, 0, FCanvas);
    }
    FCanvas = std::move(Grown);
}
