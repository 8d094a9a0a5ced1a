# Formats the manual page as lintian does and fails on any warning of groff or man.
#   cmake -DPAGE=velmora.1 -P check_manual_page.cmake
find_program(MAN man REQUIRED)
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                        ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${PAGE}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "man --warnings on ${PAGE} (exit ${result}):\n${warnings}")
endif()
