#pragma once

#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>

namespace vistrale {

// File types the document viewer takes, lower-case extensions without the dot.
const QStringList& presentationExtensions();
const QStringList& documentExtensions();
// Both lists, presentations first: what "Show Document..." offers.
QStringList viewerExtensions();

// The text after the last "." of the path's last component, lower-cased; empty when
// there is none.
QString lastExtension(const QString& path);
// Whether a file of this path opens in the document viewer (any case of extension).
bool isViewerFile(const QString& path);

// The document window's content size for a page aspect (width / height of the first
// PDF page, none when the file is no readable PDF), whether the file counts as a
// document, and the main screen's size. Landscape pages and non-documents get their
// aspect (16:9 without one), everything else 8.5:11; two thirds of the screen's
// height, or of its width on a portrait screen.
QSize documentWindowSize(std::optional<double> aspect, bool isDocument, QSizeF screen);

} // namespace vistrale
