# Text insertion: the paste, the clipboard-safe hold and `murmel insert-last`, with their
# X11, clipboard and AT-SPI implementations in the desktop library.
target_sources(murmel_core PRIVATE
    app/automationservice.cpp
    app/insertlastcommand.cpp
    insert/clipboardsafeinsertservice.cpp
    insert/textinserter.cpp
)
target_sources(murmel_desktop PRIVATE
    platform/atspifocustracker.cpp
    platform/qtclipboard.cpp
    platform/x11focusprobe.cpp
    platform/x11keyboardinjector.cpp
)
