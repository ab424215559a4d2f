# GoogleTest for a cross build: the host's installed GoogleTest is built for the host, so it
# is built here for the target from the sources Debian ships (package googletest), and
# offered under the names find_package(GTest) gives.
set(CONVOLUZIONE_GTEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest sources to build for the target")
if(NOT EXISTS ${CONVOLUZIONE_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${CONVOLUZIONE_GTEST_SOURCE}: "
                      "install Debian's googletest package or set CONVOLUZIONE_GTEST_SOURCE")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${CONVOLUZIONE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

foreach(library gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()
set(GTest_FOUND TRUE)

# List the tests when CTest runs (through the emulator), not while building, so a build
# never starts Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
