#pragma once

namespace vistrale {

// Whether the desktop lets this application capture the screen. Main thread only.
class Permissions {
public:
    virtual ~Permissions() = default;
    virtual bool screenCaptureAllowed() = 0;
};

} // namespace vistrale
