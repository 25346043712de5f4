#include "preview/compositor.h"

#include "platform/clock.h"
#include "preview/shaped_copy.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <ctime>

namespace vistrale {
namespace {

// CPU time the calling thread has used, in milliseconds.
double threadCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1.0e3 + static_cast<double>(now.tv_nsec) / 1.0e6;
}

} // namespace

class Compositor::Worker : public QObject {
public:
    explicit Worker(Compositor& owner)
        : owner(owner)
    {
    }
    void run() { owner.drawPending(); }

private:
    Compositor& owner;
};

Compositor::Compositor(const Clock& clock)
    : clock(clock)
{
    thread.setObjectName(QStringLiteral("vistrale-compositor"));
    worker = new Worker(*this);
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();
}

Compositor::~Compositor()
{
    thread.quit();
    thread.wait();
}

void Compositor::setFrameHandler(FrameHandler handler)
{
    frameHandler = std::move(handler);
}

void Compositor::submit(DrawListRef list)
{
    {
        std::lock_guard guard(lock);
        pending = std::move(list);
        if (drawQueued)
            return;
        drawQueued = true;
    }
    QMetaObject::invokeMethod(
        worker, [this] { worker->run(); }, Qt::QueuedConnection);
}

quint64 Compositor::framesDrawn() const
{
    std::lock_guard guard(lock);
    return drawn;
}

double Compositor::lastDrawMilliseconds() const
{
    std::lock_guard guard(lock);
    return lastMilliseconds;
}

quint64 Compositor::framesDrawnInPart() const
{
    std::lock_guard guard(lock);
    return drawnInPart;
}

double Compositor::lastDrawCpuMilliseconds() const
{
    std::lock_guard guard(lock);
    return lastCpuMilliseconds;
}

Compositor::Pooled& Compositor::takeBuffer(QSize size)
{
    for (auto& pooled : pool)
        if (pooled.buffer.use_count() == 1 && pooled.buffer->image.size() == size && pooled.buffer->image.isDetached())
            return pooled;
    // Keep a handful: the preview, the camera and the recorder may each hold one.
    std::erase_if(pool, [](const Pooled& pooled) { return pooled.buffer.use_count() == 1; });
    auto buffer = std::make_shared<FrameBuffer>();
    buffer->image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    pool.push_back(Pooled{std::move(buffer), std::nullopt});
    return pool.back();
}

void Compositor::drawPending()
{
    DrawListRef list;
    {
        std::lock_guard guard(lock);
        list = std::move(pending);
        drawQueued = false;
    }
    if (!list || list->outputSize.isEmpty())
        return;
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = threadCpuMilliseconds();
    Pooled& pooled = takeBuffer(list->outputSize);
    std::shared_ptr<FrameBuffer> buffer = pooled.buffer;
    Drawn look = drawnOf(*list);
    const std::optional<QRegion> damage = pooled.drawn ? damageBetween(*pooled.drawn, look) : std::nullopt;
    // Past about half the picture, clipping costs more than it saves.
    const qint64 area = qint64(list->outputSize.width()) * list->outputSize.height();
    qint64 damaged = 0;
    if (damage)
        for (const QRect& rect : *damage)
            damaged += qint64(rect.width()) * rect.height();
    const bool inPart = damage && damaged * 2 <= area;
    if (!inPart)
        draw(*list, buffer->image);
    else if (!damage->isEmpty())
        draw(*list, buffer->image, *damage);
    if (const std::optional<QRegion> changed = handedOut ? damageBetween(*handedOut, look) : std::nullopt)
        buffer->changed = changed->boundingRect();
    else
        buffer->changed.reset();
    handedOut = look;
    pooled.drawn = std::move(look);
    buffer->sequence = ++handedOutCount;
    buffer->hostTime = clock.now();
    const double cpuMilliseconds = threadCpuMilliseconds() - cpuStart;
    const double milliseconds = timer.nsecsElapsed() / 1.0e6;
    {
        std::lock_guard guard(lock);
        ++drawn;
        drawnInPart += inPart ? 1 : 0;
        lastMilliseconds = milliseconds;
        lastCpuMilliseconds = cpuMilliseconds;
    }
    pixelTrace.frame(*buffer);
    if (frameHandler)
        frameHandler(std::const_pointer_cast<const FrameBuffer>(buffer));
}

