#include "platform/pipewire/pipewire_webcams.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/webcam/webcam_fit.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace vistrale {
namespace {

constexpr int RETRY_SECONDS = 2;
constexpr int FIRST_LIST_SECONDS = 1;
constexpr int MAX_WIDTH = 1280;
constexpr int MAX_HEIGHT = 720;
constexpr int FRAMES_PER_SECOND = 30;
// Below this a camera looks jerky; such modes are taken only when nothing better exists.
constexpr int SMOOTH_FRAMES_PER_SECOND = 24;
constexpr int LARGE_MIN_WIDTH = 960;
constexpr int LARGE_MIN_HEIGHT = 540;

struct RawFormat {
    WebcamPixelFormat webcam;
    spa_video_format spa;
};

constexpr RawFormat RAW_FORMATS[] = {
    {WebcamPixelFormat::BGRx, SPA_VIDEO_FORMAT_BGRx},
    {WebcamPixelFormat::BGRA, SPA_VIDEO_FORMAT_BGRA},
    {WebcamPixelFormat::YUY2, SPA_VIDEO_FORMAT_YUY2},
    {WebcamPixelFormat::NV12, SPA_VIDEO_FORMAT_NV12},
    {WebcamPixelFormat::I420, SPA_VIDEO_FORMAT_I420},
};

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// One accepted mode: uncompressed (any of RAW_FORMATS) or MJPEG, sizes from `least`
// to 1280 × 720, frame rates from `slowest` to 30 (30 preferred).
const spa_pod* formatParam(spa_pod_builder* builder, bool raw, spa_rectangle least, int slowest)
{
    spa_rectangle largest{MAX_WIDTH, MAX_HEIGHT};
    spa_fraction rate{FRAMES_PER_SECOND, 1};
    spa_fraction slowestRate{static_cast<uint32_t>(slowest), 1};
    spa_pod_frame frame;
    spa_pod_builder_push_object(builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(raw ? SPA_MEDIA_SUBTYPE_raw : SPA_MEDIA_SUBTYPE_mjpg), 0);
    if (raw) {
        spa_pod_frame choice;
        spa_pod_builder_prop(builder, SPA_FORMAT_VIDEO_format, 0);
        spa_pod_builder_push_choice(builder, &choice, SPA_CHOICE_Enum, 0);
        spa_pod_builder_id(builder, RAW_FORMATS[0].spa);
        for (const RawFormat& format : RAW_FORMATS)
            spa_pod_builder_id(builder, format.spa);
        spa_pod_builder_pop(builder, &choice);
    }
    spa_pod_builder_add(builder, SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&largest, &least, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowestRate, &rate), 0);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(builder, &frame));
}

// What a refusal from the daemon means for the user. PipeWire passes the reason as a
// negative errno where it has one, and always as text.
WebcamFailure failureOf(int result, const QString& message)
{
    if (result == -EACCES || result == -EPERM || message.contains("ermission") || message.contains("denied"))
        return WebcamFailure::Denied;
    if (result == -EBUSY || message.contains("busy", Qt::CaseInsensitive))
        return WebcamFailure::Busy;
    return WebcamFailure::Gone;
}

} // namespace

struct PipeWireWebcams::Capture {
    Impl* impl = nullptr;
    uint32_t target = SPA_ID_INVALID;
    QString id;
    FrameSink frames;
    FailureSink failed;

    // Loop thread, or with the loop locked.
    pw_stream* stream = nullptr;
    spa_hook listener{};
    pw_stream_events events{};
    bool over = false;
    bool negotiated = false;
    bool faultLogged = false;
    WebcamPixelFormat format = WebcamPixelFormat::YUY2;
    QSize size;
    WebcamPictureConverter converter;

    void fail(WebcamFailure failure, const QString& detail);
    void destroyStream();
    void formatChanged(const spa_pod* param);
    void process();

    static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);
    static void onParamChanged(void* data, uint32_t id, const spa_pod* param);
    static void onProcess(void* data);
};

struct PipeWireWebcams::Impl {
    struct Node {
        uint32_t id;
        QString serial;
        QString nodeName;
        WebcamInfo info;
    };

    explicit Impl(QString remote);
    ~Impl();

    // Loop thread, or with the loop locked.
    bool connect();
    void teardown();
    void lose(const QString& why);
    void armRetry(bool soon);
    void nodeAdded(uint32_t id, const spa_dict* props);
    void nodeRemoved(uint32_t id);
    void publishList();

