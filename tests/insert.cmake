# Tests of text insertion: the logic against fakes, the X11 paths on a private display, and
# `murmel insert-last` end to end.
murmel_test(tst_textinserter LABEL unit SOURCES tst_textinserter.cpp)
murmel_test(tst_clipboardsafeinsert LABEL unit SOURCES tst_clipboardsafeinsert.cpp)

# A window with one text field that reports what arrives in it; other tests that type or
# paste into a real application use it too (its options are described at the top).
add_executable(textwindow tools/textwindow.cpp)
target_link_libraries(textwindow PRIVATE murmel_defaults Qt6::Widgets)
set_target_properties(textwindow PROPERTIES AUTOMOC OFF)

murmel_test(tst_x11insertion LABEL integration TIMEOUT 180 SOURCES tst_x11insertion.cpp support/secretservicesession.cpp
            LIBS murmel_desktop Qt6::DBus)
add_dependencies(tst_x11insertion textwindow)
set_property(TEST tst_x11insertion APPEND PROPERTY ENVIRONMENT "MURMEL_TEXTWINDOW=$<TARGET_FILE:textwindow>")

murmel_test(tst_insertlast LABEL e2e TIMEOUT 120 SOURCES tst_insertlast.cpp support/secretservicesession.cpp
            LIBS murmel_desktop Qt6::DBus)
add_dependencies(tst_insertlast murmel textwindow)
set_property(TEST tst_insertlast APPEND PROPERTY ENVIRONMENT "MURMEL_TEXTWINDOW=$<TARGET_FILE:textwindow>")
