# whisper.cpp: a system installation when there is one, otherwise the source that
# scripts/setup.sh unpacked into the build tree, built once. Living in the build tree as its
# own subdirectory, it is rebuilt only when its own files or options change, never because
# ours did.
#
# By default ggml's processor code is built once for every x86-64 generation and loaded at
# run time (ggml's backend loading): the engine picks the best variant of the processor it
# runs on, AVX-512 and AVX-VNNI included, and still runs on one without AVX2. That needs
# ggml and whisper as shared libraries, kept in the build tree's modules folder and, once
# installed, beside the FFmpeg module (the libraries themselves stay in the build tree's bin
# folder, where the programs' run path finds them). MURMEL_NATIVE builds one static engine for this
# machine's processor instead, without graphics-card code.
#
# The graphics-card code (ggml's Vulkan backend, MURMEL_VULKAN) is a module of its own in a
# subfolder, so loading the processor code never starts a Vulkan driver: Murmel loads it only
# when the graphics card is wanted.

set(MURMEL_WHISPER_SOURCE_DIR "${CMAKE_BINARY_DIR}/_deps/whisper.cpp"
    CACHE PATH "whisper.cpp source tree used when no system whisper.cpp is installed")

find_package(whisper CONFIG QUIET)
if(whisper_FOUND AND TARGET whisper)
    message(STATUS "Using the system whisper.cpp ${whisper_VERSION}")
    return()
endif()

if(NOT EXISTS "${MURMEL_WHISPER_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR
        "whisper.cpp source not found in ${MURMEL_WHISPER_SOURCE_DIR}.\n"
        "Run: scripts/setup.sh run ${CMAKE_BINARY_DIR}")
endif()

set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
set(GGML_CCACHE OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_SERVER OFF CACHE BOOL "" FORCE)
set(WHISPER_ALL_WARNINGS OFF CACHE BOOL "" FORCE)
if(MURMEL_NATIVE)
    set(GGML_NATIVE ON CACHE BOOL "" FORCE)
    set(GGML_BACKEND_DL OFF CACHE BOOL "" FORCE)
    set(GGML_CPU_ALL_VARIANTS OFF CACHE BOOL "" FORCE)
    set(GGML_VULKAN OFF CACHE BOOL "" FORCE)
    set(MURMEL_WHISPER_SHARED OFF)
else()
    set(GGML_NATIVE OFF CACHE BOOL "" FORCE)
    set(GGML_BACKEND_DL ON CACHE BOOL "" FORCE)
    set(GGML_CPU_ALL_VARIANTS ON CACHE BOOL "" FORCE)
    set(GGML_VULKAN ${MURMEL_VULKAN} CACHE BOOL "" FORCE)
    set(MURMEL_WHISPER_SHARED ON)
endif()
if(GGML_VULKAN)
    find_package(Vulkan QUIET COMPONENTS glslc)
    find_package(SPIRV-Headers CONFIG QUIET)
    if(NOT Vulkan_FOUND OR NOT Vulkan_glslc_FOUND OR NOT SPIRV-Headers_FOUND)
        message(FATAL_ERROR "The graphics-card code needs Vulkan's headers, glslc and SPIR-V's headers "
                            "(Debian: libvulkan-dev glslc spirv-headers). Install them with "
                            "scripts/setup.sh, or configure with -DMURMEL_VULKAN=OFF.")
    endif()
endif()

# Only whisper.cpp's own libraries follow this; ours stay static.
set(BUILD_SHARED_LIBS ${MURMEL_WHISPER_SHARED})
add_subdirectory("${MURMEL_WHISPER_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/whisper-build"
                 EXCLUDE_FROM_ALL SYSTEM)
unset(BUILD_SHARED_LIBS)
if(MURMEL_WHISPER_SHARED)
    # ggml writes its backends where programs go; ours look for them in the modules folder.
    # (ggml's list is cached, so it may still name backends of an earlier configuration.)
    set(backends "")
    foreach(backend IN LISTS GGML_AVAILABLE_BACKENDS)
        if(TARGET ${backend} AND NOT backend STREQUAL "ggml-vulkan")
            set_target_properties(${backend} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${MURMEL_MODULE_DIR}")
            list(APPEND backends ${backend})
        endif()
    endforeach()
    install(TARGETS whisper ggml ggml-base ${backends} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/murmel)
    if(TARGET ggml-vulkan)
        set_target_properties(ggml-vulkan PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${MURMEL_MODULE_DIR}/graphics")
        # Debian 12's Vulkan headers predate a structure the backend names.
        target_compile_options(ggml-vulkan PRIVATE -include "${CMAKE_CURRENT_LIST_DIR}/ggml-vulkan-compat.h")
        install(TARGETS ggml-vulkan LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/murmel/graphics)
    endif()
endif()
message(STATUS "Using whisper.cpp from ${MURMEL_WHISPER_SOURCE_DIR}")
