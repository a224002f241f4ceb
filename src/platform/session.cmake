target_sources(murmel_desktop PRIVATE
    platform/atspiannouncer.cpp
    platform/logindactivity.cpp
)
