# The theme's shared glyphs: chrome titles, the home screen's eye, the glow, the file
# waveform and the empty-list placeholder.
qt_target_qml_sources(murmel_ui
    QML_FILES
        ChromeText.qml
        GlitchEye.qml
        NebulaCore.qml
        WaveformView.qml
        EmptyState.qml
)
# Qt 6.4 has no ready-made effect for these, so the glitch and the glow are our own
# shaders, baked at build time for every graphics backend Qt Quick may pick.
find_package(Qt6 6.4 REQUIRED COMPONENTS ShaderTools)
qt_add_shaders(murmel_ui murmel_ui_shaders
    PREFIX /Murmel
    FILES
        shaders/glitch.frag
        shaders/nebula.frag
)
