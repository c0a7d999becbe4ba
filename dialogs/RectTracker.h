// TRectTracker, the rubber-band rectangle of the crop dialog: a dotted
// inner rectangle with eight square handles that the user drags by its
// edges, corners or middle. The owner hears about a finished drag through
// OnChange; OnMouseMove lets the owner correct the bounds while dragging.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include "common/Geometry.h"

enum TTrackerZone {
    tzNone,
    tzTopLeft,
    tzBottomRight,
    tzBottomLeft,
    tzTopRight,
    tzLeft,
    tzRight,
    tzTop,
    tzBottom,
    tzInside
};

class TRectTracker : public QWidget {
    Q_OBJECT
public:
    static constexpr int MinSize = 10;

    // Sender and the inner rectangle in the parent's coordinates.
    using TTrackerEvent = std::function<void(TRectTracker* Sender, const TRect& TrackRect)>;
    // Sender, the mouse position in the tracker's coordinates and the buttons held.
    using TTrackerMouseEvent = std::function<void(TRectTracker* Sender, const QPoint& Position, Qt::MouseButtons Buttons)>;

    explicit TRectTracker(QWidget* Parent = nullptr);

    // The zone under Point (own coordinates); handles win over the inside.
    TTrackerZone HitTest(const QPoint& Point) const;
    static Qt::CursorShape ZoneCursor(TTrackerZone Zone);
    // (2, 2, width - 2, height - 2) in own coordinates.
    TRect InnerRect() const;
    // The inner rectangle in the parent's coordinates.
    TRect TrackRect() const;
    TTrackerZone GrabbedZone() const { return FGrabbed; }

    // Bounds in the parent's coordinates; width and height never go below MinSize.
    void SetBounds(int Left, int Top, int Width, int Height);

    // A control kept CompanionMargin pixels inside the tracker (a sibling).
    // Assigning one puts the tracker around it; the tracker itself is refused.
    void SetAcControl(QWidget* Control);
    QWidget* AcControl() const { return FAcControl; }

    TTrackerEvent OnChange;
    TTrackerMouseEvent OnMouseDown, OnMouseMove, OnMouseUp;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;

private:
    static constexpr int HandleSize = 5;
    static constexpr int InnerMargin = 2;      // the dotted rectangle lies this far inside
    static constexpr int CompanionMargin = 5;  // AcControl lies this far inside
    static constexpr int InitialSize = 65;

    void PlaceCompanion();

    QPoint FReference{-1, -1};
    TTrackerZone FGrabbed = tzNone;
    QRect FDownBounds;
    QPointer<QWidget> FAcControl;
    bool FPlacing = false;
};
