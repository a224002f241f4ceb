murmel_test(tst_logindactivity LABEL integration SOURCES tst_logindactivity.cpp support/secretservicesession.cpp
            LIBS murmel_desktop Qt6::DBus)
murmel_test(tst_announcer LABEL integration SOURCES tst_announcer.cpp support/secretservicesession.cpp
            LIBS murmel_desktop Qt6::DBus Qt6::Gui)
