#pragma once

#include <QString>

#include <functional>
#include <optional>

// Where the recorder's sound comes from: the sound server's default input, or a fake.
//
// Called on the main thread. The sink is called on the source's own capture thread with
// each piece as it arrives, converted to 16 kHz mono 32-bit float samples, with the
// conversion state carried from one piece to the next; it must not block.
class AudioSource
{
public:
    using Sink = std::function<void(const float *samples, qsizetype count)>;
    // Capture ended by itself (the sound server went away); the text the user sees.
    using Lost = std::function<void(const QString &reason)>;

    virtual ~AudioSource() = default;

    // Begins capture into `sink`. The error text the user sees when capture cannot begin
    // (no sound server, no input device, access refused); nothing is captured then. When
    // capture ends by itself, `lost` is called once on the capture thread; stop() is
    // still to be called.
    virtual std::optional<QString> start(Sink sink, Lost lost) = 0;
    // Ends capture; once it returns, the sink is not called again. Harmless when stopped.
    virtual void stop() = 0;
};
