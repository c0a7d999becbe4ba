#include "widgets/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

void DrawIcon(QPainter& P, const QRectF& R) {
    const qreal S = R.width();
    QLinearGradient Tile(R.topLeft(), R.bottomLeft());
    Tile.setColorAt(0, QColor(74, 136, 214));
    Tile.setColorAt(1, QColor(32, 82, 160));
    P.setPen(QPen(QColor(24, 62, 124), qMax<qreal>(1, S / 32)));
    P.setBrush(Tile);
    P.drawRoundedRect(R.adjusted(0.5, 0.5, -0.5, -0.5), S * 0.18, S * 0.18);

    // Film perforations along the top and bottom edges.
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 255, 255, 150));
    const int Holes = 4;
    const qreal HoleW = S * 0.12, HoleH = S * 0.08;
    for (int I = 0; I < Holes; ++I) {
        qreal X = R.left() + S * 0.14 + I * (S * 0.72 - HoleW) / (Holes - 1);
        P.drawRoundedRect(QRectF(X, R.top() + S * 0.08, HoleW, HoleH), HoleH / 3, HoleH / 3);
        P.drawRoundedRect(QRectF(X, R.bottom() - S * 0.08 - HoleH, HoleW, HoleH), HoleH / 3, HoleH / 3);
    }

    QPainterPath Play;
    Play.moveTo(R.left() + S * 0.38, R.top() + S * 0.30);
    Play.lineTo(R.left() + S * 0.72, R.top() + S * 0.50);
    Play.lineTo(R.left() + S * 0.38, R.top() + S * 0.70);
    Play.closeSubpath();
    P.setBrush(Qt::white);
    P.drawPath(Play);
}

}  // namespace

QPixmap ProductIcon(int Size) {
    QPixmap Icon(Size, Size);
    Icon.fill(Qt::transparent);
    QPainter P(&Icon);
    P.setRenderHint(QPainter::Antialiasing);
    DrawIcon(P, QRectF(0, 0, Size, Size));
    return Icon;
}

QPixmap SplashPicture(int Width, int Height, const QString& Title, const QString& Version) {
    QPixmap Picture(Width, Height);
    QPainter P(&Picture);
    P.setRenderHint(QPainter::Antialiasing);
    P.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient Sky(0, 0, Width, Height);
    Sky.setColorAt(0, QColor(28, 58, 104));
    Sky.setColorAt(1, QColor(36, 112, 138));
    P.fillRect(Picture.rect(), Sky);
    QRadialGradient Glow(Width * 0.78, Height * 0.2, Width * 0.6);
    Glow.setColorAt(0, QColor(255, 255, 255, 46));
    Glow.setColorAt(1, QColor(255, 255, 255, 0));
    P.fillRect(Picture.rect(), Glow);

    // Two soft waves across the lower part.
    for (int Wave = 0; Wave < 2; ++Wave) {
        QPainterPath Path;
        qreal Base = Height * (0.78 + 0.08 * Wave);
        Path.moveTo(0, Base);
        Path.cubicTo(Width * 0.3, Base - 26 + Wave * 8, Width * 0.6, Base + 22, Width, Base - 10);
        Path.lineTo(Width, Height);
        Path.lineTo(0, Height);
        Path.closeSubpath();
        P.fillPath(Path, QColor(255, 255, 255, 18 + Wave * 10));
    }

    const int IconSize = 64;
    DrawIcon(P, QRectF(28, 42, IconSize, IconSize));

    QFont TitleFont("DejaVu Sans");
    TitleFont.setPixelSize(22);
    TitleFont.setBold(true);
    P.setFont(TitleFont);
    P.setPen(Qt::white);
    const QRect TitleArea(108, 36, Width - 120, 80);
    P.drawText(TitleArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, Title);

    QFont Small("DejaVu Sans");
    Small.setPixelSize(13);
    P.setFont(Small);
    P.setPen(QColor(214, 230, 244));
    P.drawText(QRect(108, 118, Width - 120, 20), Qt::AlignLeft | Qt::AlignVCenter, Version.trimmed());
    P.drawText(QRect(28, Height - 34, Width - 56, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Video, audio and pictures for your player"));
    return Picture;
}
