# One helper per kind of target, so adding a library or a test takes one call.

# Warnings, -Werror and sanitizers for our own targets.
function(quillo_target_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual -Wno-missing-field-initializers)
  if(QUILLO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(QUILLO_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined
      -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(QUILLO_TSAN)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# quillo_library(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# include/ is public, src/ private.
function(quillo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name}
    PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  quillo_target_settings(${name})
endfunction()

# quillo_test(NAME SOURCES ... [LIBS ...] [QT | XVFB] [DBUS] [DEFINES ...] [TIMEOUT s])
# The program is built in the folder's tests/ (build/dev/tools/tests/...).
# Tests see QUILLO_BUNDLE_DIR (the built installer bundle) and QUILLO_SCREENS_DIR
# as compile definitions.
# QT: links the shared Qt test main (QApplication, offscreen platform).
# XVFB: the same on a private X server without a compositing manager.
# DBUS: every test runs on a private session bus of its own (dbus-run-session).
function(quillo_test name)
  if(NOT QUILLO_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "QT;XVFB;DBUS" "TIMEOUT" "SOURCES;LIBS;DEFINES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # Test programs live apart from what a folder builds for users (tools/ holds
  # tools only); one an older build left beside them goes. A folder that is
  # itself tests/ keeps them.
  set(test_dir ${CMAKE_CURRENT_BINARY_DIR}/tests)
  if(CMAKE_CURRENT_SOURCE_DIR MATCHES "/tests$")
    set(test_dir ${CMAKE_CURRENT_BINARY_DIR})
  else()
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${name})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${test_dir})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock)
  if(ARG_XVFB)
    target_link_libraries(${name} PRIVATE quillo_xvfb_test_main)
  elseif(ARG_QT)
    target_link_libraries(${name} PRIVATE quillo_qt_test_main)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  quillo_target_settings(${name})
  target_compile_definitions(${name} PRIVATE
    QUILLO_BUNDLE_DIR="${CMAKE_BINARY_DIR}/QuilloInstaller.app"
    QUILLO_SCREENS_DIR="${CMAKE_BINARY_DIR}/screens"
    ${ARG_DEFINES})
  if(ARG_DBUS)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "dbus-run-session;--")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# quillo_tool(NAME SOURCES ... [LIBS ...])
function(quillo_tool name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  quillo_target_settings(${name})
endfunction()