const QImage& Compositor::scaled(const QImage& picture, const QRect& source, QSize size)
{
    const qint64 key = picture.cacheKey();
    ++generation;
    for (auto& entry : scaledPictures) {
        if (entry.key == key && entry.source == source && entry.size == size) {
            entry.lastUsed = generation;
            return entry.image;
        }
    }
    // Pictures not drawn in the last few frames are let go.
    std::erase_if(scaledPictures, [this](const ScaledPicture& entry) { return entry.lastUsed + 64 < generation; });
    QImage part = source == picture.rect() ? picture : picture.copy(source);
    scaledPictures.push_back(ScaledPicture{key, source, size,
        part.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_ARGB32_Premultiplied),
        generation});
    return scaledPictures.back().image;
}

namespace {

// Output coordinates have their origin at the bottom left; images at the top left.
QRectF flipped(const QRectF& rect, double height)
{
    return QRectF(rect.x(), height - rect.y() - rect.height(), rect.width(), rect.height());
}

QRectF placed(ContentsGravity gravity, QSizeF picture, const QRectF& box)
{
    if (gravity == ContentsGravity::Resize || picture.isEmpty())
        return box;
    const QSizeF size = picture.scaled(
        box.size(), gravity == ContentsGravity::ResizeAspect ? Qt::KeepAspectRatio : Qt::KeepAspectRatioByExpanding);
    return QRectF(
        box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(), size.height());
}

// Where the layer's shape lies inside its box (image coordinates, top-left origin).
QRectF shapeBox(const DrawOp& op, const QRectF& box)
{
    const QRectF& unit = op.maskRect;
    if (unit == QRectF(0, 0, 1, 1))
        return box;
    return QRectF(box.x() + unit.x() * box.width(), box.y() + (1 - unit.y() - unit.height()) * box.height(),
        unit.width() * box.width(), unit.height() * box.height());
}

QPainterPath outline(const DrawOp& op, const QRectF& box)
{
    QPainterPath path;
    if (op.mask == LayerMask::Ellipse)
        path.addEllipse(box);
    else if (op.cornerRadius > 0)
        path.addRoundedRect(box, op.cornerRadius, op.cornerRadius);
    else
        path.addRect(box);
    return path;
}

void drawShadow(QPainter& painter, const DrawOp& op, const QRectF& box)
{
    // A soft shadow as a few widening, fading outlines: cheap and close to a blur.
    const LayerShadow& shadow = *op.shadow;
    const int steps = std::clamp(static_cast<int>(std::ceil(shadow.blurRadius)), 1, 8);
    const QRectF base = box.translated(shadow.offset.x(), -shadow.offset.y());
    painter.setPen(Qt::NoPen);
    for (int i = steps; i >= 1; --i) {
        const double grow = shadow.blurRadius * i / steps;
        QColor color = shadow.color;
        color.setAlphaF(static_cast<float>(shadow.color.alphaF() / (steps + 1)));
        painter.setBrush(color);
        painter.drawRoundedRect(
            base.adjusted(-grow, -grow, grow, grow), op.cornerRadius + grow, op.cornerRadius + grow);
    }
}

// Whether a layer paints every pixel of the output opaquely by itself: an opaque
// picture drawn unscaled over exactly the whole output, or an opaque colour filling
// it, with nothing to shape or fade it.
bool coversOutput(const DrawOp& op, QSize output)
{
    const QRectF whole(QPointF(0, 0), QSizeF(output));
    if (op.opacity < 1 || op.mask != LayerMask::None || op.cornerRadius > 0 || op.maskRect != QRectF(0, 0, 1, 1)
        || flipped(op.rect, whole.height()) != whole)
        return false;
    if (op.backgroundColor.alpha() == 255)
        return true;
    if (op.planar)
        return op.planar->size == output && op.contentsRect == QRectF(0, 0, 1, 1);
    return !op.contents.isNull() && !op.contents.hasAlphaChannel() && op.contentsRect == QRectF(0, 0, 1, 1)
        && op.contents.size() == output && placed(op.gravity, QSizeF(op.contents.size()), whole) == whole;
}

// The last layer that covers the output: the clear and every layer before it would be
// painted over (the desktop's colour under a backdrop, a still backdrop under a video).
std::optional<std::size_t> lastCoveringOp(const DrawList& list)
{
    for (std::size_t i = list.ops.size(); i-- > 0;)
        if (coversOutput(list.ops[i], list.outputSize))
            return i;
    return std::nullopt;
}

// The pixels a layer can touch: its box (only its shape's part when it clips to its
// shape: a round webcam in a wide frame), its shadow, and a margin for antialiased edges.
QRect bounds(const DrawOp& op, double height)
{
    QRectF box = flipped(op.rect, height);
    if (box.isEmpty())
        return {};
    if (op.masksToBounds || op.mask != LayerMask::None)
        box = shapeBox(op, box);
    if (op.shadow && op.shadow->color.alpha() > 0 && op.shadow->blurRadius > 0) {
        const double grow = op.shadow->blurRadius;
        box |= box.translated(op.shadow->offset.x(), -op.shadow->offset.y()).adjusted(-grow, -grow, grow, grow);
    }
    return box.toAlignedRect().adjusted(-2, -2, 2, 2);
}

bool sameLook(const DrawOp& a, const DrawOp& b)
{
    return a.rect == b.rect && a.opacity == b.opacity && a.cornerRadius == b.cornerRadius
        && a.masksToBounds == b.masksToBounds && a.mask == b.mask && a.maskRect == b.maskRect
        && a.backgroundColor == b.backgroundColor && a.borderWidth == b.borderWidth && a.borderColor == b.borderColor
        && a.shadow == b.shadow && a.contentsRect == b.contentsRect && a.gravity == b.gravity;
}

} // namespace

