#pragma once

#include <QImage>
#include <QSizeF>
#include <QString>
#include <memory>

namespace vistrale {

class SceneLayer;

// The caption style: bold, 56 points (one point is one pixel), white; highlighted
// words yellow; the box black at alpha 0.6 with inner margins of 16 points left and
// right and 8 top and bottom.
constexpr double CAPTION_FONT_SIZE = 56;
constexpr double CAPTION_MARGIN_X = 16;
constexpr double CAPTION_MARGIN_Y = 8;
constexpr double CAPTION_BACKGROUND_ALPHA = 0.6;

// The height one line of caption text takes.
double captionLineHeight();
// The box for `lines` visible lines in an output `outputWidth` wide: 60 % of the width,
// starting at 20 % of it, 9 points above the bottom (bottom-left origin).
QRectF captionBoxFrame(double outputWidth, int lines);
// The text as the box shows it, `size` being the box less its margins: the whole text
// wrapped at that width, its last lines at the bottom, every match of the highlight
// pattern yellow. Transparent where there is no text.
QImage renderCaptionPicture(const QString& text, QSize size);
// The whole box at `size`: its background with the text's picture inside its margins.
QImage renderCaptionBoxPicture(const QString& text, QSize size);
// The text from the first of its last `lines` lines when wrapped at `width`: it wraps
// into those same lines, so the box shows the same with less text to lay out.
QString captionTail(const QString& text, double width, int lines);

// The caption box of the share window's scene (`speechScrollView`) and its text layer
// (`speechLayer`). The text's picture is drawn once per change and kept; the
// compositor only places it. Main thread only.
class CaptionBox {
public:
    CaptionBox(double outputWidth, int visibleLines);
    ~CaptionBox();
    CaptionBox(const CaptionBox&) = delete;
    CaptionBox& operator=(const CaptionBox&) = delete;

    const std::shared_ptr<SceneLayer>& view() const { return speechScrollView; }
    const std::shared_ptr<SceneLayer>& textLayer() const { return speechLayer; }
    int visibleLines() const { return lines; }

    // Shows the text (the newest lines of it).
    void setCaptionText(const QString& text);
    const QString& text() const { return lastSpeechString; }

private:
    int lines;
    std::shared_ptr<SceneLayer> speechScrollView;
    std::shared_ptr<SceneLayer> speechLayer;
    QString lastSpeechString;
};

} // namespace vistrale