    static void onCoreDone(void* data, uint32_t id, int seq);
    static void onCoreError(void* data, uint32_t id, int seq, int res, const char* message);
    static void onGlobal(
        void* data, uint32_t id, uint32_t permissions, const char* type, uint32_t version, const spa_dict* props);
    static void onGlobalRemove(void* data, uint32_t id);
    static void onRetry(void* data, uint64_t expirations);

    const QByteArray remote;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    spa_hook coreListener{};
    spa_hook registryListener{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    spa_source* retry = nullptr;

    // Loop thread, or with the loop locked.
    std::vector<Node> nodes;
    std::vector<Capture*> captures;
    int syncSeq = -1;
    bool listed = false;
    bool lost = false;
    bool lossLogged = false;
    bool answered = false;
    // The latest refusal the daemon sent for one of our streams.
    int lastStreamError = 0;

    // The published list, read on the main thread.
    std::mutex listLock;
    std::vector<WebcamInfo> list;
    // Held while the list-change callback runs, so that replacing it waits for a
    // running call.
    std::mutex callbackLock;
    CamerasChanged changed;
};

PipeWireWebcams::Impl::Impl(QString remoteName)
    : remote(remoteName.toLocal8Bit())
{
    pw_init(nullptr, nullptr);
    coreEvents.version = PW_VERSION_CORE_EVENTS;
    coreEvents.done = onCoreDone;
    coreEvents.error = onCoreError;
    registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    registryEvents.global = onGlobal;
    registryEvents.global_remove = onGlobalRemove;

    loop = pw_thread_loop_new("vistrale-webcam", nullptr);
    if (!loop) {
        logLine("pipewire webcams: no loop thread:", QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    pw_thread_loop_lock(loop);
    context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    if (!context) {
        logLine("pipewire webcams: no context:", QString::fromLocal8Bit(std::strerror(errno)));
        pw_thread_loop_unlock(loop);
        return;
    }
    retry = pw_loop_add_timer(pw_thread_loop_get_loop(loop), onRetry, this);
    if (pw_thread_loop_start(loop) < 0) {
        logLine("pipewire webcams: loop thread not started");
        pw_thread_loop_unlock(loop);
        return;
    }
    if (connect()) {
        // The first list, so that the caller sees the cameras at once.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(FIRST_LIST_SECONDS);
        while (!listed && !lost && std::chrono::steady_clock::now() < deadline)
            pw_thread_loop_timed_wait(loop, FIRST_LIST_SECONDS);
        answered = listed;
    }
    pw_thread_loop_unlock(loop);
}

PipeWireWebcams::Impl::~Impl()
{
    if (!loop)
        return;
    pw_thread_loop_lock(loop);
    for (Capture* capture : captures)
        capture->destroyStream();
    captures.clear();
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

bool PipeWireWebcams::Impl::connect()
{
    pw_properties* coreProps = nullptr;
    if (!remote.isEmpty())
        coreProps = pw_properties_new(PW_KEY_REMOTE_NAME, remote.constData(), nullptr);
    core = pw_context_connect(context, coreProps, 0);
    if (!core) {
        if (!lossLogged)
            logLine("pipewire webcams: no daemon:", QString::fromLocal8Bit(std::strerror(errno)));
        lossLogged = true;
        lost = true;
        armRetry(false);
        return false;
    }
    pw_core_add_listener(core, &coreListener, &coreEvents, this);
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    if (!registry) {
        lose(QStringLiteral("no registry"));
        return false;
    }
    pw_registry_add_listener(registry, &registryListener, &registryEvents, this);
    syncSeq = pw_core_sync(core, PW_ID_CORE, 0);
    lost = false;
    if (retry)
        pw_loop_update_timer(pw_thread_loop_get_loop(loop), retry, nullptr, nullptr, false);
    return true;
}

void PipeWireWebcams::Impl::teardown()
{
    for (Capture* capture : captures)
        capture->destroyStream();
    if (registry) {
        spa_hook_remove(&registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        registry = nullptr;
    }
    if (core) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
    }
    listed = false;
    nodes.clear();
}

// The daemon went away: running streams are gone, the list empties, and a new
// connection is tried soon (from the timer: the objects may be inside their own
// callbacks here).
void PipeWireWebcams::Impl::lose(const QString& why)
{
    if (lost)
        return;
    lost = true;
    if (!lossLogged)
        logLine("pipewire webcams: daemon lost, retrying:", why);
    lossLogged = true;
    for (Capture* capture : captures)
        capture->fail(WebcamFailure::Gone, QStringLiteral("media server lost"));
    nodes.clear();
    publishList();
    pw_thread_loop_signal(loop, false);
    armRetry(true);
}

void PipeWireWebcams::Impl::armRetry(bool soon)
{
    if (!retry)
        return;
    timespec first{soon ? 0 : RETRY_SECONDS, soon ? 1000000 : 0};
    timespec every{RETRY_SECONDS, 0};
    pw_loop_update_timer(pw_thread_loop_get_loop(loop), retry, &first, &every, false);
}

void PipeWireWebcams::Impl::onRetry(void* data, uint64_t)
{
    auto* self = static_cast<Impl*>(data);
    self->teardown();
    self->connect();
}

void PipeWireWebcams::Impl::onCoreDone(void* data, uint32_t id, int seq)
{
    auto* self = static_cast<Impl*>(data);
    if (id != PW_ID_CORE || seq != self->syncSeq || self->listed)
        return;
    self->listed = true;
    // Only a daemon that answered counts as back: a connection made while the old one
    // shuts down is lost again at once, within the same outage.
    if (self->lossLogged)
        logLine("pipewire webcams: daemon back");
    self->lossLogged = false;
    self->publishList();
    pw_thread_loop_signal(self->loop, false);
}

void PipeWireWebcams::Impl::onCoreError(void* data, uint32_t id, int, int res, const char* message)
{
    auto* self = static_cast<Impl*>(data);
    if (id == PW_ID_CORE && res == -EPIPE)
        self->lose(text(message));
    else if (id != PW_ID_CORE)
        self->lastStreamError = res;
}

void PipeWireWebcams::Impl::onGlobal(
    void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props)
{
    if (props && type && std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0)
        static_cast<Impl*>(data)->nodeAdded(id, props);
}

void PipeWireWebcams::Impl::onGlobalRemove(void* data, uint32_t id)
{
    static_cast<Impl*>(data)->nodeRemoved(id);
}

void PipeWireWebcams::Impl::nodeAdded(uint32_t id, const spa_dict* props)
{
    const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
    if (!mediaClass || std::strcmp(mediaClass, "Video/Source") != 0)
        return;
    Node node;
    node.id = id;
    node.serial = text(spa_dict_lookup(props, PW_KEY_OBJECT_SERIAL));
    node.nodeName = text(spa_dict_lookup(props, PW_KEY_NODE_NAME));
    for (const char* key : {PW_KEY_NODE_DESCRIPTION, PW_KEY_NODE_NICK, PW_KEY_NODE_NAME}) {
        node.info.name = text(spa_dict_lookup(props, key));
        if (!node.info.name.isEmpty())
            break;
    }
    if (isVistraleOwnCamera(node.info.name) || isVistraleOwnCamera(node.nodeName))
        return;
    if (node.info.name.isEmpty())
        node.info.name = QStringLiteral("Camera %1").arg(id);
    node.info.id = node.nodeName.isEmpty() ? QStringLiteral("node#%1").arg(node.serial) : node.nodeName;
    const bool taken
        = std::any_of(nodes.begin(), nodes.end(), [&](const Node& other) { return other.info.id == node.info.id; });
    if (taken)
        node.info.id += QStringLiteral("#%1").arg(node.serial.isEmpty() ? QString::number(id) : node.serial);
    nodes.push_back(node);
    if (listed)
        publishList();
}

void PipeWireWebcams::Impl::nodeRemoved(uint32_t id)
{
    const auto removed = std::erase_if(nodes, [&](const Node& node) { return node.id == id; });
    if (removed == 0)
        return;
    for (Capture* capture : captures) {
        if (capture->target == id)
            capture->fail(WebcamFailure::Gone, QStringLiteral("node removed"));
    }
    if (listed)
        publishList();
}

void PipeWireWebcams::Impl::publishList()
{
    std::vector<WebcamInfo> now;
    for (const Node& node : nodes)
        now.push_back(node.info);
    {
        std::lock_guard guard(listLock);
        if (now == list)
            return;
        list = std::move(now);
    }
    std::lock_guard guard(callbackLock);
    if (changed)
        changed();
}

void PipeWireWebcams::Capture::fail(WebcamFailure failure, const QString& detail)
{
    if (over)
        return;
    over = true;
    logLine("pipewire webcams: camera " + webcamFailureText(failure) + ":", detail);
    failed(failure, detail);
}

void PipeWireWebcams::Capture::destroyStream()
{
    if (!stream)
        return;
    spa_hook_remove(&listener);
    pw_stream_destroy(stream);
    stream = nullptr;
}

void PipeWireWebcams::Capture::onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* self = static_cast<Capture*>(data);
    if (state != PW_STREAM_STATE_ERROR)
        return;
    const QString message = text(error);
    self->fail(failureOf(self->impl->lastStreamError, message), message);
    self->impl->lastStreamError = 0;
}

void PipeWireWebcams::Capture::onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    if (id == SPA_PARAM_Format)
        static_cast<Capture*>(data)->formatChanged(param);
}

void PipeWireWebcams::Capture::onProcess(void* data)
{
    static_cast<Capture*>(data)->process();
}

// The mode the camera and we agreed on; anything outside the offer is refused.
void PipeWireWebcams::Capture::formatChanged(const spa_pod* param)
{
    negotiated = false;
    if (!param)
        return;
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video) {
        logLine("pipewire webcams: unusable format from the camera");
        return;
    }
    spa_rectangle chosen{0, 0};
    bool known = false;
    if (mediaSubtype == SPA_MEDIA_SUBTYPE_raw) {
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) >= 0) {
            chosen = info.size;
            for (const RawFormat& raw : RAW_FORMATS) {
                if (raw.spa == info.format) {
                    format = raw.webcam;
                    known = true;
                }
            }
        }
    } else if (mediaSubtype == SPA_MEDIA_SUBTYPE_mjpg) {
        spa_video_info_mjpg info{};
        if (spa_format_video_mjpg_parse(param, &info) >= 0) {
            chosen = info.size;
            format = WebcamPixelFormat::MJPG;
            known = true;
        }
    }
    if (!known || chosen.width == 0 || chosen.height == 0 || chosen.width > MAX_WIDTH || chosen.height > MAX_HEIGHT) {
        logLine("pipewire webcams: unusable format from the camera:",
            QStringLiteral("%1/%2 %3x%4").arg(mediaSubtype).arg(chosen.width).arg(chosen.height));
        return;
    }
    size = QSize(static_cast<int>(chosen.width), static_cast<int>(chosen.height));

    // Memory this process can read: shared memory or plain pointers, not DMA buffers.
    uint8_t memory[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(memory, sizeof(memory));
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
            SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(stream, params, 1);
    negotiated = true;
}

