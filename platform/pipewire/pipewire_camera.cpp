#include "platform/pipewire/pipewire_camera.h"

#include "platform/camera.h"
#include "platform/camera/camera_buffer_damage.h"
#include "platform/camera/camera_pixels.h"
#include "platform/log.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

namespace vistrale {
namespace {

constexpr int RETRY_SECONDS = 2;
// Readers hold buffers while they look at them: two stall the stream and three drop
// frames with a GStreamer reader, so at least four.
constexpr int BUFFERS_DEFAULT = 4;
constexpr int BUFFERS_MIN = 2;
constexpr int BUFFERS_MAX = 8;
constexpr int FRAMES_PER_SECOND = 30;
// Pictures larger than this are not a camera this node offers.
constexpr int MAX_SIDE = 8192;

struct FormatPair {
    CameraPixelFormat camera;
    spa_video_format spa;
};

// Offered in this order: the first is what a reader gets that asks for nothing in
// particular. The packed RGB formats need no conversion at all.
constexpr FormatPair FORMATS[] = {
    {CameraPixelFormat::BGRx, SPA_VIDEO_FORMAT_BGRx},
    {CameraPixelFormat::BGRA, SPA_VIDEO_FORMAT_BGRA},
    {CameraPixelFormat::I420, SPA_VIDEO_FORMAT_I420},
    {CameraPixelFormat::NV12, SPA_VIDEO_FORMAT_NV12},
    {CameraPixelFormat::YUY2, SPA_VIDEO_FORMAT_YUY2},
};

std::optional<CameraPixelFormat> cameraFormatOf(uint32_t spa)
{
    for (const FormatPair& pair : FORMATS) {
        if (static_cast<uint32_t>(pair.spa) == spa)
            return pair.camera;
    }
    return std::nullopt;
}

bool isYuv(CameraPixelFormat format)
{
    return format == CameraPixelFormat::YUY2 || format == CameraPixelFormat::I420 || format == CameraPixelFormat::NV12;
}

// What the conversions write, in PipeWire's terms, so that readers decode the
// colours that were meant.
constexpr spa_video_color_matrix YUV_MATRIX
    = CAMERA_YUV_MATRIX == CameraYuvMatrix::BT601 ? SPA_VIDEO_COLOR_MATRIX_BT601 : SPA_VIDEO_COLOR_MATRIX_BT709;
constexpr spa_video_color_range YUV_RANGE
    = CAMERA_YUV_RANGE == CameraYuvRange::Limited ? SPA_VIDEO_COLOR_RANGE_16_235 : SPA_VIDEO_COLOR_RANGE_0_255;

const spa_pod* formatParam(spa_pod_builder* builder, const FormatPair& pair, QSize size)
{
    spa_rectangle rectangle{static_cast<uint32_t>(size.width()), static_cast<uint32_t>(size.height())};
    spa_fraction rate{FRAMES_PER_SECOND, 1};
    spa_pod_frame frame;
    spa_pod_builder_push_object(builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(pair.spa), SPA_FORMAT_VIDEO_size,
        SPA_POD_Rectangle(&rectangle), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), 0);
    if (isYuv(pair.camera)) {
        spa_pod_builder_add(builder, SPA_FORMAT_VIDEO_colorMatrix, SPA_POD_Id(YUV_MATRIX), SPA_FORMAT_VIDEO_colorRange,
            SPA_POD_Id(YUV_RANGE), 0);
    }
    return static_cast<const spa_pod*>(spa_pod_builder_pop(builder, &frame));
}

} // namespace

struct PipeWireCamera::Impl {
    Impl(QString remote, QSize size);
    ~Impl();

    // Loop thread (or with the loop locked).
    void connect();
    void teardown();
    void lose(const QString& text, const QString& why);
    void armRetry(bool soon);
    void updateWatched();

