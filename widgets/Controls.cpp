#include "widgets/Controls.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QToolButton>

#include "widgets/Theme.h"

namespace {

// A picture drawn only in dark greys on a transparent ground (the style's
// play, stop and close glyphs), which a dark theme would swallow.
bool IsDarkGlyph(const QImage& Image) {
    bool Dark = false;
    for (int Y = 0; Y < Image.height(); ++Y) {
        const QRgb* Line = reinterpret_cast<const QRgb*>(Image.constScanLine(Y));
        for (int X = 0; X < Image.width(); ++X) {
            if (qAlpha(Line[X]) < 64) continue;
            const QColor C = QColor::fromRgba(Line[X]);
            if (C.lightness() > 150 || C.hslSaturation() > 80) return false;
            Dark = Dark || C.lightness() < 110;
        }
    }
    return Dark;
}

// The glyph with its greys turned light, alpha kept.
QPixmap Lightened(const QPixmap& Picture) {
    QImage Image = Picture.toImage().convertToFormat(QImage::Format_ARGB32);
    if (!IsDarkGlyph(Image)) return Picture;
    for (int Y = 0; Y < Image.height(); ++Y) {
        QRgb* Line = reinterpret_cast<QRgb*>(Image.scanLine(Y));
        for (int X = 0; X < Image.width(); ++X) {
            const int L = 235 - qGray(Line[X]) / 3;
            Line[X] = qRgba(L, L, L, qAlpha(Line[X]));
        }
    }
    QPixmap Result = QPixmap::fromImage(Image);
    Result.setDevicePixelRatio(Picture.devicePixelRatio());
    return Result;
}

// Hands out the icon's pictures, lightened while a dark theme is in use,
// so an icon made once follows later theme changes.
class TThemeIconEngine : public QIconEngine {
public:
    explicit TThemeIconEngine(QIcon Base) : FBase(std::move(Base)) {}
    void paint(QPainter* Painter, const QRect& Rect, QIcon::Mode Mode, QIcon::State State) override {
        Painter->drawPixmap(Rect, pixmap(Rect.size(), Mode, State));
    }
    QPixmap pixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State State) override {
        const QPixmap Picture = FBase.pixmap(Size, Mode, State);
        return DarkColours() && !Picture.isNull() ? Lightened(Picture) : Picture;
    }
    QPixmap scaledPixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State State, qreal Scale) override {
        const QPixmap Picture = FBase.pixmap(Size, Scale, Mode, State);
        return DarkColours() && !Picture.isNull() ? Lightened(Picture) : Picture;
    }
    QSize actualSize(const QSize& Size, QIcon::Mode Mode, QIcon::State State) override {
        return FBase.actualSize(Size, Mode, State);
    }
    QList<QSize> availableSizes(QIcon::Mode Mode, QIcon::State State) override {
        return FBase.availableSizes(Mode, State);
    }
    QIconEngine* clone() const override { return new TThemeIconEngine(FBase); }
    QString key() const override { return "TThemeIconEngine"; }

private:
    QIcon FBase;
};

}  // namespace

QIcon ThemedIcon(const char* Name, QStyle::StandardPixmap Fallback) {
    const QIcon Icon = QIcon::fromTheme(QString::fromLatin1(Name), QApplication::style()->standardIcon(Fallback));
    return QIcon(new TThemeIconEngine(Icon));
}

QIcon PictureOf(TPicture Picture) {
    switch (Picture) {
        case TPicture::Play: return ThemedIcon("media-playback-start", QStyle::SP_MediaPlay);
        case TPicture::Pause: return ThemedIcon("media-playback-pause", QStyle::SP_MediaPause);
        case TPicture::Stop: return ThemedIcon("media-playback-stop", QStyle::SP_MediaStop);
        case TPicture::Snapshot: return ThemedIcon("camera-photo", QStyle::SP_DialogSaveButton);
        case TPicture::StepBack: return ThemedIcon("go-previous", QStyle::SP_ArrowLeft);
        case TPicture::StepForward: return ThemedIcon("go-next", QStyle::SP_ArrowRight);
    }
    return {};
}

QToolButton* PictureButton(QWidget* Parent, const char* Name, const QString& Hint, const QIcon& Icon,
                           QSize IconSize) {
    auto* B = new QToolButton(Parent);
    B->setObjectName(QString::fromLatin1(Name));
    B->setText(Hint);
    B->setToolTip(Hint);
    B->setIcon(Icon);
    B->setIconSize(IconSize);
    B->setToolButtonStyle(Qt::ToolButtonIconOnly);
    B->resize(PictureButtonSize);
    return B;
}

QToolButton* CommandButton(QWidget* Parent, const char* Name, const QString& Caption, const QIcon& Icon) {
    auto* B = new QToolButton(Parent);
    B->setObjectName(QString::fromLatin1(Name));
    B->setText(Caption);
    B->setIcon(Icon);
    B->setIconSize(QSize(24, 24));
    B->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    B->setAutoRaise(true);
    return B;
}
