#pragma once

// Plain C++ (no Qt): shared with the camera set-up helper.

namespace vistrale {

// Exit statuses of vistrale-camera-setup. They stay clear of 126 and 127, which pkexec
// uses for its own refusals.
inline constexpr int CAMERA_SETUP_DONE = 0;
// Failed; one line on standard error says why.
inline constexpr int CAMERA_SETUP_FAILED = 1;
// Arguments it does not accept; one line on standard error.
inline constexpr int CAMERA_SETUP_USAGE = 2;
// Done, but it takes effect only after a reboot.
inline constexpr int CAMERA_SETUP_AFTER_REBOOT = 3;

// The helper's file name; it is installed beside the vistrale executable.
inline constexpr const char* CAMERA_SETUP_PROGRAM = "vistrale-camera-setup";

} // namespace vistrale
