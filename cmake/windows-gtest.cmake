# For the cross build: GoogleTest compiled from Debian's sources with the same compiler, and
# find_package(GTest) pointed at it. Included right after project(QVR) by the windows preset.
if(QVR_BUILD_TESTS)
  include(FetchContent)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  FetchContent_Declare(GTest SOURCE_DIR ${QVR_GTEST_SOURCE_DIR} OVERRIDE_FIND_PACKAGE)
  FetchContent_MakeAvailable(GTest)
endif()
