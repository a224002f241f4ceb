# The global hotkey: naming keys, watching the combination and recording a new one.
target_sources(murmel_core PRIVATE
    dictation/hotkeybackend.h
    dictation/hotkeymonitor.cpp
    dictation/hotkeyrecorder.cpp
    dictation/keyboardlayout.h
    dictation/keynames.cpp
)
# The X11 grab and the Wayland portal behind it, and the layout that names the keys.
target_sources(murmel_desktop PRIVATE
    platform/portalhotkeybackend.cpp
    platform/x11hotkeybackend.cpp
    platform/xkbkeyboardlayout.cpp
)
