#include "preview/backdrop.h"

#include "platform/log.h"

#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QUrl>

namespace vistrale {

QImage bundledImage(const QString& name)
{
    static const QRegularExpression safeName(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (!safeName.match(name).hasMatch())
        return {};
    QImage image(QStringLiteral(":/images/%1.png").arg(name));
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

namespace {

QImage readPictureFile(const QString& value)
{
    const QUrl url(value);
    const QString path = url.isLocalFile() ? url.toLocalFile() : value;
    if (!QFileInfo(path).isFile())
        return {};
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MAX_BACKDROP_SIDE || size.height() > MAX_BACKDROP_SIDE) {
        logLine("background picture not usable: ", path);
        return {};
    }
    QImage image = reader.read();
    if (image.isNull()) {
        logLine("background picture not readable: ", path);
        return {};
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QImage loadDefaultImage(const std::optional<QString>& background)
{
    if (background && !background->isEmpty()) {
        QImage image = bundledImage(*background);
        if (image.isNull())
            image = readPictureFile(*background);
        if (!image.isNull())
            return image;
    }
    return bundledImage(QStringLiteral("ventura-blue"));
}

} // namespace vistrale