// The newest picture waiting, converted for the core; older ones are passed over.
void PipeWireWebcams::Capture::process()
{
    pw_buffer* buffer = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
        if (buffer)
            pw_stream_queue_buffer(stream, buffer);
        buffer = next;
    }
    if (!buffer)
        return;
    if (over || !negotiated) {
        pw_stream_queue_buffer(stream, buffer);
        return;
    }

    // Each plane from its data block; one block holding every plane is split up.
    const spa_buffer* spa = buffer->buffer;
    WebcamPlanes planes;
    bool flagged = false;
    for (uint32_t i = 0; i < std::min<uint32_t>(spa->n_datas, 3); ++i) {
        const spa_data& block = spa->datas[i];
        if (!block.data || !block.chunk)
            continue;
        const uint32_t offset = std::min(block.chunk->offset, block.maxsize);
        planes.data[i] = static_cast<const uint8_t*>(block.data) + offset;
        planes.bytes[i] = std::min(block.chunk->size, block.maxsize - offset);
        planes.stride[i] = block.chunk->stride;
        flagged = flagged || (block.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED);
    }
    const bool packed = spa->n_datas == 1 || format == WebcamPixelFormat::MJPG;
    if (packed)
        planes = webcamPackedPlanes(format, size, planes.data[0], planes.bytes[0], planes.stride[0]);

    WebcamPictureFault fault = WebcamPictureFault::Corrupt;
    std::shared_ptr<FrameBuffer> frame = flagged ? nullptr : converter.convert(format, size, planes, fault);
    pw_stream_queue_buffer(stream, buffer);
    if (fault != WebcamPictureFault::None) {
        // Once per stream: a camera that sends bad pictures tends to send many.
        if (!faultLogged)
            logLine("pipewire webcams: picture dropped:",
                webcamPictureFaultText(fault) + QStringLiteral(" %1x%2").arg(size.width()).arg(size.height()));
        faultLogged = true;
        return;
    }
    frame->hostTime = hostClockNow();
    frames(std::move(frame));
}

