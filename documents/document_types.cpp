#include "documents/document_types.h"

#include <QFileInfo>
#include <cmath>

namespace vistrale {

const QStringList& presentationExtensions()
{
    static const QStringList list{"ppt", "pptx", "key"};
    return list;
}

const QStringList& documentExtensions()
{
    static const QStringList list{"doc", "docx", "rtf", "txt", "odt", "pages", "pdf"};
    return list;
}

QStringList viewerExtensions()
{
    return presentationExtensions() + documentExtensions();
}

QString lastExtension(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

bool isViewerFile(const QString& path)
{
    return viewerExtensions().contains(lastExtension(path));
}

QSize documentWindowSize(std::optional<double> aspect, bool isDocument, QSizeF screen)
{
    const bool landscape = aspect ? *aspect > 1.0 : !isDocument;
    const double ratio = landscape ? aspect.value_or(16.0 / 9.0) : 8.5 / 11.0;
    double width;
    double height;
    if (screen.width() < screen.height()) {
        width = std::round(screen.width() * 2.0 / 3.0);
        height = std::round(width / ratio);
    } else {
        height = std::round(screen.height() * 2.0 / 3.0);
        width = std::round(height * ratio);
    }
    return QSize(static_cast<int>(width), static_cast<int>(height));
}

} // namespace vistrale