    static void onCoreError(void* data, uint32_t id, int seq, int res, const char* message);
    static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);
    static void onParamChanged(void* data, uint32_t id, const spa_pod* param);
    static void onBuffersChanged(void* data, pw_buffer* buffer);
    static void onRetry(void* data, uint64_t expirations);
    void formatChanged(const spa_pod* param);

    const QByteArray remote;
    const QSize size;

    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    spa_hook coreListener{};
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    spa_source* retry = nullptr;
    pw_core_events coreEvents{};
    pw_stream_events streamEvents{};

    // Guarded by the loop's lock.
    bool lost = false;
    bool everPublished = false;
    bool absenceLogged = false;
    bool streaming = false;
    bool negotiated = false;
    CameraPixelFormat format = CameraPixelFormat::BGRx;
    QSize negotiatedSize;
    int stride = 0; // of the first plane; the others follow packed
    int pictureBytes = 0;
    uint32_t sequence = 0;
    // What each buffer still lacks of the newest frame: only that is converted.
    CameraBufferDamage damage;

    std::atomic<bool> watchedFlag{false};
    std::atomic<bool> publishedFlag{false};
};

PipeWireCamera::Impl::Impl(QString remoteName, QSize pictureSize)
    : remote(remoteName.toLocal8Bit())
    , size(pictureSize)
{
    pw_init(nullptr, nullptr);
    coreEvents.version = PW_VERSION_CORE_EVENTS;
    coreEvents.error = onCoreError;
    streamEvents.version = PW_VERSION_STREAM_EVENTS;
    streamEvents.state_changed = onStateChanged;
    streamEvents.param_changed = onParamChanged;
    streamEvents.add_buffer = onBuffersChanged;
    streamEvents.remove_buffer = onBuffersChanged;

    loop = pw_thread_loop_new("vistrale-pw", nullptr);
    if (!loop) {
        logLine("pipewire camera: no loop thread: ", QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    pw_thread_loop_lock(loop);
    context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    if (!context) {
        logLine("pipewire camera: no context: ", QString::fromLocal8Bit(std::strerror(errno)));
        pw_thread_loop_unlock(loop);
        return;
    }
    retry = pw_loop_add_timer(pw_thread_loop_get_loop(loop), onRetry, this);
    connect();
    pw_thread_loop_unlock(loop);
    pw_thread_loop_start(loop);
}

PipeWireCamera::Impl::~Impl()
{
    if (!loop)
        return;
    pw_thread_loop_lock(loop);
    teardown();
    if (retry)
        pw_loop_destroy_source(pw_thread_loop_get_loop(loop), retry);
    retry = nullptr;
    pw_thread_loop_unlock(loop);
    pw_thread_loop_stop(loop);
    if (context)
        pw_context_destroy(context);
    pw_thread_loop_destroy(loop);
}

void PipeWireCamera::Impl::connect()
{
    pw_properties* coreProps = nullptr;
    if (!remote.isEmpty())
        coreProps = pw_properties_new(PW_KEY_REMOTE_NAME, remote.constData(), nullptr);
    core = pw_context_connect(context, coreProps, 0);
    if (!core) {
        if (!absenceLogged) {
            logLine("pipewire camera: no daemon, retrying: ", QString::fromLocal8Bit(std::strerror(errno)));
            absenceLogged = true;
        }
        armRetry(false);
        return;
    }
    pw_core_add_listener(core, &coreListener, &coreEvents, this);

    const QByteArray description = QByteArray(VISTRALE_CAMERA_NAME);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
        PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, NODE_NAME,
        PW_KEY_NODE_DESCRIPTION, description.constData(), nullptr);
    stream = pw_stream_new(core, description.constData(), props);
    if (!stream) {
        lose("pipewire camera: no stream: ", QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    pw_stream_add_listener(stream, &streamListener, &streamEvents, this);

    uint8_t memory[4096];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(memory, sizeof(memory));
    const spa_pod* params[std::size(FORMATS)];
    for (size_t i = 0; i < std::size(FORMATS); ++i)
        params[i] = formatParam(&builder, FORMATS[i], size);
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
    const int result = pw_stream_connect(
        stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, static_cast<uint32_t>(std::size(params)));
    if (result < 0) {
        lose("pipewire camera: stream not connected: ", QString::fromLocal8Bit(std::strerror(-result)));
        return;
    }
    lost = false;
    if (retry)
        pw_loop_update_timer(pw_thread_loop_get_loop(loop), retry, nullptr, nullptr, false);
}

void PipeWireCamera::Impl::teardown()
{
    streaming = false;
    negotiated = false;
    updateWatched();
    publishedFlag = false;
    if (stream) {
        spa_hook_remove(&streamListener);
        pw_stream_destroy(stream);
        stream = nullptr;
    }
    if (core) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
    }
}

// The daemon went away or refused the node: one line, then a fresh start soon and,
// while that fails, every RETRY_SECONDS, until the node is published again. Tearing
// down waits for the timer, as the objects may be inside their own callbacks here.
void PipeWireCamera::Impl::lose(const QString& text, const QString& why)
{
    streaming = false;
    negotiated = false;
    updateWatched();
    publishedFlag = false;
    if (lost)
        return;
    lost = true;
    // One line per outage: a connection made while the old daemon is still shutting
    // down is lost again before it publishes, and retries then wait the full period.
    const bool firstLoss = !absenceLogged;
    if (firstLoss)
        logLine(text, why);
    absenceLogged = true;
    armRetry(firstLoss);
}

void PipeWireCamera::Impl::armRetry(bool soon)
{
    if (!retry)
        return;
    timespec first{soon ? 0 : RETRY_SECONDS, soon ? 1000000 : 0};
    timespec every{RETRY_SECONDS, 0};
    pw_loop_update_timer(pw_thread_loop_get_loop(loop), retry, &first, &every, false);
}

void PipeWireCamera::Impl::onRetry(void* data, uint64_t)
{
    auto* self = static_cast<Impl*>(data);
    if (self->core || self->stream)
        self->teardown();
    self->connect();
}

void PipeWireCamera::Impl::updateWatched()
{
    watchedFlag = streaming && negotiated;
}

void PipeWireCamera::Impl::onCoreError(void* data, uint32_t id, int, int res, const char* message)
{
    auto* self = static_cast<Impl*>(data);
    if (id == PW_ID_CORE && res == -EPIPE)
        self->lose("pipewire camera: daemon lost, retrying: ", QString::fromUtf8(message ? message : ""));
    else if (id == PW_ID_CORE)
        logLine("pipewire camera: daemon error: ", QString::fromUtf8(message ? message : ""));
}

void PipeWireCamera::Impl::onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* self = static_cast<Impl*>(data);
    switch (state) {
    case PW_STREAM_STATE_ERROR:
        self->lose("pipewire camera: stream failed, retrying: ", QString::fromUtf8(error ? error : ""));
        return;
    case PW_STREAM_STATE_UNCONNECTED:
        self->lose("pipewire camera: daemon lost, retrying: ", QStringLiteral("disconnected"));
        return;
    case PW_STREAM_STATE_CONNECTING:
        self->streaming = false;
        break;
    case PW_STREAM_STATE_PAUSED:
        self->streaming = false;
        self->publishedFlag = true;
        if (self->absenceLogged && !self->everPublished)
            logLine("pipewire camera: published");
        else if (self->everPublished && self->absenceLogged)
            logLine("pipewire camera: published again");
        self->absenceLogged = false;
        self->everPublished = true;
        break;
    case PW_STREAM_STATE_STREAMING:
        self->streaming = true;
        self->publishedFlag = true;
        break;
    }
    self->updateWatched();
}

void PipeWireCamera::Impl::onBuffersChanged(void* data, pw_buffer*)
{
    // Memory may come back at an address that held another buffer: forget them all.
    static_cast<Impl*>(data)->damage.reset();
}

void PipeWireCamera::Impl::onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    if (id == SPA_PARAM_Format)
        static_cast<Impl*>(data)->formatChanged(param);
}