namespace {

class PipeWireWebcamStream : public WebcamStream {
public:
    PipeWireWebcamStream(pw_thread_loop* loop, std::vector<PipeWireWebcams::Capture*>* captures,
        std::unique_ptr<PipeWireWebcams::Capture> capture)
        : loop(loop)
        , captures(captures)
        , capture(std::move(capture))
    {
    }
    ~PipeWireWebcamStream() override { stop(); }
    void fitPicturesTo(QSize box) override
    {
        if (capture)
            capture->converter.fitTo(box);
    }
    void stop() override
    {
        if (!capture)
            return;
        pw_thread_loop_lock(loop);
        std::erase(*captures, capture.get());
        capture->destroyStream();
        pw_thread_loop_unlock(loop);
        capture.reset();
    }

private:
    pw_thread_loop* loop;
    std::vector<PipeWireWebcams::Capture*>* captures;
    std::unique_ptr<PipeWireWebcams::Capture> capture;
};

} // namespace

PipeWireWebcams::PipeWireWebcams(QString remote)
    : impl(std::make_unique<Impl>(std::move(remote)))
{
}

PipeWireWebcams::~PipeWireWebcams() = default;

bool PipeWireWebcams::connected() const
{
    return impl->answered;
}

std::vector<WebcamInfo> PipeWireWebcams::cameras()
{
    std::lock_guard guard(impl->listLock);
    return impl->list;
}

