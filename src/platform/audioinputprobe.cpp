#include "audioinputprobe.h"

#include <QAudioDevice>
#include <QMediaDevices>

namespace AudioInputProbe {

bool hasInput()
{
    return !QMediaDevices::audioInputs().isEmpty();
}

} // namespace AudioInputProbe
