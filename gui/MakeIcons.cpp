// Build tool: writes the product icon as PNG files for the desktop's icon
// theme, one per size given, so the installed icons are the window's own.
//   make_icons OUTDIR SIZE...   ->  OUTDIR/SIZE.png
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "widgets/Artwork.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_icons OUTDIR SIZE...\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int QtArgc = 1;
    QGuiApplication App(QtArgc, argv);
    for (int I = 2; I < argc; ++I) {
        const int Size = std::atoi(argv[I]);
        const std::string File = std::string(argv[1]) + "/" + std::to_string(Size) + ".png";
        if (Size < 16 || Size > 1024 || !ProductIcon(Size).save(QString::fromStdString(File), "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", File.c_str());
            return 1;
        }
    }
    return 0;
}
