#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace vistrale {

// The default input of the PulseAudio server as 16-bit samples, read on the caller's
// thread. PulseAudio's own loop runs on a thread of its own; each piece of data is
// copied out and released inside that loop, so that no server memory is held between
// reads. (The simple API keeps a piece across reads; a server that goes away then
// waits for it while the reader waits for the loop, and both hang.)
//
// Not for use from two threads at once (open on one thread and read on another is fine).
class PulseInput {
public:
    PulseInput() = default;
    ~PulseInput();
    PulseInput(const PulseInput&) = delete;
    PulseInput& operator=(const PulseInput&) = delete;

    // Connects to the default input; false with `error` when there is no server or
    // input. `fragmentBytes` is how much the server sends at once.
    bool open(int sampleRate, int channels, std::size_t fragmentBytes, const QString& streamName, QString* error);
    // Blocks until `bytes` are read; false with `error` once the input is lost.
    // `capturedUntil`, when given, gets the host clock time (hostClockNow) at which the
    // last of those bytes arrived from the server: an input that delivers nothing for a
    // while (a suspended source) makes the count of samples run behind the clock.
    bool read(void* data, std::size_t bytes, QString* error, double* capturedUntil = nullptr);

private:
    static void contextChanged(pa_context* context, void* self);
    static void streamChanged(pa_stream* stream, void* self);
    static void dataArrived(pa_stream* stream, std::size_t bytes, void* self);
    void close();

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    // Guarded by the loop's lock.
    QByteArray buffered;
    QString lostReason;
    bool lost = false;
    std::size_t maxBuffered = 0;
    std::size_t bytesPerSecond = 1;
    // When the newest buffered byte arrived.
    double lastArrival = 0;
};

} // namespace vistrale
