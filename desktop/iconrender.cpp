// Writes the program icon, drawn by the same code as the window's, as PNG
// files of the desktop's icon theme: <folder>/<n>x<n>/apps/portlark.png for
// each size given. Run at build time on the offscreen platform.

#include "portlarkicon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 3) {
        std::fputs("usage: portlark_iconrender <folder> <size>...\n", stderr);
        return 2;
    }
    const QDir theme(arguments.at(1));
    for (const QString &text : arguments.mid(2)) {
        bool ok = false;
        const int size = text.toInt(&ok);
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = theme.filePath(folder + QStringLiteral("/portlark.png"));
        if (!ok || size < 1 || !theme.mkpath(folder) || !PortlarkIconPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "portlark_iconrender: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
