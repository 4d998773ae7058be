cmake_minimum_required(VERSION 3.25)
# Script mode: fails when the exe EXE imports a DLL that is not on Windows' KnownDLLs list.
# A statically linked build must need nothing beside it, and the loader looks for any other
# imported DLL in the exe's own folder first, where a planted copy would run as the user.
# OBJDUMP names the tool.
execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
# On the KnownDLLs list of Windows 10 and 11 (HKLM\SYSTEM\CurrentControlSet\Control\
# Session Manager\KnownDLLs).
set(allowed kernel32 advapi32 msvcrt user32 shell32 ole32 ws2_32 normaliz)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: ([^ \r]+)\\.[dD][lL][lL].*" "\\1" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "${EXE} imports ${dll}.dll, which is not on the KnownDLLs list")
  endif()
  message(STATUS "imports ${dll}.dll")
endforeach()
if(NOT lines)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
