# Tests that run a second time on the server storage of the record manager.
#
# kit_postgres_test_server() registers, once, the private PostgreSQL server
# those runs use: a CTest fixture that starts a fresh cluster before the
# first of them and stops it after the last.
#
# kit_postgres_tests(target [LABELS ...] [TIMEOUT s] [WORKING_DIRECTORY dir])
# registers the GoogleTest cases of `target` again, named "postgres:<case>",
# labelled "postgres" (and LABELS), with KITDB pointing at that server. The
# test program must link recordmanager_test_storage, which gives each case
# a schema of its own and reports a machine without server programs as a
# skip (status 77).

# A short path: the server's Unix socket lives in it.
string(MD5 _kit_build_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_kit_build_hash}" 0 12 _kit_build_hash)
set(KIT_POSTGRES_TEST_DIR "/tmp/kit-pg-${_kit_build_hash}" CACHE INTERNAL "")
set(KIT_POSTGRES_TEST_KITDB "host=${KIT_POSTGRES_TEST_DIR} user=postgres dbname=postgres" CACHE INTERNAL "")

function(kit_postgres_test_server)
  set(script ${PROJECT_SOURCE_DIR}/cmake/postgres_test_server.sh)
  add_test(NAME postgres_server_start COMMAND ${script} start ${KIT_POSTGRES_TEST_DIR})
  set_tests_properties(postgres_server_start PROPERTIES FIXTURES_SETUP postgres_server LABELS postgres TIMEOUT 120)
  add_test(NAME postgres_server_stop COMMAND ${script} stop ${KIT_POSTGRES_TEST_DIR})
  set_tests_properties(postgres_server_stop PROPERTIES FIXTURES_CLEANUP postgres_server LABELS postgres TIMEOUT 60)
endfunction()

function(kit_postgres_tests target)
  cmake_parse_arguments(KP "" "TIMEOUT;WORKING_DIRECTORY" "LABELS" ${ARGN})
  if(NOT KP_TIMEOUT)
    set(KP_TIMEOUT 120)
  endif()
  set(where)
  if(KP_WORKING_DIRECTORY)
    set(where WORKING_DIRECTORY ${KP_WORKING_DIRECTORY})
  endif()
  set(list_var kit_postgres_${target})
  gtest_discover_tests(${target}
    TEST_PREFIX "postgres:"
    TEST_LIST ${list_var}
    ${where}
    DISCOVERY_TIMEOUT 60)
  # Properties whose values are lists or hold blanks, set once the cases are
  # known (discovery's own PROPERTIES would split them).
  set(labels postgres ${KP_LABELS})
  set(properties_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_postgres_properties.cmake)
  file(WRITE ${properties_file}
    "foreach(kit_test IN LISTS ${list_var})\n"
    "  set_tests_properties(\"\${kit_test}\" PROPERTIES\n"
    "    LABELS \"${labels}\"\n"
    "    ENVIRONMENT \"KITDB=${KIT_POSTGRES_TEST_KITDB}\"\n"
    "    FIXTURES_REQUIRED postgres_server\n"
    "    SKIP_RETURN_CODE 77\n"
    "    TIMEOUT ${KP_TIMEOUT})\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties_file})
endfunction()
