# Microphone capture, interface sounds and the robotic voice: the logic in murmel_core, the
# Qt Multimedia and espeak-ng implementations in murmel_desktop.
target_sources(murmel_core PRIVATE
    dictation/audiorecorder.cpp
    dictation/sounds.cpp
    dictation/voice.cpp
)
target_sources(murmel_desktop PRIVATE
    platform/espeaksynthesizer.cpp
    platform/pcmplayer.cpp
    platform/qtaudiosource.cpp
    platform/qtsoundplayer.cpp
    platform/sampleconverter.cpp
)
# The sounds are compiled in. On a static library Qt links the resources as an object
# library into every user, so they are registered without an explicit Q_INIT_RESOURCE.
qt_add_resources(murmel_desktop murmel_sounds
    PREFIX /sounds
    BASE platform/sounds
    FILES
        platform/sounds/Bottle.wav
        platform/sounds/Funk.wav
        platform/sounds/Glass.wav
        platform/sounds/Morse.wav
        platform/sounds/Pop.wav
        platform/sounds/Tink.wav
)
