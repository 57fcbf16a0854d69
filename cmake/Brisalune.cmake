# Headers nearly every source reads, compiled once per target.
set(BRISALUNE_COMMON_HEADERS <string> <vector> <map> <optional> <memory> <functional> <chrono> <variant>
    <simdjson.h>)

# One static library per part: public headers under <part>/include/brisalune/<part>/,
# sources in <part>/src/. New files are picked up without editing any list.
function(brisalune_library name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/src/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${dir}/include)
    target_link_libraries(${name} ${ARGN})
    target_precompile_headers(${name} PRIVATE ${BRISALUNE_COMMON_HEADERS})
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
  target_precompile_headers(${name} PRIVATE ${BRISALUNE_COMMON_HEADERS} <gtest/gtest.h> <gmock/gmock.h>)
  include(GoogleTest)
  # Cases that stop the shared keyring daemon for a while run alone, so no other case waits on it.
  # A case's bound is for a hang: on a busy machine the two-process and stopped-keyring cases have
  # taken up to 80 s, and none may come within half its bound.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "-*Keyring*" PROPERTIES TIMEOUT 240)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "*Keyring*" PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE)
endfunction()

# Every public header compiles on its own: one generated source per header, built as an object
# library beside the part.
function(brisalune_header_check library dir)
  if(NOT BRISALUNE_HEADER_CHECK)
    return()
  endif()
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${dir}/include ${dir}/include/*.hpp)
  set(sources)
  foreach(header ${headers})
    string(MAKE_C_IDENTIFIER ${header} stem)
    set(source ${CMAKE_CURRENT_BINARY_DIR}/header_check/${stem}.cpp)
    if(NOT EXISTS ${source})
      file(WRITE ${source} "#include <${header}>\n")
    endif()
    list(APPEND sources ${source})
  endforeach()
  if(sources)
    add_library(${library}_headers OBJECT ${sources})
    target_link_libraries(${library}_headers PRIVATE ${library})
  endif()
endfunction()