// The format a reader chose, from our offer; anything else is refused with a line.
void PipeWireCamera::Impl::formatChanged(const spa_pod* param)
{
    negotiated = false;
    updateWatched();
    if (!param)
        return;
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    spa_video_info_raw info{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
        || mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0) {
        logLine("pipewire camera: unusable format from the reader");
        return;
    }
    const std::optional<CameraPixelFormat> chosen = cameraFormatOf(info.format);
    const QSize chosenSize(static_cast<int>(std::min<uint32_t>(info.size.width, MAX_SIDE + 1)),
        static_cast<int>(std::min<uint32_t>(info.size.height, MAX_SIDE + 1)));
    const bool sizeOk = chosenSize.width() <= MAX_SIDE && chosenSize.height() <= MAX_SIDE;
    const int bytes = chosen && sizeOk ? cameraPictureBytes(*chosen, chosenSize) : 0;
    if (bytes <= 0) {
        logLine("pipewire camera: unusable format from the reader: ",
            QString("%1 %2x%3").arg(info.format).arg(info.size.width).arg(info.size.height));
        return;
    }
    format = *chosen;
    negotiatedSize = chosenSize;
    damage.reset();
    pictureBytes = bytes;
    // Planes packed one after another in one block, as readers expect.
    uint8_t probe = 0;
    stride = cameraPackedPlanes(format, negotiatedSize, &probe).stride[0];

    uint8_t memory[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(memory, sizeof(memory));
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(BUFFERS_DEFAULT, BUFFERS_MIN, BUFFERS_MAX), SPA_PARAM_BUFFERS_blocks,
            SPA_POD_Int(1), SPA_PARAM_BUFFERS_size, SPA_POD_Int(bytes), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
            SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    pw_stream_update_params(stream, params, 2);
    negotiated = true;
    updateWatched();
}

PipeWireCamera::PipeWireCamera(QString remote, QSize size)
    : impl(std::make_unique<Impl>(std::move(remote), size))
{
}

PipeWireCamera::~PipeWireCamera() = default;

QString PipeWireCamera::name() const
{
    return QStringLiteral("pipewire");
}

bool PipeWireCamera::watched() const
{
    return impl->watchedFlag.load();
}

bool PipeWireCamera::published() const
{
    return impl->publishedFlag.load();
}

bool PipeWireCamera::write(const FrameBuffer& frame, double hostTime, bool mirrored)
{
    if (!impl->watchedFlag.load() || frame.image.isNull() || !impl->loop)
        return false;
    QImage converted;
    const QImage* source = &frame.image;
    if (frame.image.format() != QImage::Format_ARGB32_Premultiplied) {
        converted = frame.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        source = &converted;
    }

    // The loop's lock is held through the conversion: the buffers belong to the
    // stream, which may drop them on the loop thread whenever it is unlocked. The loop
    // thread only waits for this while it has a callback to run.
    pw_thread_loop_lock(impl->loop);
    bool written = false;
    pw_buffer* buffer = nullptr;
    // Every frame counts, also one no buffer is free for: the buffers that missed it
    // still need its changes.
    const bool sameSize = source->size() == impl->negotiatedSize;
    impl->damage.frameArrived(frame.sequence, sameSize ? frame.changed : std::nullopt, source->size(), mirrored);
    if (impl->stream && impl->streaming && impl->negotiated)
        buffer = pw_stream_dequeue_buffer(impl->stream);
    if (buffer) {
        spa_buffer* spa = buffer->buffer;
        spa_data* data = spa->n_datas > 0 ? &spa->datas[0] : nullptr;
        if (data && data->data && data->chunk && data->maxsize >= static_cast<uint32_t>(impl->pictureBytes)) {
            const CameraPlanes planes
                = cameraPackedPlanes(impl->format, impl->negotiatedSize, static_cast<uint8_t*>(data->data));
            const CameraRows rows = impl->damage.take(data->data);
            if (sameSize)
                written = writeCameraRows(source->constBits(), static_cast<int>(source->bytesPerLine()), source->size(),
                    impl->format, planes, mirrored, rows);
            else
                written = writeCameraPicture(source->constBits(), static_cast<int>(source->bytesPerLine()),
                    source->size(), impl->format, planes, impl->negotiatedSize, mirrored);
            // A buffer left half written must be written whole next time.
            if (!written)
                impl->damage.reset();
            data->chunk->offset = 0;
            data->chunk->size = written ? static_cast<uint32_t>(impl->pictureBytes) : 0;
            data->chunk->stride = impl->stride;
            data->chunk->flags = written ? SPA_CHUNK_FLAG_NONE : SPA_CHUNK_FLAG_CORRUPTED;
            if (auto* header = static_cast<spa_meta_header*>(
                    spa_buffer_find_meta_data(spa, SPA_META_Header, sizeof(spa_meta_header)))) {
                header->flags = 0;
                header->offset = 0;
                header->pts = static_cast<int64_t>(hostTime * SPA_NSEC_PER_SEC);
                header->dts_offset = 0;
                header->seq = impl->sequence++;
            }
        }
        pw_stream_queue_buffer(impl->stream, buffer);
        if (written)
            pw_stream_trigger_process(impl->stream);
    }
    pw_thread_loop_unlock(impl->loop);
    return written;
}

} // namespace vistrale
