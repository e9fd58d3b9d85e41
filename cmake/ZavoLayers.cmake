include_guard(GLOBAL)

# The helpers every layer's CMakeLists.txt uses: each layer is one library
# whose sources are listed one a line; its tests are listed the same way and
# gathered into the one test program.

if(WIN32)
  set(ZAVO_PLATFORM win32)
else()
  set(ZAVO_PLATFORM posix)
endif()

# zavo_tests(file...): test sources of this folder for every platform.
function(zavo_tests)
  foreach(f ${ARGN})
    set_property(GLOBAL APPEND PROPERTY ZAVO_TEST_SOURCES
                 ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
endfunction()

# zavo_platform_tests(posix|win32 file...): test sources of one platform.
function(zavo_platform_tests platform)
  if(platform STREQUAL ZAVO_PLATFORM)
    zavo_tests(${ARGN})
  endif()
endfunction()
