#include "platform/pulse/pulse_audio_devices.h"

#include <QElapsedTimer>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

namespace vistrale {
namespace {

constexpr int ANSWER_TIMEOUT_MS = 2000;
constexpr int POLL_STEP_US = 50000;

struct Query {
    bool done = false;
    QString sourceName;
    QString description;
};

} // namespace

QString PulseAudioDevices::defaultInputName()
{
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Vistrale");
    Query query;
    QElapsedTimer timer;
    timer.start();
    // Runs the loop until `finished` holds, the connection fails or time is up.
    auto runUntil = [&](auto finished) {
        while (!finished()) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED || timer.elapsed() > ANSWER_TIMEOUT_MS)
                return false;
            if (pa_mainloop_prepare(loop, POLL_STEP_US) < 0 || pa_mainloop_poll(loop) < 0
                || pa_mainloop_dispatch(loop) < 0)
                return false;
        }
        return true;
    };
    const bool connected = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
        && runUntil([&] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
    if (connected) {
        pa_operation* asked = pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* q = static_cast<Query*>(data);
                if (info && info->default_source_name)
                    q->sourceName = QString::fromUtf8(info->default_source_name);
                q->done = true;
            },
            &query);
        if (asked && runUntil([&] { return query.done; }) && !query.sourceName.isEmpty()) {
            query.done = false;
            const QByteArray name = query.sourceName.toUtf8();
            pa_operation* described = pa_context_get_source_info_by_name(
                context, name.constData(),
                [](pa_context*, const pa_source_info* info, int eol, void* data) {
                    auto* q = static_cast<Query*>(data);
                    if (info && info->description && q->description.isEmpty())
                        q->description = QString::fromUtf8(info->description);
                    if (eol)
                        q->done = true;
                },
                &query);
            if (described) {
                runUntil([&] { return query.done; });
                pa_operation_unref(described);
            }
        }
        if (asked)
            pa_operation_unref(asked);
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    // A source that cannot be described is still an input: its name stands in.
    return query.description.isEmpty() ? query.sourceName : query.description;
}

} // namespace vistrale
