#include "captions/caption_box.h"

#include "captions/highlight_words.h"
#include "preview/scene.h"
#include "preview/view_tags.h"

#include <QFont>
#include <QPainter>
#include <QTextLayout>
#include <cmath>

namespace vistrale {
namespace {

QFont captionFont()
{
    QFont font;
    font.setPixelSize(static_cast<int>(CAPTION_FONT_SIZE));
    font.setBold(true);
    return font;
}

// Lays the text out at `width`; its height.
double layOut(QTextLayout& layout, double width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    double height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

} // namespace

double captionLineHeight()
{
    QTextLayout layout(QStringLiteral("Xg"), captionFont());
    return std::ceil(layOut(layout, 10000));
}

QRectF captionBoxFrame(double outputWidth, int lines)
{
    const double x = outputWidth * 20 / 100;
    const double width = outputWidth - 2 * x;
    return QRectF(x, 9, width, 2 * CAPTION_MARGIN_Y + lines * captionLineHeight());
}

QImage renderCaptionPicture(const QString& text, QSize size)
{
    if (size.isEmpty())
        return {};
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    if (text.isEmpty())
        return picture;
    QTextLayout layout(text, captionFont());
    QTextCharFormat highlighted;
    highlighted.setForeground(QColor(Qt::yellow));
    QList<QTextLayout::FormatRange> ranges;
    for (auto it = highlightPattern().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        ranges.append({static_cast<int>(match.capturedStart()), static_cast<int>(match.capturedLength()), highlighted});
    }
    layout.setFormats(ranges);
    const double height = layOut(layout, size.width());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(Qt::white);
    // The text grows upwards from the bottom: its last lines show.
    layout.draw(&painter, QPointF(0, size.height() - height));
    return picture;
}

QImage renderCaptionBoxPicture(const QString& text, QSize size)
{
    if (size.isEmpty())
        return {};
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(0, 0, 0, static_cast<int>(std::lround(255 * CAPTION_BACKGROUND_ALPHA))));
    const QSize inside(size.width() - static_cast<int>(2 * CAPTION_MARGIN_X),
        size.height() - static_cast<int>(2 * CAPTION_MARGIN_Y));
    const QImage textPicture = renderCaptionPicture(text, inside);
    if (!textPicture.isNull()) {
        QPainter painter(&picture);
        painter.drawImage(QPointF(CAPTION_MARGIN_X, CAPTION_MARGIN_Y), textPicture);
    }
    return picture;
}

QString captionTail(const QString& text, double width, int lines)
{
    QTextLayout layout(text, captionFont());
    layOut(layout, width);
    if (layout.lineCount() <= lines)
        return text;
    return text.mid(layout.lineAt(layout.lineCount() - lines).textStart());
}

CaptionBox::CaptionBox(double outputWidth, int visibleLines)
    : lines(visibleLines)
    , speechScrollView(std::make_shared<SceneLayer>("speechScrollView"))
    , speechLayer(std::make_shared<SceneLayer>("speechLayer"))
{
    const QRectF frame = captionBoxFrame(outputWidth, lines);
    speechScrollView->setTag(SPEECH_OVERLAY_TAG);
    speechScrollView->setFrame(frame);
    speechScrollView->setBackgroundColor(
        QColor(0, 0, 0, static_cast<int>(std::lround(255 * CAPTION_BACKGROUND_ALPHA))));
    speechScrollView->setMasksToBounds(true);
    speechScrollView->setHidden(true);
    speechLayer->setFrame(QRectF(CAPTION_MARGIN_X, CAPTION_MARGIN_Y, frame.width() - 2 * CAPTION_MARGIN_X,
        frame.height() - 2 * CAPTION_MARGIN_Y));
    speechScrollView->addChild(speechLayer);
}

CaptionBox::~CaptionBox()
{
    speechScrollView->removeFromParent();
}

void CaptionBox::setCaptionText(const QString& text)
{
    lastSpeechString = text;
    speechLayer->setContents(renderCaptionPicture(text, speechLayer->frame().size().toSize()));
}

} // namespace vistrale