Compositor::Drawn Compositor::drawnOf(const DrawList& list)
{
    Drawn drawn{list.outputSize, list.clearColor, {}};
    drawn.ops.reserve(list.ops.size());
    for (const DrawOp& op : list.ops) {
        DrawnOp entry{op, op.planar ? op.planar->id : op.contents.isNull() ? 0 : op.contents.cacheKey()};
        // Only the key is kept: holding the picture would keep its buffer from reuse.
        entry.look.contents = QImage();
        entry.look.planar.reset();
        drawn.ops.push_back(std::move(entry));
    }
    return drawn;
}

std::optional<QRegion> Compositor::damageBetween(const Drawn& before, const Drawn& after)
{
    if (before.size != after.size || before.clear != after.clear || before.ops.size() != after.ops.size())
        return std::nullopt;
    const double height = after.size.height();
    QRegion damage;
    for (size_t i = 0; i < after.ops.size(); ++i) {
        const DrawnOp& was = before.ops[i];
        const DrawnOp& is = after.ops[i];
        if (was.picture == is.picture && sameLook(was.look, is.look))
            continue;
        damage += bounds(was.look, height);
        damage += bounds(is.look, height);
    }
    damage &= QRect(QPoint(0, 0), after.size);
    // Many small pieces clip slowly; their bounding box does not.
    if (damage.rectCount() > 16)
        damage = damage.boundingRect();
    return damage;
}

void Compositor::draw(const DrawList& list, QImage& target)
{
    paint(list, target, nullptr);
}

void Compositor::draw(const DrawList& list, QImage& target, const QRegion& damage)
{
    paint(list, target, &damage);
}

