# GoogleTest from Debian's sources, built with the project's compiler (also the
# MinGW cross compiler), so native and Windows tests use the same framework.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# add_gtest(name sources... LIBS libs...): one test binary, run once by CTest,
# writing its results as XML for the summary.
function(add_gtest name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  # Windows binaries run under Wine, which sees the build tree through drive Z:.
  set(results ${CMAKE_BINARY_DIR}/test-results/${name}.xml)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    set(results Z:${results})
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${results})
endfunction()
