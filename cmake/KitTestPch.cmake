# A precompiled header of GoogleTest and GoogleMock for the test executables.
#
# The tests' compile steps are the slowest of the build, and most of each is
# spent reading these two headers. kit_test_pch() runs once every target is
# declared and gives the header to every executable that links GoogleTest:
# those without compile definitions of their own share the one built for
# kit_test_pch_host; the others (tests told where the built programs and the
# suite files are) build their own, because the compilers refuse a header
# built under other definitions.
#
# ccache caches compiles that use a precompiled header only with the
# sloppiness pch_defines,time_macros; those targets run it with that.

function(kit_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    kit_collect_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# True in `out` when `target` or a library it links directly brings compile
# definitions of its own.
function(kit_has_own_definitions target out)
  get_target_property(definitions ${target} COMPILE_DEFINITIONS)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  foreach(library IN LISTS libraries)
    if(TARGET ${library} AND NOT library MATCHES "^GTest::")
      get_target_property(interface ${library} INTERFACE_COMPILE_DEFINITIONS)
      if(interface)
        list(APPEND definitions ${interface})
      endif()
    endif()
  endforeach()
  if(definitions)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# GCC 12 at -O2 stops treating code inlined from the standard headers as
# system code once they come from a precompiled header: its known false
# -Warray-bounds and -Wstringop-overflow reports on std::string copies then
# fail the release build of the tests. The header is therefore on by default
# with clang only (the sanitizer and fuzz builds).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(kit_test_pch_default ON)
else()
  set(kit_test_pch_default OFF)
endif()
option(KIT_TEST_PCH "Precompile the GoogleTest and GoogleMock headers of the test executables"
       ${kit_test_pch_default})

function(kit_test_pch)
  if(NOT KIT_BUILD_TESTS OR NOT KIT_TEST_PCH)
    return()
  endif()
  set(headers <gtest/gtest.h> <gmock/gmock.h>)
  set(launcher)
  if(KIT_CCACHE)
    set(launcher env CCACHE_SLOPPINESS=pch_defines,time_macros ${KIT_CCACHE})
  endif()
  add_library(kit_test_pch_host STATIC ${PROJECT_SOURCE_DIR}/cmake/kit_test_pch_host.cpp)
  target_link_libraries(kit_test_pch_host PRIVATE GTest::gmock)
  target_precompile_headers(kit_test_pch_host PRIVATE ${headers})
  get_target_property(host_options kit_test_pch_host COMPILE_OPTIONS)
  set_target_properties(kit_test_pch_host PROPERTIES CXX_COMPILER_LAUNCHER "${launcher}")
  kit_collect_targets(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(NOT type STREQUAL "EXECUTABLE" OR NOT libraries MATCHES "GTest::")
      continue()
    endif()
    kit_has_own_definitions(${target} own)
    get_target_property(options ${target} COMPILE_OPTIONS)
    if(own OR NOT "${options}" STREQUAL "${host_options}")
      target_precompile_headers(${target} PRIVATE ${headers})
    else()
      target_precompile_headers(${target} REUSE_FROM kit_test_pch_host)
    endif()
    set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER "${launcher}")
  endforeach()
endfunction()
