#pragma once

// Every persistent setting of the application, written once here.
namespace vistrale::keys {

inline constexpr const char* ALREADY_SHOWN = "already-shown";
inline constexpr const char* PREVIEW_FRAME = "preview-frame";
inline constexpr const char* DEFAULT_SHORTCUT = "default-shortcut";
inline constexpr const char* MIRROR = "mirror";
inline constexpr const char* SMART_SCALING = "smartscaling";
inline constexpr const char* SOUND_OFF = "soundoff";
inline constexpr const char* MOUSE_CLICKS_OFF = "mouseclicksoff";
inline constexpr const char* MOV = "mov";
inline constexpr const char* CAMERA = "camera";
inline constexpr const char* CAMERA_ID = "cameraid";
inline constexpr const char* MIC_ID = "micid";
inline constexpr const char* CAMERA_SHAPE = "camerashape";
inline constexpr const char* CAMERA_SIZE = "camerasize";
inline constexpr const char* CAMERA_OFFSET = "camera-offset";
inline constexpr const char* MIRROR_WEBCAM = "mirror-webcam";
inline constexpr const char* CAMERA_BORDER_COLOR = "camera-border-color";
inline constexpr const char* CAMERA_BORDER_WIDTH = "camera-border-width";
inline constexpr const char* CAMERA_CORNER_RADIUS = "camera-corner-radius";
inline constexpr const char* CAMERA_PICTURE = "camerapicture";
inline constexpr const char* BACKGROUND = "background";
inline constexpr const char* LOCALE = "locale";
inline constexpr const char* CUSTOM_WORDS = "customwords";
inline constexpr const char* SPEECH_LINES = "speech-lines";
inline constexpr const char* OVERLAY_TEXT = "overlay-text";
// Forces image mode (windows imaged on every tick) even where capture streams exist.
inline constexpr const char* IMAGE_MODE = "image-mode";

} // namespace vistrale::keys
