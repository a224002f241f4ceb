#pragma once

// Whether the sound server offers a microphone (a default input) right now. Asked when
// the settings screen is shown and while it stays up; Linux has no microphone permission
// to ask for, so an input device is the whole answer. Any thread; waits at most half a
// second, for a server that does not answer.
namespace AudioInputProbe {

bool hasInput();

} // namespace AudioInputProbe
