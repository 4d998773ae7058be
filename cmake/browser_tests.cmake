# Browser tests of the embedded page: node's test runner drives headless Chromium through
# playwright-core (scripts/setup.sh installs both) against the program, one CTest test per
# file of tests/page/. The Linux build runs the page's paths; the Windows build runs the
# one whole flow against the exe under wine.
find_program(VANO_NODE NAMES node nodejs)
if(NOT VANO_NODE)
  message(WARNING "node not found: the Browser tests are not registered (run scripts/setup.sh)")
  return()
endif()

if(VANO_WINDOWS)
  set(_browser_tests WineLoginToDone wine_flow_test.mjs)
else()
  set(_browser_tests
    Login login_test.mjs
    ShareFile share_test.mjs
    FolderAndLargeMedia targets_test.mjs
    TakenCode code_test.mjs
    UploadFailure failure_test.mjs
    StartAndMessages start_test.mjs
    Layout layout_test.mjs
    ClipboardFailure clipboard_test.mjs
    SelectionHandOff selection_test.mjs)
endif()

while(_browser_tests)
  list(POP_FRONT _browser_tests _name _file)
  add_test(NAME Browser.${_name}
    COMMAND "${VANO_NODE}" --test --test-reporter=spec "${CMAKE_SOURCE_DIR}/tests/page/${_file}"
    WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}")
  set_tests_properties(Browser.${_name} PROPERTIES
    TIMEOUT 240
    ENVIRONMENT "VANO_SOURCE_DIR=${CMAKE_SOURCE_DIR};VANO_EXE=$<TARGET_FILE:vano-duvid>;VANO_WINDOWS_EXE=$<TARGET_FILE:vano-duvid>")
  if(VANO_WINDOWS)
    # The exe registers the Explorer entries in the prefix's HKCU when they are missing.
    set_tests_properties(Browser.${_name} PROPERTIES RESOURCE_LOCK wine_hkcu_shell_keys)
    set_property(TEST Browser.${_name} APPEND PROPERTY ENVIRONMENT "VANO_WINE_LOCK=hkcu-shell-keys")
  endif()
endwhile()
