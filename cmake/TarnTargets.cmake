# One place for the project's compiler flags, so that every library, tool and test is built alike.
#
# -ffp-contract=off: residuals are printed to the last bit and as bit patterns, so no
# multiply-add may be fused behind our back.

set(TARN_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # g++ 12 at -O3 reports false positives inside libstdc++'s string and optional code
  # (-Wrestrict, -Wmaybe-uninitialized); keep them visible but not fatal.
  list(APPEND TARN_WARNINGS -Wno-error=restrict -Wno-error=maybe-uninitialized)
endif()

function(tarn_apply_flags target)
  target_compile_options(${target} PRIVATE ${TARN_WARNINGS} -ffp-contract=off)
  # Position-independent code (for the Python module) lets g++ assume any global function may be
  # replaced at load time, which stops it inlining them: W3x ran 1.6% more instructions. Nothing
  # here is ever replaced that way.
  if(CMAKE_POSITION_INDEPENDENT_CODE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  endif()
  if(TARN_FUZZ)
    # Coverage for libFuzzer in every library the targets link; the fuzz binaries add the driver.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                           -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(TARN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
  if(TARN_SANITIZE_THREAD)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# tarn_add_library(<name> ALIAS <ns::name> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Public headers live in <dir>/include/tarn/<lib>/ and are included as "tarn/<lib>/x.hpp".
function(tarn_add_library name)
  cmake_parse_arguments(ARG "" "ALIAS" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  if(ARG_ALIAS)
    add_library(${ARG_ALIAS} ALIAS ${name})
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_include_directories(${name} PUBLIC
      $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  tarn_apply_flags(${name})
endfunction()

# tarn_add_executable(<name> SOURCES ... DEPS ...)
function(tarn_add_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  tarn_apply_flags(${name})
endfunction()

# tarn_add_test(<name> SOURCES ... DEPS ...): one GoogleTest binary, its cases registered with CTest.
# Tests run from the binary directory; TARN_BIN_DIR tells end-to-end tests where the tools are.
function(tarn_add_test name)
  if(NOT TARN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TARN_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    TARN_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  tarn_apply_flags(${name})
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DISCOVERY_TIMEOUT 60)
endfunction()

# True when qrv-verifier and tarn are linked as static executables (see TARN_STATIC_TOOLS).
if(TARN_STATIC_TOOLS AND NOT TARN_SANITIZE AND NOT TARN_SANITIZE_THREAD AND NOT TARN_FUZZ)
  set(TARN_LINK_STATIC ON)
else()
  set(TARN_LINK_STATIC OFF)
endif()

# tarn_link_static(<target>): links an executable statically when TARN_LINK_STATIC is on.
# --gc-sections drops the parts of the C and C++ runtimes the tools never reach (tarn 3.7 MB ->
# 2.8 MB before its test runner and language server, qrv-verifier 1.9 MB -> 1.6 MB). A Release
# build also leaves out the symbol table, which took 0.8 MB of tarn's 3.8 MB: profile a
# RelWithDebInfo build, which keeps it (callgrind's totals are the same either way).
function(tarn_link_static target)
  if(TARN_LINK_STATIC)
    target_link_options(${target} PRIVATE -static -Wl,--gc-sections)
    if(CMAKE_BUILD_TYPE STREQUAL "Release")
      target_link_options(${target} PRIVATE -s)
    endif()
  endif()
endfunction()
