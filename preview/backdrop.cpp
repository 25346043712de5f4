#include "preview/backdrop.h"

#include "platform/log.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QUrl>

namespace vistrale {

QImage bundledImage(const QString& name)
{
    static const QRegularExpression safeName(QStringLiteral("^([A-Za-z0-9_-]{1,64})(\\.(png|jpg))?$"));
    const QRegularExpressionMatch match = safeName.match(name);
    if (!match.hasMatch())
        return {};
    for (const char* extension : {"png", "jpg"}) {
        QImage image(QStringLiteral(":/images/%1.%2").arg(match.captured(1), QLatin1String(extension)));
        if (!image.isNull())
            return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return {};
}

QImage readBackdropPicture(QIODevice& device, const QString& label, QString* problem)
{
    const auto fail = [&](const QString& text, const QString& detail) {
        if (problem)
            *problem = "picture " + (detail.isEmpty() ? text : text + " " + detail);
        else if (detail.isEmpty())
            logLine("background picture " + text + ":", printableText(label));
        else
            logLine("background picture " + text + ":", printableText(label), printableText(detail));
        return QImage();
    };
    QImageReader reader(&device);
    const QSize size = reader.size();
    if (!size.isValid())
        return fail("not usable", {});
    if (size.width() > MAX_BACKDROP_SIDE || size.height() > MAX_BACKDROP_SIDE
        || qint64(size.width()) * size.height() > MAX_BACKDROP_PIXELS)
        return fail("too large", QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
    QImage image = reader.read();
    if (image.isNull())
        return fail("not readable", reader.errorString());
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

QImage readBackdropPicture(const QString& value, QString* problem)
{
    const QUrl url(value);
    const QString path = url.isLocalFile() ? url.toLocalFile() : value;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (problem)
            *problem = QStringLiteral("not found");
        else
            logLine("background picture not found:", printableText(path));
        return {};
    }
    return readBackdropPicture(file, path, problem);
}

namespace {

// A picture whose pixels are all opaque comes back as RGB32: it is then drawn as a plain
// copy, and the frame under it needs no clearing.
QImage opaqueWherePossible(const QImage& picture)
{
    if (!picture.hasAlphaChannel())
        return picture;
    const QImage premultiplied = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < premultiplied.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        for (int x = 0; x < premultiplied.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return picture;
    }
    return premultiplied.convertToFormat(QImage::Format_RGB32);
}

} // namespace

QImage aspectFilled(const QImage& picture, QSize size)
{
    if (picture.isNull() || size.isEmpty() || picture.size() == size)
        return opaqueWherePossible(picture);
    const QImage covering = picture.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return opaqueWherePossible(covering.copy(
        (covering.width() - size.width()) / 2, (covering.height() - size.height()) / 2, size.width(), size.height()));
}

QImage loadDefaultImage(const std::optional<QString>& background)
{
    if (background && !background->isEmpty()) {
        // A video backdrop starts later; its picture until then is the default one.
        const QString extension = QFileInfo(QUrl(*background).path()).suffix().toLower();
        const bool video = extension == "mov" || extension == "mp4";
        QImage image = video ? QImage() : bundledImage(*background);
        if (image.isNull() && !video)
            image = readBackdropPicture(*background);
        if (!image.isNull())
            return image;
    }
    return bundledImage(QStringLiteral("ventura-blue"));
}

} // namespace vistrale
