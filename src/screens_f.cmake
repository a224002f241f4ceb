# fragment (temporary; folded into the main lists after review)
# The settings and history screens' view models, and the microphone check behind the
# General tab's permission rows.
target_sources(murmel_core PRIVATE
    app/apikeyfield.cpp
    app/customizationlistmodel.cpp
    app/historyviewmodel.cpp
    app/permissions.cpp
    app/settingsmodel.cpp
)
target_sources(murmel_desktop PRIVATE platform/audioinputprobe.cpp)
