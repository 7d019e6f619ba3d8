# Mbed TLS, the TLS library of the agents' channel, built from the original
# tarball of Debian's source package that tools/setup fetched into the build
# tree, with its own CMake files and our configuration (agent/sessions/tlsconfig.h).
# It is unpacked once; its static libraries are built like ours.
set(MBEDTLS_EXPECTED_VERSION 2.28)
# Another build of the same sources (the installer tests' older release) may
# name the cache of the main build tree.
set(MBEDTLS_CACHE ${CMAKE_BINARY_DIR}/mbedtls-source CACHE PATH "Mbed TLS sources fetched by tools/setup")

file(GLOB mbedtls_tarball ${MBEDTLS_CACHE}/mbedtls_${MBEDTLS_EXPECTED_VERSION}.*.orig.tar.*)
if(NOT mbedtls_tarball)
    message(FATAL_ERROR "No Mbed TLS ${MBEDTLS_EXPECTED_VERSION} sources in ${MBEDTLS_CACHE}: run tools/setup")
endif()
list(GET mbedtls_tarball 0 mbedtls_tarball)
set(mbedtls_tree ${MBEDTLS_CACHE}/tree)
set(mbedtls_stamp ${MBEDTLS_CACHE}/unpacked)
if(NOT EXISTS ${mbedtls_stamp} OR ${mbedtls_tarball} IS_NEWER_THAN ${mbedtls_stamp})
    file(REMOVE_RECURSE ${mbedtls_tree} ${MBEDTLS_CACHE}/unpack)
    file(ARCHIVE_EXTRACT INPUT ${mbedtls_tarball} DESTINATION ${MBEDTLS_CACHE}/unpack)
    file(GLOB mbedtls_top ${MBEDTLS_CACHE}/unpack/*)
    file(RENAME ${mbedtls_top} ${mbedtls_tree})
    file(REMOVE_RECURSE ${MBEDTLS_CACHE}/unpack)
    file(TOUCH ${mbedtls_stamp})
endif()

# The sources must be of the version our configuration is written for.
file(STRINGS ${mbedtls_tree}/include/mbedtls/version.h mbedtls_version_line
     REGEX "#define MBEDTLS_VERSION_STRING ")
string(REGEX MATCH "\"([0-9.]+)\"" mbedtls_version_quoted "${mbedtls_version_line}")
set(mbedtls_version ${CMAKE_MATCH_1})
if(NOT mbedtls_version MATCHES "^${MBEDTLS_EXPECTED_VERSION}\\.")
    message(FATAL_ERROR "Mbed TLS in ${mbedtls_tree} is version '${mbedtls_version}', expected ${MBEDTLS_EXPECTED_VERSION}.x")
endif()
message(STATUS "Mbed TLS ${mbedtls_version}")

# Another build of the same sources (the installer tests' older release) may
# link the libraries a build tree made already, from the folder
# MBEDTLS_LIBRARIES_FROM, instead of building them again.
set(MBEDTLS_LIBRARIES_FROM "" CACHE PATH "Folder of Mbed TLS libraries built from the same sources")
if(MBEDTLS_LIBRARIES_FROM)
    set(dependency "")
    foreach(library mbedcrypto mbedx509 mbedtls)
        add_library(${library} STATIC IMPORTED)
        set_target_properties(${library} PROPERTIES
            IMPORTED_LOCATION ${MBEDTLS_LIBRARIES_FROM}/lib${library}.a
            INTERFACE_INCLUDE_DIRECTORIES ${mbedtls_tree}/include
            INTERFACE_LINK_LIBRARIES "ws2_32;${dependency}")
        set(dependency ${library})
    endforeach()
    set(usage INTERFACE)
else()
    # Only the static libraries, without programs, tests or warnings as errors.
    set(ENABLE_PROGRAMS OFF CACHE BOOL "" FORCE)
    set(ENABLE_TESTING OFF CACHE BOOL "" FORCE)
    set(MBEDTLS_FATAL_WARNINGS OFF CACHE BOOL "" FORCE)
    set(USE_STATIC_MBEDTLS_LIBRARY ON CACHE BOOL "" FORCE)
    set(USE_SHARED_MBEDTLS_LIBRARY OFF CACHE BOOL "" FORCE)
    set(INSTALL_MBEDTLS_HEADERS OFF CACHE BOOL "" FORCE)
    set(GEN_FILES OFF CACHE BOOL "" FORCE)
    # Its project() names no version; the policy of CMake 3 keeps that quiet.
    set(CMAKE_POLICY_DEFAULT_CMP0048 NEW)
    add_subdirectory(${mbedtls_tree} ${CMAKE_BINARY_DIR}/mbedtls EXCLUDE_FROM_ALL)
    # Its allocations are charged to the channels' budget.
    target_sources(mbedcrypto PRIVATE ${CMAKE_SOURCE_DIR}/agent/sessions/tlsmemory.cpp)
    target_include_directories(mbedcrypto PRIVATE ${CMAKE_SOURCE_DIR}/agent/base)
    # The record cipher and its MAC carry every byte of a session: built for speed.
    target_compile_options(mbedcrypto PRIVATE -O3)
    set(usage PUBLIC)
endif()

# Every user of the libraries sees the same configuration as the libraries.
foreach(library mbedcrypto mbedx509 mbedtls)
    target_compile_definitions(${library} ${usage} "MBEDTLS_CONFIG_FILE=\"tlsconfig.h\"")
    target_include_directories(${library} ${usage} ${CMAKE_SOURCE_DIR}/agent/sessions)
endforeach()
