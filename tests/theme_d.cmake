# The theme's glyphs: loaded and measured offscreen, then drawn on a private X display,
# where the effects' shaders really run.
murmel_test(tst_themeglyphs LABEL unit TIMEOUT 60 SOURCES tst_themeglyphs.cpp
            LIBS murmel_uiplugin Qt6::Quick Qt6::QuickControls2)
murmel_test(tst_themerendering LABEL integration TIMEOUT 180 RENDERS SOURCES tst_themerendering.cpp
            LIBS murmel_uiplugin Qt6::Quick Qt6::QuickControls2)

# The desktop's contrast and motion wishes from a stand-in Settings portal on a private bus.
murmel_test(tst_desktopappearance LABEL integration TIMEOUT 120 SOURCES tst_desktopappearance.cpp
            LIBS murmel_desktop Qt6::DBus)
set_property(TEST tst_desktopappearance APPEND PROPERTY ENVIRONMENT
             "MURMEL_SETTINGS_PORTAL_MOCK=${CMAKE_CURRENT_SOURCE_DIR}/settingsportal.py")
