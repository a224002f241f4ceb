# whisper.cpp: a system installation when there is one, otherwise the source that
# scripts/setup.sh unpacked into the build tree, built once as static libraries.
# Living in the build tree as its own subdirectory, it is rebuilt only when its own
# files or options change, never because ours did.

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
set(BUILD_SHARED_LIBS OFF CACHE BOOL "Murmel links whisper.cpp statically" FORCE)
set(GGML_CCACHE OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_SERVER OFF CACHE BOOL "" FORCE)
set(WHISPER_ALL_WARNINGS OFF CACHE BOOL "" FORCE)
if(MURMEL_NATIVE)
    set(GGML_NATIVE ON CACHE BOOL "" FORCE)
else()
    # The portable set: a binary built here runs on any x86-64 processor of the last decade.
    set(GGML_NATIVE OFF CACHE BOOL "" FORCE)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        foreach(feature AVX AVX2 FMA F16C)
            set(GGML_${feature} ON CACHE BOOL "" FORCE)
        endforeach()
        foreach(feature AVX512 AVX512_VBMI AVX512_VNNI AVX512_BF16 AVX_VNNI)
            set(GGML_${feature} OFF CACHE BOOL "" FORCE)
        endforeach()
    endif()
endif()

add_subdirectory("${MURMEL_WHISPER_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/whisper-build"
                 EXCLUDE_FROM_ALL SYSTEM)
message(STATUS "Using whisper.cpp from ${MURMEL_WHISPER_SOURCE_DIR}")
