# Every #include of src/ and tools/ is checked against the layer arrows
# (scripts/check-includes.py) before any of their code is compiled. All
# targets share one include root (src/, as "layer/File.h"), so it is this
# check, not the include path, that keeps a wrong arrow from building; every
# target that compiles code of src/ or tools/ depends on it.
function(quillory_include_check)
  set(stamp ${CMAKE_BINARY_DIR}/include-arrows.stamp)
  file(GLOB_RECURSE checked CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.cpp
       ${PROJECT_SOURCE_DIR}/src/*.mm ${PROJECT_SOURCE_DIR}/tools/*.h ${PROJECT_SOURCE_DIR}/tools/*.cpp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/check-includes.py --stamp ${stamp}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/check-includes.py ${checked}
    COMMENT "Checking every #include against the layer arrows" VERBATIM)
  add_custom_target(quillory_include_arrows DEPENDS ${stamp})
endfunction()

# On Apple, removes from the list variable `var` (absolute paths) the
# Linux-only sources named in cmake/LinuxOnlySources.txt (a line ending in
# "/" names a folder); elsewhere leaves it as it is.
function(quillory_drop_linux_only var)
  if(NOT APPLE)
    return()
  endif()
  set(list_file ${PROJECT_SOURCE_DIR}/cmake/LinuxOnlySources.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  file(STRINGS ${list_file} entries REGEX "^[^#]")
  set(kept)
  foreach(source IN LISTS ${var})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${source})
    set(drop FALSE)
    foreach(entry IN LISTS entries)
      string(STRIP "${entry}" entry)
      string(FIND "${relative}" "${entry}" at)
      if((entry MATCHES "/$" AND at EQUAL 0) OR relative STREQUAL entry)
        set(drop TRUE)
      endif()
    endforeach()
    if(NOT drop)
      list(APPEND kept ${source})
    endif()
  endforeach()
  set(${var} ${kept} PARENT_SCOPE)
endfunction()

# One library target per folder of src/, built from every .cpp in it. DEPS
# are linked PUBLIC (what its headers need), PRIVATE_DEPS only by it.
function(quillory_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS;PRIVATE_DEPS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB dir_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/*.cpp)
    list(APPEND sources ${dir_sources})
  endforeach()
  quillory_drop_linux_only(sources)
  add_library(${name} STATIC ${sources} ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS} quillory_warnings)
  add_dependencies(${name} quillory_include_arrows)
endfunction()

# One GoogleTest binary per folder of tests/.
function(quillory_test_binary name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${dir}/*.cpp)
  quillory_drop_linux_only(test_sources)
  if(NOT test_sources)
    return()
  endif()
  add_executable(${name} ${test_sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} quillory_test_support GTest::gmock_main quillory_warnings)
  # A hung test fails after five minutes instead of CTest's default 25.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${dir} TIMEOUT 300)
endfunction()
