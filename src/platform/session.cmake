target_sources(murmel_desktop PRIVATE
    platform/logindactivity.cpp
)
