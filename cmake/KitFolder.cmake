# kit_folder(NAME lib DEPS ... [TEST_DEPS ...] [EXCLUDE file ...])
#
# One library per folder from every .cpp in it that is not a test
# (*_test.cpp) nor listed in EXCLUDE; one unit-test executable <lib>_tests
# from the *_test.cpp files, registered with CTest under the label "unit".
function(kit_folder)
  cmake_parse_arguments(KF "" "NAME" "DEPS;TEST_DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(tests)
    list(REMOVE_ITEM sources ${tests})
  endif()
  foreach(ex IN LISTS KF_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(sources)
    add_library(${KF_NAME} STATIC ${sources})
    target_include_directories(${KF_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${KF_NAME} PUBLIC ${KF_DEPS})
  else()
    # A folder with headers only so far.
    add_library(${KF_NAME} INTERFACE)
    target_include_directories(${KF_NAME} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${KF_NAME} INTERFACE ${KF_DEPS})
  endif()
  if(KIT_BUILD_TESTS AND tests)
    add_executable(${KF_NAME}_tests ${tests})
    target_link_libraries(${KF_NAME}_tests PRIVATE ${KF_NAME} ${KF_TEST_DEPS} GTest::gmock_main)
    # Table tests are named by their name generators; the values themselves
    # (PrintTo) belong in failure messages, not in the test names.
    gtest_discover_tests(${KF_NAME}_tests
      PROPERTIES LABELS unit
      DISCOVERY_TIMEOUT 60
      NO_PRETTY_VALUES
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
endfunction()

