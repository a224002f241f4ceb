# The desktop's contrast and motion wishes, read from the Settings portal.
target_sources(murmel_desktop PRIVATE platform/desktopappearance.cpp platform/desktopappearance.h)
