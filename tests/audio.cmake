# Microphone capture, interface sounds and the robotic voice.
murmel_test(tst_audiorecorder LABEL unit SOURCES tst_audiorecorder.cpp)
murmel_test(tst_sampleconverter LABEL unit SOURCES tst_sampleconverter.cpp LIBS murmel_desktop)
murmel_test(tst_microphone LABEL integration TIMEOUT 120 SOURCES tst_microphone.cpp support/soundsession.cpp
            LIBS murmel_desktop)
murmel_test(tst_cues LABEL integration TIMEOUT 120 SOURCES tst_cues.cpp support/soundsession.cpp
            LIBS murmel_desktop)
