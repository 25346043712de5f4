#include "preview/compositor.h"

#include "platform/clock.h"

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

double Compositor::lastDrawCpuMilliseconds() const
{
    std::lock_guard guard(lock);
    return lastCpuMilliseconds;
}

std::shared_ptr<FrameBuffer> Compositor::takeBuffer(QSize size)
{
    for (auto& buffer : pool)
        if (buffer.use_count() == 1 && buffer->image.size() == size && buffer->image.isDetached())
            return buffer;
    // Keep a handful: the preview, the camera and the recorder may each hold one.
    std::erase_if(pool, [](const auto& buffer) { return buffer.use_count() == 1; });
    auto buffer = std::make_shared<FrameBuffer>();
    buffer->image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    pool.push_back(buffer);
    return buffer;
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
    auto buffer = takeBuffer(list->outputSize);
    draw(*list, buffer->image);
    buffer->hostTime = clock.now();
    const double cpuMilliseconds = threadCpuMilliseconds() - cpuStart;
    const double milliseconds = timer.nsecsElapsed() / 1.0e6;
    {
        std::lock_guard guard(lock);
        ++drawn;
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

} // namespace

void Compositor::draw(const DrawList& list, QImage& target)
{
    target.fill(list.clearColor);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double height = list.outputSize.height();
    for (const DrawOp& op : list.ops) {
        const QRectF box = flipped(op.rect, height);
        if (box.isEmpty())
            continue;
        painter.save();
        painter.setOpacity(op.opacity);
        if (op.shadow && op.shadow->color.alpha() > 0 && op.shadow->blurRadius > 0)
            drawShadow(painter, op, box);
        const QRectF inner = shapeBox(op, box);
        const bool partial = inner != box;
        const bool clipped = op.masksToBounds || op.mask != LayerMask::None || partial;
        const QPainterPath shape = outline(op, inner);
        if (op.backgroundColor.alpha() > 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(op.backgroundColor);
            painter.drawPath(shape);
        }
        if (!op.contents.isNull()) {
            const QRectF unit = op.contentsRect.intersected(QRectF(0, 0, 1, 1));
            const QRect source(qRound(unit.x() * op.contents.width()), qRound(unit.y() * op.contents.height()),
                qRound(unit.width() * op.contents.width()), qRound(unit.height() * op.contents.height()));
            if (!source.isEmpty()) {
                const QRectF where = placed(op.gravity, QSizeF(source.size()), box);
                const QSize pixels(qRound(where.width()), qRound(where.height()));
                if (clipped && (op.cornerRadius > 0 || op.mask != LayerMask::None || partial))
                    painter.setClipPath(shape);
                else if (clipped || op.gravity == ContentsGravity::ResizeAspectFill)
                    painter.setClipRect(box);
                if (!pixels.isEmpty()) {
                    if (pixels == source.size()) {
                        painter.drawImage(where.topLeft(), op.contents, source);
                    } else {
                        // Pictures are scaled once and reused until they change.
                        painter.drawImage(where.topLeft(), scaled(op.contents, source, pixels));
                    }
                }
                painter.setClipping(false);
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
