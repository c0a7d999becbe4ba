#include "widgets/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

TElidedLabel::TElidedLabel(QWidget* Parent) : QLabel(Parent) { setTextFormat(Qt::PlainText); }

QString TElidedLabel::Shown() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize TElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("\u2026")), QLabel::minimumSizeHint().height()};
}

void TElidedLabel::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    style()->drawItemText(&Painter, contentsRect(), int(alignment()), palette(), isEnabled(), Shown(),
                          foregroundRole());
}
