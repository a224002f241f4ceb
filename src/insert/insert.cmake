# Sources of this slice: logic into murmel_core, desktop implementations into murmel_desktop.
# target_sources(murmel_core PRIVATE ...)
# target_sources(murmel_desktop PRIVATE ...)
