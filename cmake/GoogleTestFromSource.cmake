# GoogleTest built with the project from its sources (Debian's googletest package installs them
# in /usr/src/googletest), for builds such as the Windows cross-build that have no installed one.
# GoogleTest's own build provides the same GTest::gtest and GTest::gtest_main targets as
# find_package(GTest).
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${BREVOMAT_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main)
  # The project's warning flags are for the project's code.
  set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS "")
endforeach()
