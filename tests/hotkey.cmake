# Tests of this slice, registered with murmel_test().
murmel_test(tst_keynames LABEL unit TIMEOUT 30 SOURCES tst_keynames.cpp)
murmel_test(tst_hotkeymonitor LABEL unit TIMEOUT 30 SOURCES tst_hotkeymonitor.cpp fakes/fakehotkeybackend.h)
murmel_test(tst_hotkeyrecorder LABEL unit TIMEOUT 30 SOURCES tst_hotkeyrecorder.cpp fakes/fakehotkeybackend.h)

# The focused application of the X11 tests: a bare window that logs the keys it receives.
add_executable(hotkeyprobe hotkeyprobe.cpp)
target_link_libraries(hotkeyprobe PRIVATE PkgConfig::X11)
set_target_properties(hotkeyprobe PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

murmel_test(tst_x11hotkey LABEL integration TIMEOUT 120 SOURCES tst_x11hotkey.cpp LIBS murmel_desktop PkgConfig::X11)
add_dependencies(tst_x11hotkey hotkeyprobe)
set_property(TEST tst_x11hotkey APPEND PROPERTY ENVIRONMENT "MURMEL_HOTKEY_PROBE=$<TARGET_FILE:hotkeyprobe>")

murmel_test(tst_portalhotkey LABEL integration TIMEOUT 120
            SOURCES tst_portalhotkey.cpp support/secretservicesession.cpp LIBS murmel_desktop Qt6::DBus)
set_property(TEST tst_portalhotkey APPEND PROPERTY ENVIRONMENT
             "MURMEL_PORTAL_MOCK=${CMAKE_CURRENT_SOURCE_DIR}/globalshortcutsportal.py")
