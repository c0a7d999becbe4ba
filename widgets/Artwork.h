// Pictures the program draws itself: the product icon and the splash.
#pragma once

#include <QPixmap>
#include <QString>

// A square icon: a blue tile with a film strip and a play triangle.
QPixmap ProductIcon(int Size);
// The built-in splash picture: a calm gradient, the icon, Title and Version.
QPixmap SplashPicture(int Width, int Height, const QString& Title, const QString& Version);
