#pragma once

// Plain C++ (no Qt): the camera set-up helper, which runs as the administrator, uses it too.

#include <string>

namespace vistrale {

// The card label of the v4l2loopback device that realises "Vistrale Camera"
// (v4l2loopback allows at most 31 characters).
inline constexpr const char* CAMERA_CARD_LABEL = "Vistrale Camera";

// What the running kernel says about v4l2loopback, read from sysfs.
struct LoopbackState {
    // The module is loaded.
    bool loaded = false;
    // A video device named CAMERA_CARD_LABEL exists.
    bool vistraleDevice = false;
    // The module's first device announces its capabilities exclusively (readers list it
    // only while a writer feeds it): exclusive_caps=1.
    bool exclusiveCaps = false;
    // The loaded module's version; empty when unknown.
    std::string version;
};

// Reads the state under `sysRoot` ("/sys" on a real system). Missing or unreadable
// files read as "no"; every file is read with a small size limit.
LoopbackState readLoopbackState(const std::string& sysRoot);

// True when the loaded module is Vistrale's: the "Vistrale Camera" device with
// exclusive capabilities. (The label of each device is not readable, so a module whose
// first device is another one with exclusive capabilities counts as Vistrale's when it
// also holds the "Vistrale Camera" device.)
bool isVistraleModule(const LoopbackState& state);

// True when activation must unload the module first: loaded, but not as Vistrale's.
bool needsReplacing(const LoopbackState& state);

} // namespace vistrale