void PipeWireWebcams::setCamerasChanged(CamerasChanged changed)
{
    std::lock_guard guard(impl->callbackLock);
    impl->changed = std::move(changed);
}

std::unique_ptr<WebcamStream> PipeWireWebcams::start(const QString& id, FrameSink frames, FailureSink failed)
{
    if (!impl->loop || !impl->context)
        return nullptr;
    pw_thread_loop_lock(impl->loop);
    const auto node = std::find_if(
        impl->nodes.begin(), impl->nodes.end(), [&](const Impl::Node& candidate) { return candidate.info.id == id; });
    if (!impl->core || node == impl->nodes.end()) {
        pw_thread_loop_unlock(impl->loop);
        return nullptr;
    }
    auto capture = std::make_unique<Capture>();
    capture->impl = impl.get();
    capture->target = node->id;
    capture->id = id;
    capture->frames = std::move(frames);
    capture->failed = std::move(failed);
    capture->events.version = PW_VERSION_STREAM_EVENTS;
    capture->events.state_changed = Capture::onStateChanged;
    capture->events.param_changed = Capture::onParamChanged;
    capture->events.process = Capture::onProcess;

    // Linked to this node only: when it goes, the stream is not moved to another camera.
    const QByteArray target = node->serial.isEmpty() ? QByteArray::number(node->id) : node->serial.toUtf8();
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
        PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_NODE_NAME, "vistrale-webcam", PW_KEY_TARGET_OBJECT, target.constData(),
        PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    capture->stream = pw_stream_new(impl->core, "Vistrale webcam", props);
    Capture* raw = capture.get();
    impl->captures.push_back(raw);
    auto handle = std::make_unique<PipeWireWebcamStream>(impl->loop, &impl->captures, std::move(capture));
    if (!raw->stream) {
        raw->fail(failureOf(-errno, QString()), QString::fromLocal8Bit(std::strerror(errno)));
        pw_thread_loop_unlock(impl->loop);
        return handle;
    }
    pw_stream_add_listener(raw->stream, &raw->listener, &raw->events, raw);

    // Preferred first: near 720p at a smooth rate, uncompressed before MJPEG; then
    // any size and rate up to 720p30.
    uint8_t memory[2048];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(memory, sizeof(memory));
    const spa_pod* params[] = {
        formatParam(&builder, true, spa_rectangle{LARGE_MIN_WIDTH, LARGE_MIN_HEIGHT}, SMOOTH_FRAMES_PER_SECOND),
        formatParam(&builder, false, spa_rectangle{LARGE_MIN_WIDTH, LARGE_MIN_HEIGHT}, SMOOTH_FRAMES_PER_SECOND),
        formatParam(&builder, true, spa_rectangle{1, 1}, 1),
        formatParam(&builder, false, spa_rectangle{1, 1}, 1),
    };
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    const int result = pw_stream_connect(raw->stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, std::size(params));
    if (result < 0)
        raw->fail(failureOf(result, QString()), QString::fromLocal8Bit(spa_strerror(result)));
    pw_thread_loop_unlock(impl->loop);
    return handle;
}

} // namespace vistrale
