// make_icons: writes the program's icon as PNG files in the layout of the hicolor icon theme.
#include "ui/app_icon.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kSizesPx[] = {16, 32, 48};
}

/// make_icons OUTDIR: OUTDIR/NxN/apps/quillon.png for each size.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_icons OUTDIR\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : kSizesPx) {
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = out.filePath(dir + QStringLiteral("/quillon.png"));
        if (!out.mkpath(dir) || !quillon::AppIconImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
