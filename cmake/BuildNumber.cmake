# The build number is the count of commits, taken when CMake configures. A source tree
# outside git (a release tarball) still builds, as build 0; so does one that merely sits
# inside some other repository, whose commits are not ours to count.
set(MURMEL_BUILD 0)
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE murmel_git_toplevel RESULT_VARIABLE murmel_git_result
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(murmel_git_result EQUAL 0)
        file(REAL_PATH "${murmel_git_toplevel}" murmel_git_toplevel)
        file(REAL_PATH "${PROJECT_SOURCE_DIR}" murmel_source_dir)
    endif()
    if(murmel_git_result EQUAL 0 AND murmel_git_toplevel STREQUAL murmel_source_dir)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                        OUTPUT_VARIABLE murmel_commit_count RESULT_VARIABLE murmel_git_result
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(murmel_git_result EQUAL 0 AND murmel_commit_count MATCHES "^[0-9]+$")
            set(MURMEL_BUILD ${murmel_commit_count})
        endif()
    endif()
endif()
message(STATUS "Murmel ${PROJECT_VERSION} build ${MURMEL_BUILD}")
# On the one file that reads it, so a new build number recompiles that file alone.
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/base/appinfo.cpp APPEND PROPERTY COMPILE_DEFINITIONS MURMEL_BUILD="${MURMEL_BUILD}")
