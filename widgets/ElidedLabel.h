// A one-line label that never cuts its text off at the right: what does not
// fit is elided in the middle, so the start of a path and its extension
// stay. text() keeps the whole text.
#pragma once

#include <QLabel>

class TElidedLabel : public QLabel {
public:
    explicit TElidedLabel(QWidget* Parent = nullptr);

    // The text as drawn.
    QString Shown() const;
    // Any width will do: the text is elided to it.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
};
