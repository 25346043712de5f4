#include "platform/pulse/pulse_input.h"

#include "platform/clock.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cstring>

namespace vistrale {

PulseInput::~PulseInput()
{
    close();
}

void PulseInput::close()
{
    if (!loop)
        return;
    pa_threaded_mainloop_stop(loop);
    if (stream) {
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

void PulseInput::contextChanged(pa_context* context, void* self)
{
    auto* input = static_cast<PulseInput*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        input->lost = true;
        input->lostReason = pa_strerror(pa_context_errno(context));
    }
    pa_threaded_mainloop_signal(input->loop, 0);
}

void PulseInput::streamChanged(pa_stream* stream, void* self)
{
    auto* input = static_cast<PulseInput*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        input->lost = true;
        input->lostReason = pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
    }
    pa_threaded_mainloop_signal(input->loop, 0);
}

void PulseInput::dataArrived(pa_stream* stream, std::size_t, void* self)
{
    auto* input = static_cast<PulseInput*>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0) {
            input->lost = true;
            input->lostReason = pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
            break;
        }
        if (bytes == 0)
            break;
        // A hole in the data reads as silence.
        if (data)
            input->buffered.append(static_cast<const char*>(data), static_cast<qsizetype>(bytes));
        else
            input->buffered.append(static_cast<qsizetype>(bytes), '\0');
        pa_stream_drop(stream);
    }
    input->lastArrival = hostClockNow();
    // A reader that falls far behind loses the oldest audio, never memory.
    if (static_cast<std::size_t>(input->buffered.size()) > input->maxBuffered)
        input->buffered.remove(0, input->buffered.size() - static_cast<qsizetype>(input->maxBuffered));
    pa_threaded_mainloop_signal(input->loop, 0);
}

bool PulseInput::open(
    int sampleRate, int channels, std::size_t fragmentBytes, const QString& streamName, QString* error)
{
    close();
    lost = false;
    buffered.clear();
    // Ten seconds at most wait for the reader.
    bytesPerSecond = static_cast<std::size_t>(std::max(1, sampleRate * channels * 2));
    maxBuffered = bytesPerSecond * 10;
    loop = pa_threaded_mainloop_new();
    if (!loop) {
        *error = "no sound input: cannot start the sound loop";
        return false;
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Vistrale");
    pa_context_set_state_callback(context, contextChanged, this);
    pa_threaded_mainloop_lock(loop);
    bool ready = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
        && pa_threaded_mainloop_start(loop) >= 0;
    while (ready && pa_context_get_state(context) != PA_CONTEXT_READY && !lost)
        pa_threaded_mainloop_wait(loop);
    ready = ready && !lost;
    if (ready) {
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_S16LE;
        spec.rate = static_cast<std::uint32_t>(sampleRate);
        spec.channels = static_cast<std::uint8_t>(channels);
        stream = pa_stream_new(context, streamName.toUtf8().constData(), &spec, nullptr);
        if (stream) {
            pa_stream_set_state_callback(stream, streamChanged, this);
            pa_stream_set_read_callback(stream, dataArrived, this);
            pa_buffer_attr buffering{};
            buffering.maxlength = static_cast<std::uint32_t>(-1);
            buffering.fragsize = static_cast<std::uint32_t>(fragmentBytes);
            ready = pa_stream_connect_record(stream, nullptr, &buffering, PA_STREAM_ADJUST_LATENCY) >= 0;
            while (ready && pa_stream_get_state(stream) != PA_STREAM_READY && !lost)
                pa_threaded_mainloop_wait(loop);
            ready = ready && !lost;
        } else {
            ready = false;
        }
    }
    const QString reason = lostReason.isEmpty() ? QString(pa_strerror(pa_context_errno(context))) : lostReason;
    pa_threaded_mainloop_unlock(loop);
    if (!ready) {
        *error = "no sound input: " + reason;
        close();
    }
    return ready;
}

bool PulseInput::read(void* data, std::size_t bytes, QString* error, double* capturedUntil)
{
    if (!loop) {
        *error = "sound input lost: not open";
        return false;
    }
    pa_threaded_mainloop_lock(loop);
    while (static_cast<std::size_t>(buffered.size()) < bytes && !lost)
        pa_threaded_mainloop_wait(loop);
    const bool ok = static_cast<std::size_t>(buffered.size()) >= bytes;
    if (ok) {
        std::memcpy(data, buffered.constData(), bytes);
        buffered.remove(0, static_cast<qsizetype>(bytes));
        if (capturedUntil)
            *capturedUntil = lastArrival - static_cast<double>(buffered.size()) / static_cast<double>(bytesPerSecond);
    } else {
        *error = "sound input lost: " + lostReason;
    }
    pa_threaded_mainloop_unlock(loop);
    return ok;
}

} // namespace vistrale
