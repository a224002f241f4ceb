# fragment (temporary; folded into the main lists after review)
# The settings and history screens: their models alone, then the screens over them.
murmel_test(tst_settingsmodel LABEL unit TIMEOUT 60 SOURCES tst_settingsmodel.cpp)
murmel_test(tst_permissions LABEL unit TIMEOUT 30 SOURCES tst_permissions.cpp)
murmel_test(tst_screens LABEL integration TIMEOUT 120 SOURCES tst_screens.cpp
            LIBS murmel_uiplugin Qt6::Quick Qt6::QuickControls2)
