# kit_discover_tests(target LABELS label... [DISCOVERY_TIMEOUT s]
#                    [WORKING_DIRECTORY dir] [PROPERTIES name value ...])
#
# gtest_discover_tests passes its PROPERTIES on as one flat list, so a list
# of labels ("e2e;multiprocess") keeps only its first item. The labels are
# set here once the cases are known, from a file CTest reads after the
# discovered tests.
function(kit_discover_tests target)
  cmake_parse_arguments(KD "" "DISCOVERY_TIMEOUT;WORKING_DIRECTORY" "LABELS;PROPERTIES" ${ARGN})
  if(KD_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kit_discover_tests: unknown arguments ${KD_UNPARSED_ARGUMENTS}")
  endif()
  set(list_var kit_tests_${target})
  set(arguments TEST_LIST ${list_var})
  foreach(keyword DISCOVERY_TIMEOUT WORKING_DIRECTORY)
    if(DEFINED KD_${keyword})
      list(APPEND arguments ${keyword} ${KD_${keyword}})
    endif()
  endforeach()
  if(KD_PROPERTIES)
    list(APPEND arguments PROPERTIES ${KD_PROPERTIES})
  endif()
  gtest_discover_tests(${target} ${arguments})
  set(properties_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${properties_file}
    "foreach(kit_test IN LISTS ${list_var})\n"
    "  set_tests_properties(\"\${kit_test}\" PROPERTIES LABELS \"${KD_LABELS}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties_file})
endfunction()
