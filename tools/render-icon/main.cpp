// Renders the application's scalable icon into the PNG sizes of the icon theme, so
// that the package carries one drawing and every size is made from it at build time.
//
//   vistrale-render-icon ICON.svg OUTPUT_FOLDER SIZE...
//
// writes OUTPUT_FOLDER/SIZExSIZE/apps/<icon name>.png for each size.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[])
{
    // Offscreen: rendering needs no display at build time.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: vistrale-render-icon ICON.svg OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    QSvgRenderer renderer(arguments[1]);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "not a drawing: %s\n", qPrintable(arguments[1]));
        return 1;
    }
    const QString name = QFileInfo(arguments[1]).completeBaseName();
    for (qsizetype i = 3; i < arguments.size(); ++i) {
        bool number = false;
        const int size = arguments[i].toInt(&number);
        if (!number || size < 8 || size > 1024) {
            std::fprintf(stderr, "not an icon size: %s\n", qPrintable(arguments[i]));
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments[2]).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        if (!QDir().mkpath(folder) || !image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
