# What a release holds besides the programs and drivers, and the packages CPack makes from
# the install: a zip for Windows, a Debian package for Linux.

# A licence text of something the packages ship of others: `file` is its name in the
# package's third-party folder, `what` says what it covers.
function(korvane_third_party_license file what source)
    if(NOT EXISTS ${source})
        message(WARNING "${source} not found: the packages will lack the licence of ${what}")
        return()
    endif()
    set_property(GLOBAL APPEND PROPERTY KORVANE_THIRD_PARTY "${file}|${what}|${source}")
endfunction()

# The Windows programs and driver carry the compiler's runtime inside them.
if(MINGW)
    string(REPLACE "_" "-" arch ${CMAKE_SYSTEM_PROCESSOR})
    korvane_third_party_license(mingw-w64-runtime.txt
        "the MinGW-w64 runtime and winpthreads (ZPL-2.1, MIT and others)"
        /usr/share/doc/mingw-w64-${arch}-dev/copyright)
    korvane_third_party_license(gcc-runtime.txt
        "libgcc and libstdc++ of GCC (GPL-3 with the GCC Runtime Library Exception)"
        /usr/share/doc/g++-mingw-w64-${arch}-posix/copyright)
    korvane_third_party_license(GPL-3.txt
        "the GNU General Public License version 3, under which the exception above is granted"
        /usr/share/common-licenses/GPL-3)
endif()

# Called once everything is added: the documents, then the packages.
function(korvane_package)
    if(WIN32)
        install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
        install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
    else()
        install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${KORVANE_INSTALL_DOC})
        install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${KORVANE_INSTALL_DOC}
            RENAME copyright)
    endif()
    get_property(licenses GLOBAL PROPERTY KORVANE_THIRD_PARTY)
    if(licenses)
        set(index "korvane is MIT-licensed. It carries parts of others, with their licences here:\n\n")
        foreach(entry ${licenses})
            string(REPLACE "|" ";" fields "${entry}")
            list(GET fields 0 file)
            list(GET fields 1 what)
            list(GET fields 2 source)
            string(APPEND index "${file}: ${what}\n")
            install(FILES ${source} DESTINATION ${KORVANE_INSTALL_DOC}/third-party RENAME ${file})
        endforeach()
        file(WRITE ${CMAKE_BINARY_DIR}/generated/third-party/README.txt "${index}")
        install(FILES ${CMAKE_BINARY_DIR}/generated/third-party/README.txt
            DESTINATION ${KORVANE_INSTALL_DOC}/third-party)
    endif()

    set(CPACK_PACKAGE_NAME korvane)
    set(CPACK_PACKAGE_VENDOR "The korvane developers")
    set(CPACK_PACKAGE_CONTACT "The korvane developers")
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "plays a WAV file on sound-card outputs while recording inputs, sample-aligned")
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
    set(CPACK_STRIP_FILES ON)
    if(WIN32)
        set(CPACK_GENERATOR ZIP)
        if(CMAKE_SIZEOF_VOID_P EQUAL 8)
            set(CPACK_PACKAGE_FILE_NAME korvane-${PROJECT_VERSION}-win64)
        else()
            set(CPACK_PACKAGE_FILE_NAME korvane-${PROJECT_VERSION}-win32)
        endif()
    else()
        set(CPACK_GENERATOR DEB)
        # The system registry file is installed to an absolute folder.
        set(CPACK_SET_DESTDIR ON)
        set(CPACK_INSTALL_PREFIX /usr)
        set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
        set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
        set(CPACK_DEBIAN_PACKAGE_SECTION sound)
        set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
        set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
        # korvane-wav ir makes PNG plots beside the SVG ones with rsvg-convert.
        set(CPACK_DEBIAN_PACKAGE_SUGGESTS librsvg2-bin)
        string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
            "korvane plays a 32-bit float WAV file on a run of output channels of a sound-card"
            "driver while, in the very same buffer cycles, it records a run of inputs, so that"
            "the recording lines up with the playback to the sample on every run. korvane-wav"
            "converts, generates and checks its files; korvane-drivers lists the drivers."
            "Korvane Loopback is a software sound card whose outputs feed its inputs.")
        # Dependencies: what the programs and drivers link; the libraries that only an
        # optional driver needs are recommended instead.
        get_property(programs GLOBAL PROPERTY KORVANE_PROGRAMS)
        get_property(drivers GLOBAL PROPERTY KORVANE_DRIVERS)
        set(required)
        set(recommended)
        foreach(target ${programs} ${drivers})
            set(optional OFF)
            if(target IN_LIST drivers)
                get_target_property(optional ${target} KORVANE_DRIVER_OPTIONAL_LIBRARIES)
            endif()
            if(optional)
                string(APPEND recommended "$<TARGET_FILE:${target}>\n")
            else()
                string(APPEND required "$<TARGET_FILE:${target}>\n")
            endif()
        endforeach()
        set(KORVANE_SHLIBDEPS_REQUIRED ${CMAKE_BINARY_DIR}/generated/shlibdeps-required.txt)
        set(KORVANE_SHLIBDEPS_RECOMMENDED ${CMAKE_BINARY_DIR}/generated/shlibdeps-recommended.txt)
        file(GENERATE OUTPUT ${KORVANE_SHLIBDEPS_REQUIRED} CONTENT "${required}")
        file(GENERATE OUTPUT ${KORVANE_SHLIBDEPS_RECOMMENDED} CONTENT "${recommended}")
        set(KORVANE_SHLIBDEPS_DIR ${CMAKE_BINARY_DIR}/shlibdeps)
        configure_file(${PROJECT_SOURCE_DIR}/cmake/korvane_cpack_project.cmake.in
            ${CMAKE_BINARY_DIR}/generated/korvane_cpack_project.cmake @ONLY)
        set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/generated/korvane_cpack_project.cmake)
    endif()
    include(CPack)
endfunction()