void Compositor::paint(const DrawList& list, QImage& target, const QRegion* damage)
{
    const std::optional<std::size_t> covering = lastCoveringOp(list);
    if (!damage && !covering)
        target.fill(list.clearColor);
    QPainter painter(&target);
    if (damage) {
        painter.setClipRegion(*damage);
        if (!covering) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            for (const QRect& rect : *damage)
                painter.fillRect(rect, list.clearColor);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double height = list.outputSize.height();
    for (std::size_t i = covering.value_or(0); i < list.ops.size(); ++i) {
        const DrawOp& listed = list.ops[i];
        const QRectF box = flipped(listed.rect, height);
        if (box.isEmpty() || (damage && !damage->intersects(bounds(listed, height))))
            continue;
        if (listed.planar && coversOutput(listed, list.outputSize)) {
            // A video picture over the whole frame: converted straight into it.
            const QRegion area = damage ? *damage : QRegion(QRect(QPoint(0, 0), list.outputSize));
            for (const QRect& rect : area)
                listed.planar->convertInto(target, rect);
            continue;
        }
        // Anywhere else a video picture is drawn as a picture (not while playing).
        DrawOp converted;
        if (listed.planar) {
            converted = listed;
            converted.contents = listed.planar->toImage();
            converted.planar.reset();
        }
        const DrawOp& op = listed.planar ? converted : listed;
        painter.save();
        painter.setOpacity(op.opacity);
        if (op.shadow && op.shadow->color.alpha() > 0 && op.shadow->blurRadius > 0)
            drawShadow(painter, op, box);
        const QRectF inner = shapeBox(op, box);
        const bool partial = inner != box;
        const bool clipped = op.masksToBounds || op.mask != LayerMask::None || partial;
        const QPainterPath shape = outline(op, inner);
        const QRectF unit = op.contentsRect.intersected(QRectF(0, 0, 1, 1));
        const QRect source(qRound(unit.x() * op.contents.width()), qRound(unit.y() * op.contents.height()),
            qRound(unit.width() * op.contents.width()), qRound(unit.height() * op.contents.height()));
        const QRectF where = placed(op.gravity, QSizeF(source.size()), box);
        // An opaque picture over all of the shape hides the background colour (the
        // webcam's black behind its picture).
        const bool hidden = !source.isEmpty() && !op.contents.hasAlphaChannel() && op.opacity >= 1
            && QRectF(where.toAlignedRect()) == where && where.contains(clipped ? inner : box);
        if (op.backgroundColor.alpha() > 0 && !hidden) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(op.backgroundColor);
            painter.drawPath(shape);
        }
        if (!op.contents.isNull()) {
            if (!source.isEmpty()) {
                const QSize pixels(qRound(where.width()), qRound(where.height()));
                const bool shaped = clipped && (op.cornerRadius > 0 || op.mask != LayerMask::None || partial);
                const QPoint corner = where.topLeft().toPoint();
                if (shaped && pixels == source.size() && op.opacity >= 1 && QPointF(corner) == where.topLeft()
                    && ShapedCopy::suits(op.contents, target)) {
                    // An opaque picture through a shape, unscaled: copied row by row.
                    shapedCopy.draw(target, shape, op.contents, source, corner,
                        damage ? *damage : QRegion(QRect(QPoint(0, 0), list.outputSize)));
                } else {
                    // Shape clips narrow the damage clip and end with the contents.
                    painter.save();
                    if (shaped)
                        painter.setClipPath(shape, Qt::IntersectClip);
                    else if (clipped || op.gravity == ContentsGravity::ResizeAspectFill)
                        painter.setClipRect(box, Qt::IntersectClip);
                    if (pixels == source.size()) {
                        painter.drawImage(where.topLeft(), op.contents, source);
                    } else if (!pixels.isEmpty()) {
                        // Pictures are scaled once and reused until they change.
                        painter.drawImage(where.topLeft(), scaled(op.contents, source, pixels));
                    }
                    painter.restore();
                }
            }
        }
        if (op.borderWidth > 0 && op.borderColor.alpha() > 0) {
            const double half = op.borderWidth / 2;
            QPen pen(op.borderColor, op.borderWidth);
            pen.setJoinStyle(Qt::MiterJoin);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            const QRectF line = inner.adjusted(half, half, -half, -half);
            if (op.mask == LayerMask::Ellipse) {
                painter.drawEllipse(line);
            } else {
                const double radius = std::max(0.0, op.cornerRadius - half);
                painter.drawRoundedRect(line, radius, radius);
            }
        }
        painter.restore();
    }
}

} // namespace vistrale
