#pragma once

// The share window's views are drawn in the order of their tags, back to front.
namespace vistrale {

constexpr int DESKTOP_TAG = 0;
constexpr int WEBCAM_TAG_BEHIND = 99;
constexpr int MIN_WINDOW_TAG = 100; // lowest z-position of a shared window's view
constexpr int WINDOWS_TAG = 1000;
constexpr int WEBCAM_TAG = 20002;
constexpr int CURSOR_TAG = 20003;
constexpr int SPEECH_OVERLAY_TAG = 20004;
constexpr int CLOSE_BUTTON_TAG = 20006;
constexpr int SWITCH_CAMERA_TAG = 20007;
constexpr int CC_TAG = 20009;
constexpr int TEXT_OVERLAY_TAG = 20010;

} // namespace vistrale
