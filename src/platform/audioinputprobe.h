#pragma once

// Whether the desktop offers any microphone at all. Asked when the settings screen is
// shown; Linux has no microphone permission to ask for, so an input device is the whole
// answer. Main thread only (Qt Multimedia's device list lives there).
namespace AudioInputProbe {

bool hasInput();

} // namespace AudioInputProbe
