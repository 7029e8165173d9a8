# The drivers the build makes, the registry files that list them, and where everything is
# installed: programs in bin/ and drivers in lib/korvane/ (Linux, with a system registry
# file), or everything in one folder (Windows, where regsvr32 registers a driver).

# Where an installed korvane looks for its drivers when no korvane.reg lies beside it.
set(KORVANE_SYSTEM_REGISTRY /etc/korvane/korvane.reg CACHE STRING
    "Registry file of an installed korvane (Linux)")
configure_file(${PROJECT_SOURCE_DIR}/cmake/korvane_paths.h.in
    ${CMAKE_BINARY_DIR}/generated/korvane_paths.h @ONLY)

if(WIN32)
    set(KORVANE_INSTALL_BIN .)
    set(KORVANE_INSTALL_DRIVERS .)
    set(KORVANE_INSTALL_DOC .)
else()
    set(KORVANE_INSTALL_BIN bin)
    set(KORVANE_INSTALL_DRIVERS lib/korvane)
    set(KORVANE_INSTALL_DOC share/doc/korvane)
endif()

# The value of a string #define in a header, so that a driver's name and class identifier
# live in its source alone.
function(korvane_header_string out header macro)
    file(STRINGS ${header} line REGEX "^#define ${macro} \"")
    if(NOT line MATCHES "^#define ${macro} \"([^\"]*)\"")
        message(FATAL_ERROR "${header} defines no string ${macro}")
    endif()
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# A shipped driver: listed by the registry files, installed beside the others.
#   korvane_add_driver(target NAME "Listed Name" CLSID "{...}" [OPTIONAL_LIBRARIES])
# OPTIONAL_LIBRARIES: korvane works without the libraries this driver links beyond the
# others' (the driver then fails to load); the Debian package recommends them.
function(korvane_add_driver target)
    cmake_parse_arguments(arg "OPTIONAL_LIBRARIES" "NAME;CLSID" "" ${ARGN})
    set_target_properties(${target} PROPERTIES
        KORVANE_DRIVER_NAME "${arg_NAME}" KORVANE_DRIVER_CLSID "${arg_CLSID}"
        KORVANE_DRIVER_OPTIONAL_LIBRARIES ${arg_OPTIONAL_LIBRARIES})
    set_property(GLOBAL APPEND PROPERTY KORVANE_DRIVERS ${target})
    install(TARGETS ${target} LIBRARY DESTINATION ${KORVANE_INSTALL_DRIVERS})
endfunction()

# A shipped program.
function(korvane_add_program target description)
    korvane_windows_resources(${target} "${description}")
    set_property(GLOBAL APPEND PROPERTY KORVANE_PROGRAMS ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${KORVANE_INSTALL_BIN})
endfunction()

# .reg text listing every driver: where the build made them, or in `folder` when given.
function(korvane_registry_text out folder)
    get_property(drivers GLOBAL PROPERTY KORVANE_DRIVERS)
    set(text "Windows Registry Editor Version 5.00\n")
    foreach(target ${drivers})
        get_target_property(name ${target} KORVANE_DRIVER_NAME)
        get_target_property(clsid ${target} KORVANE_DRIVER_CLSID)
        set(file "$<TARGET_FILE:${target}>")
        if(folder)
            set(file "${folder}/$<TARGET_FILE_NAME:${target}>")
        endif()
        string(APPEND text "
[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\${name}]
\"CLSID\"=\"${clsid}\"
\"Description\"=\"${name}\"

[HKEY_CLASSES_ROOT\\CLSID\\${clsid}]
@=\"${name}\"

[HKEY_CLASSES_ROOT\\CLSID\\${clsid}\\InprocServer32]
@=\"${file}\"
\"ThreadingModel\"=\"Apartment\"
")
    endforeach()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Called once every driver is added. On Linux the build folder gets a korvane.reg beside its
# programs, as regsvr32 would register the drivers on Windows, and the install gets the
# system file, written when installing so that it names the prefix installed to.
function(korvane_install_registry)
    if(WIN32)
        return()
    endif()
    korvane_registry_text(build_text "")
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/korvane.reg CONTENT "${build_text}")

    korvane_registry_text(installed_text "@KORVANE_DRIVER_FOLDER@")
    set(template ${CMAKE_BINARY_DIR}/generated/korvane.reg.in)
    set(installed ${CMAKE_BINARY_DIR}/generated/installed/korvane.reg)
    file(GENERATE OUTPUT ${template} CONTENT "${installed_text}")
    install(CODE "
        set(KORVANE_DRIVER_FOLDER \"\${CMAKE_INSTALL_PREFIX}/${KORVANE_INSTALL_DRIVERS}\")
        configure_file(\"${template}\" \"${installed}\" @ONLY)")
    get_filename_component(folder ${KORVANE_SYSTEM_REGISTRY} DIRECTORY)
    get_filename_component(name ${KORVANE_SYSTEM_REGISTRY} NAME)
    install(FILES ${installed} DESTINATION ${folder} RENAME ${name})
endfunction()
