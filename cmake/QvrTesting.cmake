# How the test programs are built and labelled.
#
# Labels let a run take or leave out a kind of test (ctest -L LABEL, -LE LABEL):
#   core, qvr, gui    the test program a test is in (gui: the windows' programs)
#   slow              a few seconds or more each; scripts/quick.sh leaves them out
#   concurrency       work on several threads; the tsan preset runs these
#   layers, package, bench, fuzz, windows
#                     the layering check, the desktop files, the benchmark's tiny run, the
#                     fuzz targets' corpora, the Windows programs under Wine
include_guard(GLOBAL)
include(GoogleTest)

# qvr_discover_tests(TARGET LABEL label [SLOW regex] [CONCURRENCY regex]
#                    [ENVIRONMENT var=value...] [SHARDS n] [NOT_UNDER_WINE filter])
# Registers each GoogleTest test of TARGET with ctest (as gtest_discover_tests does), labelled
# LABEL, plus slow and concurrency for the tests whose full names (Suite.Name) match those
# regular expressions. A cross build starts Wine once per program, not once per test: the
# program runs whole, or in SHARDS parts side by side (GoogleTest's sharding), labelled windows,
# without the tests NOT_UNDER_WINE names (a GoogleTest filter): slow ones whose work is the same
# on every platform, which the Linux presets run already.
function(qvr_discover_tests target)
  cmake_parse_arguments(T "" "LABEL;SLOW;CONCURRENCY;SHARDS;NOT_UNDER_WINE" "ENVIRONMENT" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    set(filter)
    if(T_NOT_UNDER_WINE)
      set(filter --gtest_filter=-${T_NOT_UNDER_WINE})
    endif()
    if(NOT T_SHARDS)
      add_test(NAME ${target} COMMAND ${target} ${filter})
      set_tests_properties(${target} PROPERTIES LABELS "windows;${T_LABEL}")
      return()
    endif()
    math(EXPR last "${T_SHARDS} - 1")
    foreach(shard RANGE ${last})
      add_test(NAME ${target}.${shard} COMMAND ${target} ${filter})
      set_tests_properties(${target}.${shard} PROPERTIES LABELS "windows;${T_LABEL}"
        ENVIRONMENT "GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${shard}")
    endforeach()
    return()
  endif()
  set(properties)
  if(T_ENVIRONMENT)
    set(properties PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${properties})
  # The names are known only once the program is built: the labels are given by a script that
  # ctest runs after the discovered tests' own (it reads their list, ${target}_TESTS).
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  set(body "foreach(test IN LISTS ${target}_TESTS)\n  set(labels ${T_LABEL})\n")
  foreach(kind slow concurrency)
    string(TOUPPER ${kind} key)
    if(T_${key})
      string(APPEND body "  if(test MATCHES [==[^(${T_${key}})$]==])\n"
                          "    list(APPEND labels ${kind})\n  endif()\n")
    endif()
  endforeach()
  string(APPEND body "  set_tests_properties(\${test} PROPERTIES LABELS \"\${labels}\")\nendforeach()\n")
  file(WRITE ${script} "${body}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# qvr_test_headers(TARGET [QT])
# GoogleTest (and, with QT, the Qt headers the window tests use) precompiled once and shared by
# every test program. Two kinds, since Qt's programs are built as position-independent code and
# the others are not; each is made by a small library of its own, so that building one test
# program never waits for another.
function(qvr_test_headers target)
  cmake_parse_arguments(H "QT" "" "" ${ARGN})
  # Merged into one file by the unity build, a test file's fixture in an unnamed namespace looks
  # to GCC like a header's: that warning says nothing about a test program.
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  if(NOT QVR_PCH)
    return()
  endif()
  set(owner qvr_test_pch)
  if(H_QT)
    # Qt's test library defines QT_TESTCASE_BUILDDIR as the test's own build folder, and a
    # precompiled header is only taken with the same definitions: one per folder.
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(MAKE_C_IDENTIFIER "${folder}" folder)
    set(owner qvr_test_pch_qt_${folder})
  endif()
  if(NOT TARGET ${owner})
    set(headers <gtest/gtest.h> <algorithm> <cstdint> <filesystem> <fstream> <map> <string>
                <vector>)
    add_library(${owner} OBJECT ${PROJECT_SOURCE_DIR}/cmake/pch.cpp)
    target_link_libraries(${owner} PRIVATE GTest::gtest)
    if(H_QT)
      list(APPEND headers <QAbstractButton> <QApplication> <QCheckBox> <QComboBox> <QDir>
                          <QFile> <QLabel> <QLineEdit> <QPlainTextEdit> <QPushButton>
                          <QTemporaryDir> <QTest> <QTextDocument> <QTimer> <QTreeWidget>)
      target_link_libraries(${owner} PRIVATE Qt6::Widgets Qt6::Test)
    endif()
    target_precompile_headers(${owner} PRIVATE ${headers})
  endif()
  target_precompile_headers(${target} REUSE_FROM ${owner})
endfunction()
