#pragma once

#include "platform/notifications.h"

namespace vistrale {

// The PulseAudio server's default input (PipeWire serves the same protocol).
class PulseAudioDevices : public AudioDevices {
public:
    // Main thread; asks the server each time (a few milliseconds, at most 2 s when it
    // hangs). The input's description; empty when there is no server or input.
    QString defaultInputName() override;
};

} // namespace vistrale
