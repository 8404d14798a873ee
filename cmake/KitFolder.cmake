# kit_folder(NAME lib [DEPS ...] [TEST_DEPS ...] [EXCLUDE file ...]
#            [PRIVATE_HEADERS header ...] [EXTRA_HEADERS path ...])
#
# One library per folder from every .cpp in it that is not a test
# (*_test.cpp) nor listed in EXCLUDE; one unit-test executable <lib>_tests
# from the *_test.cpp files, registered with CTest under the label "unit".
#
# The library exports its own headers only (see kit_include_root): DEPS
# must name every library whose headers it includes, so that an include of
# a higher floor, which no library links, does not build. EXCLUDE may also
# name a header of the folder that another library exports.
function(kit_folder)
  cmake_parse_arguments(KF "" "NAME" "DEPS;TEST_DEPS;EXCLUDE;PRIVATE_HEADERS;EXTRA_HEADERS" ${ARGN})
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
    target_link_libraries(${KF_NAME} PUBLIC ${KF_DEPS})
  else()
    # A folder with headers only so far.
    add_library(${KF_NAME} INTERFACE)
    target_link_libraries(${KF_NAME} INTERFACE ${KF_DEPS})
  endif()
  kit_include_root(${KF_NAME}
    EXCLUDE ${KF_EXCLUDE} PRIVATE_HEADERS ${KF_PRIVATE_HEADERS} EXTRA_HEADERS ${KF_EXTRA_HEADERS})
  if(KIT_BUILD_TESTS AND tests)
    add_executable(${KF_NAME}_tests ${tests})
    target_link_libraries(${KF_NAME}_tests PRIVATE ${KF_NAME} ${KF_TEST_DEPS} GTest::gmock_main)
    kit_see_private_headers(${KF_NAME}_tests ${KF_NAME})
    # Table tests are named by their name generators; the values themselves
    # (PrintTo) belong in failure messages, not in the test names.
    gtest_discover_tests(${KF_NAME}_tests
      PROPERTIES LABELS unit
      DISCOVERY_TIMEOUT 60
      NO_PRETTY_VALUES
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
endfunction()

# kit_include_root(target [FOLDER dir] [EXCLUDE header ...]
#                  [PRIVATE_HEADERS header ...] [EXTRA_HEADERS path ...])
#
# Gives `target` an include root of its own in the build tree,
# include/<target>/<folder>/<header>, with a link to each header of its
# source folder (FOLDER, by default the current one; `folder` is its path in
# the project, so sources keep writing #include "data/files.h"). The root is the target's public
# include directory: whoever links the target sees these headers and no
# other header of the tree. PRIVATE_HEADERS go to a second root that only
# the target and its tests see; EXTRA_HEADERS are headers elsewhere (paths
# from the current folder) that the target exports under their own folder.
function(kit_include_root target)
  cmake_parse_arguments(KI "" "FOLDER" "EXCLUDE;PRIVATE_HEADERS;EXTRA_HEADERS" ${ARGN})
  if(NOT KI_FOLDER)
    set(KI_FOLDER ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  get_filename_component(KI_FOLDER ${KI_FOLDER} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(public_root ${PROJECT_BINARY_DIR}/include/${target})
  set(private_root ${PROJECT_BINARY_DIR}/include/${target}.private)
  file(REMOVE_RECURSE ${public_root} ${private_root})
  file(GLOB headers CONFIGURE_DEPENDS ${KI_FOLDER}/*.h ${KI_FOLDER}/*.inc)
  foreach(extra IN LISTS KI_EXTRA_HEADERS)
    get_filename_component(extra ${extra} ABSOLUTE BASE_DIR ${KI_FOLDER})
    list(APPEND headers ${extra})
  endforeach()
  set(has_private FALSE)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    if(name IN_LIST KI_EXCLUDE)
      continue()
    endif()
    file(RELATIVE_PATH path ${PROJECT_SOURCE_DIR} ${header})
    if(name IN_LIST KI_PRIVATE_HEADERS)
      set(link ${private_root}/${path})
      set(has_private TRUE)
    else()
      set(link ${public_root}/${path})
    endif()
    get_filename_component(link_dir ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${link_dir})
    file(CREATE_LINK ${header} ${link} SYMBOLIC)
  endforeach()
  file(MAKE_DIRECTORY ${public_root})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${public_root})
  else()
    target_include_directories(${target} PUBLIC ${public_root})
    if(has_private)
      target_include_directories(${target} PRIVATE ${private_root})
    endif()
  endif()
  set_property(TARGET ${target} PROPERTY KIT_PRIVATE_ROOT ${private_root})
endfunction()

# Lets the tests of `library` include its private headers.
function(kit_see_private_headers target library)
  get_target_property(root ${library} KIT_PRIVATE_ROOT)
  if(root AND EXISTS ${root})
    target_include_directories(${target} PRIVATE ${root})
  endif()
endfunction()
