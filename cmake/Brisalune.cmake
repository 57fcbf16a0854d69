# One static library per part: public headers under <part>/include/brisalune/<part>/,
# sources in <part>/src/. New files are picked up without editing any list.
function(brisalune_library name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/src/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${dir}/include)
    target_link_libraries(${name} ${ARGN})
  else()  # a part whose first source has not been written yet
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${dir}/include)
  endif()
endfunction()

# One GoogleTest program per test folder; every TEST becomes its own ctest case.
function(brisalune_tests name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
