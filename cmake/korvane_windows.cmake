# Windows resources: the version every .exe and .dll shows, and the manifest that makes
# UTF-8 the code page of korvane-wav and the tests (so that they hand such names on).
# korvane and korvane-drivers load drivers, which speak the system's ANSI code page: they
# keep it and take file names from the wide command line instead.

# UTF-8 code page for an executable. MSVC merges .manifest sources into the one it writes;
# MinGW takes the manifest as resource 1 of type 24 (RT_MANIFEST).
function(korvane_utf8_manifest target)
    if(NOT WIN32)
        return()
    endif()
    set(manifest ${PROJECT_SOURCE_DIR}/cmake/korvane.manifest)
    if(MSVC)
        target_sources(${target} PRIVATE ${manifest})
    else()
        set(rc ${CMAKE_BINARY_DIR}/generated/korvane_manifest.rc)
        file(CONFIGURE OUTPUT ${rc} CONTENT "1 24 \"${manifest}\"\n")
        target_sources(${target} PRIVATE ${rc})
        set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${manifest})
    endif()
endfunction()

# The version resource of a shipped program or driver.
function(korvane_windows_resources target description)
    if(NOT WIN32)
        return()
    endif()
    get_target_property(type ${target} TYPE)
    set(KORVANE_RC_DESCRIPTION "${description}")
    set(KORVANE_RC_NAME ${target})
    if(type STREQUAL "EXECUTABLE")
        set(KORVANE_RC_FILETYPE VFT_APP)
        set(KORVANE_RC_FILE ${target}${CMAKE_EXECUTABLE_SUFFIX})
    else()
        set(KORVANE_RC_FILETYPE VFT_DLL)
        set(KORVANE_RC_FILE ${target}${CMAKE_SHARED_MODULE_SUFFIX})
    endif()
    set(rc ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    # Drivers link nothing of the core, whose include folders carry the version header.
    target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
