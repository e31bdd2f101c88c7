# Precompiled headers. Most of a test file's compile time goes into parsing GoogleTest and the
# standard library again; `pch_test` parses them once per build and every test binary reuses that.
#
# GCC accepts a precompiled header only when the flags that shape it (optimisation level,
# sanitizers, macros) are the ones it was built with, so `pch_test` is built with exactly the
# flags of the test binaries. CMake adds -Winvalid-pch, so with -Werror a header that no
# longer fits stops the build instead of being parsed again in silence.
#
# ccache cannot cache an object built with a precompiled header unless its sloppiness is relaxed,
# and the header's path differs per build folder, which would stop build folders from sharing
# objects; with ccache as the launcher the headers are therefore parsed as usual.

#
# They serve the GoogleTest binaries of the sanitizer build only, whose bodies build at -O0:
# with optimisation on, GCC 12 reports false -Wstringop-overflow overflows inside std::string's
# inlined copies when the standard headers come precompiled (not when the same headers are
# parsed), and that would stop the build on correct code. `use_precompiled_headers` on code
# other than tests therefore does nothing for now.

if(SANITIZE AND QUICK_TESTS)
  set(pch_default ON)
else()
  set(pch_default OFF)
endif()
option(PRECOMPILED_HEADERS "Parse GoogleTest and the common standard headers once per build"
       ${pch_default})
if(PRECOMPILED_HEADERS AND CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
  message(STATUS "Precompiled headers: off (ccache is the compiler launcher)")
  set(PRECOMPILED_HEADERS OFF)
endif()

# The standard headers that most files of this tree include. Keep the list to what is common:
# every entry is loaded by every file, used or not.
set(PCH_STANDARD_HEADERS
    <algorithm> <array> <cstddef> <cstdint> <cstdio> <cstdlib> <cstring> <functional> <memory>
    <optional> <span> <string> <string_view> <utility> <vector>)
# The test files use files, streams and threads far more than the libraries do.
set(PCH_TEST_HEADERS
    <gtest/gtest.h> ${PCH_STANDARD_HEADERS} <chrono> <filesystem> <fstream> <map> <sstream>
    <thread>)

# The flags that the GoogleTest binaries get on top of the build's own.
function(test_compile_options target)
  if(QUICK_TESTS)
    # Test bodies need no heavy optimisation: the code under test keeps the build's level,
    # and the test binaries build in a fraction of the time (instrumented code at -O1 takes
    # twice as long to compile as at -O0). Under the sanitizers the test bodies also go without line
    # tables: the code under test keeps them, GoogleTest reports its own file and line for a
    # failed check, and a sanitizer report still names the test's functions from the symbols.
    if(SANITIZE)
      target_compile_options(${target} PRIVATE -O0 -g0)
    else()
      target_compile_options(${target} PRIVATE -O1)
    endif()
  endif()
endfunction()

if(PRECOMPILED_HEADERS AND BUILD_TESTS)
  add_library(pch_test OBJECT ${PROJECT_SOURCE_DIR}/cmake/precompiled.cpp)
  target_link_libraries(pch_test PRIVATE GTest::gtest)
  test_compile_options(pch_test)
  target_precompile_headers(pch_test PRIVATE ${PCH_TEST_HEADERS})
endif()

# Makes `target` reuse the precompiled header of its kind: the test one when TEST follows,
# else the one for the libraries and programs.
function(use_precompiled_headers target)
  if(NOT PRECOMPILED_HEADERS)
    return()
  endif()
  if("TEST" IN_LIST ARGN)
    target_precompile_headers(${target} REUSE_FROM pch_test)
  endif()
endfunction()
