#pragma once

namespace vistrale {

// What the recogniser tells the captions when it cannot run.
inline constexpr const char* NEED_MICROPHONE_ACCESS
    = "Need Microphone Access\nPlease open System Preferences -> Privacy -> Microphone";
inline constexpr const char* RECOGNIZER_COULD_NOT_START = "Speech Recognizer could not start";
inline constexpr const char* NOT_AUTHORIZED = "not authorized";

} // namespace vistrale
