# Registers the loopback driver DLL in the Wine prefix named by WINEPREFIX, as regsvr32
# does on Windows. Run by ctest before the end-to-end tests of the Windows build.
execute_process(COMMAND winepath -w ${DLL} OUTPUT_VARIABLE windows_path
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc TIMEOUT 120)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "winepath failed for ${DLL}")
endif()
execute_process(COMMAND wine regsvr32 /s ${windows_path} RESULT_VARIABLE rc TIMEOUT 120)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "regsvr32 failed (${rc}) for ${windows_path}")
endif()
