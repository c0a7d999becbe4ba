#include "dialogs/RectTracker.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TRectTracker::TRectTracker(QWidget* Parent) : QWidget(Parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    setMinimumSize(MinSize, MinSize);
    resize(InitialSize, InitialSize);
}

TTrackerZone TRectTracker::HitTest(const QPoint& Point) const {
    const int W = width(), H = height();
    const int MX = (W + 1) / 2 - 3, MY = (H + 1) / 2 - 3;
    auto In = [&Point](int L, int T, int R, int B) {
        return Point.x() >= L && Point.x() < R && Point.y() >= T && Point.y() < B;
    };
    const int S = HandleSize;
    if (In(0, 0, S, S)) return tzTopLeft;
    if (In(W - S, H - S, W, H)) return tzBottomRight;
    if (In(0, H - S, S, H)) return tzBottomLeft;
    if (In(W - S, 0, W, S)) return tzTopRight;
    if (In(0, MY, S, MY + S)) return tzLeft;
    if (In(W - S, MY, W, MY + S)) return tzRight;
    if (In(MX, 0, MX + S, S)) return tzTop;
    if (In(MX, H - S, MX + S, H)) return tzBottom;
    const TRect Inner = InnerRect();
    if (In(Inner.Left, Inner.Top, Inner.Right, Inner.Bottom)) return tzInside;
    return tzNone;
}

Qt::CursorShape TRectTracker::ZoneCursor(TTrackerZone Zone) {
    switch (Zone) {
    case tzTopLeft:
    case tzBottomRight: return Qt::SizeFDiagCursor;
    case tzBottomLeft:
    case tzTopRight: return Qt::SizeBDiagCursor;
    case tzLeft:
    case tzRight: return Qt::SizeHorCursor;
    case tzTop:
    case tzBottom: return Qt::SizeVerCursor;
    case tzInside: return Qt::SizeAllCursor;
    case tzNone: break;
    }
    return Qt::ArrowCursor;
}

TRect TRectTracker::InnerRect() const {
    return {InnerMargin, InnerMargin, width() - InnerMargin, height() - InnerMargin};
}

TRect TRectTracker::TrackRect() const {
    return {x() + InnerMargin, y() + InnerMargin, x() + width() - InnerMargin, y() + height() - InnerMargin};
}

void TRectTracker::SetBounds(int Left, int Top, int Width, int Height) {
    setGeometry(Left, Top, std::max(Width, MinSize), std::max(Height, MinSize));
}

void TRectTracker::SetAcControl(QWidget* Control) {
    if (Control == this) Control = nullptr;
    FAcControl = Control;
    if (!Control) return;
    FPlacing = true;
    SetBounds(Control->x() - CompanionMargin, Control->y() - CompanionMargin, Control->width() + 2 * CompanionMargin,
              Control->height() + 2 * CompanionMargin);
    FPlacing = false;
}

void TRectTracker::PlaceCompanion() {
    // A companion that went away is simply forgotten (QPointer clears it).
    if (!FAcControl || FPlacing) return;
    FAcControl->setGeometry(x() + CompanionMargin, y() + CompanionMargin, width() - 2 * CompanionMargin,
                            height() - 2 * CompanionMargin);
}

void TRectTracker::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    const int W = width(), H = height();
    const int MX = (W + 1) / 2 - 3, MY = (H + 1) / 2 - 3;
    // Inverting the picture keeps the dotted line visible on light and dark
    // pictures alike.
    Painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    Painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRect(InnerMargin, InnerMargin, W - 2 * InnerMargin - 1, H - 2 * InnerMargin - 1);
    Painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const int S = HandleSize;
    for (const QPoint& Corner : {QPoint(0, 0), QPoint(0, MY), QPoint(0, H - S), QPoint(MX, 0), QPoint(MX, H - S),
                                 QPoint(W - S, 0), QPoint(W - S, MY), QPoint(W - S, H - S)})
        Painter.fillRect(Corner.x(), Corner.y(), S, S, Qt::black);
}

void TRectTracker::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton) {
        FDownBounds = geometry();
        FReference = Event->position().toPoint();
        FGrabbed = HitTest(FReference);
    }
    if (OnMouseDown) OnMouseDown(this, Event->position().toPoint(), Event->buttons() | Event->button());
}

void TRectTracker::mouseMoveEvent(QMouseEvent* Event) {
    const QPoint P = Event->position().toPoint();
    if (FGrabbed != tzNone) {
        const int DX = P.x() - FReference.x(), DY = P.y() - FReference.y();
        int L = x(), T = y(), W = width(), H = height();
        // Edges on the left and top move inward only while there is room.
        const bool LeftAllowed = W > MinSize || DX <= 0;
        const bool TopAllowed = H > MinSize || DY <= 0;
        auto MoveLeft = [&] {
            if (LeftAllowed) { L += DX; W -= DX; }
        };
        auto MoveTop = [&] {
            if (TopAllowed) { T += DY; H -= DY; }
        };
        switch (FGrabbed) {
        case tzLeft: MoveLeft(); break;
        case tzRight: W += DX; FReference.setX(P.x()); break;
        case tzTop: MoveTop(); break;
        case tzBottom: H += DY; FReference.setY(P.y()); break;
        case tzTopLeft: MoveLeft(); MoveTop(); break;
        case tzTopRight: MoveTop(); W += DX; FReference.setX(P.x()); break;
        case tzBottomLeft: MoveLeft(); H += DY; FReference.setY(P.y()); break;
        case tzBottomRight: W += DX; H += DY; FReference = P; break;
        case tzInside: L += DX; T += DY; break;
        case tzNone: break;
        }
        SetBounds(L, T, W, H);
    }
    setCursor(ZoneCursor(HitTest(P)));
    if (OnMouseMove) OnMouseMove(this, P, Event->buttons());
}

void TRectTracker::mouseReleaseEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton && FGrabbed != tzNone) {
        FReference = QPoint(-1, -1);
        FGrabbed = tzNone;
        if (geometry() != FDownBounds && OnChange) OnChange(this, TrackRect());
    }
    if (OnMouseUp) OnMouseUp(this, Event->position().toPoint(), Event->buttons());
}

void TRectTracker::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    PlaceCompanion();
}

void TRectTracker::moveEvent(QMoveEvent* Event) {
    QWidget::moveEvent(Event);
    PlaceCompanion();
}
