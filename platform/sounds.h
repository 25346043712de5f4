#pragma once

#include <QString>
#include <memory>

namespace vistrale {

// A short sound effect. Main thread only.
class Sound {
public:
    virtual ~Sound() = default;
    virtual bool isPlaying() const = 0;
    virtual void stop() = 0;
    // Plays from the start. Silent where there is no audio device.
    virtual void play() = 0;
};

class Sounds {
public:
    virtual ~Sounds() = default;
    // The bundled sound of that name ("Funk", "Grab"); none when it does not exist.
    virtual std::unique_ptr<Sound> load(const QString& name) = 0;
};

} // namespace vistrale
