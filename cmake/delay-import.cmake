# Delay-load import libraries: a DLL that Windows does not always load from
# System32 (gdiplus, dwmapi, ...) must not be resolved by the loader before
# the entry point has restricted the DLL search to System32. The delay-load
# helper loads it on first use, after that restriction.
function(norvale_delay_import dll out_var)
  set(lib "/usr/x86_64-w64-mingw32/lib/lib${dll}.a")
  set(def "${CMAKE_BINARY_DIR}/delay/${dll}.def")
  set(out "${CMAKE_BINARY_DIR}/delay/lib${dll}_delay.a")
  if(NOT EXISTS "${out}")
    file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/delay")
    execute_process(COMMAND x86_64-w64-mingw32-nm -g "${lib}" OUTPUT_VARIABLE syms)
    string(REGEX MATCHALL "I __imp_[A-Za-z0-9_@?$]+" imps "${syms}")
    set(text "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(s ${imps})
      string(REPLACE "I __imp_" "" name "${s}")
      string(APPEND text "${name}\n")
    endforeach()
    file(WRITE "${def}" "${text}")
    execute_process(COMMAND x86_64-w64-mingw32-dlltool --input-def "${def}" --dllname "${dll}.dll"
                            --output-delaylib "${out}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dlltool failed for ${dll}")
    endif()
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()
