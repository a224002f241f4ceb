#pragma once

#include "dictation/audiosource.h"

#include <QObject>
#include <QThread>

#include <memory>


// The default input device of the sound server (PulseAudio or PipeWire's pulse server),
// through Qt Multimedia.
//
// The server is asked for 16 kHz mono float, which it converts to itself; a device that
// refuses that format is captured in its own preferred format and converted here. Capture
// runs on a thread of its own, so a busy main thread never makes the microphone drop
// pieces; the sink is called on that thread. start() and stop() belong to the thread that
// made the source and block it only while the capture opens or closes.
class QtAudioSource final : public AudioSource
{
public:
    QtAudioSource();
    ~QtAudioSource() override;

    QtAudioSource(const QtAudioSource &) = delete;
    QtAudioSource &operator=(const QtAudioSource &) = delete;

    std::optional<QString> start(Sink sink) override;
    void stop() override;

private:
    class Capture;

    QThread m_thread;
    // Lives on m_thread, so work posted to it runs there.
    std::unique_ptr<QObject> m_threadContext;
    // Made, used and destroyed on m_thread; set while capturing.
    Capture *m_capture = nullptr;
};
