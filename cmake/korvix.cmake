# Shared helpers for the project's CMake files.

# korvix_library(NAME [DEPS ...]): a static library from every .cpp in the
# current folder; the folder is its public include directory.
function(korvix_library name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  if(K_DEPS)
    target_link_libraries(${name} PUBLIC ${K_DEPS})
  endif()
endfunction()

# korvix_install(NAME [DESTINATION DIR]): `cmake --install` puts the program
# into the programs' folder under the prefix (bin), or into DIR. The program
# carries the C++ runtime in itself: loading and relocating the shared one
# took a quarter of a short run (a page of webtally). Not under the
# sanitizers, whose runtime takes the place of parts of it.
function(korvix_install name)
  cmake_parse_arguments(K "" "DESTINATION" "" ${ARGN})
  if(NOT K_DESTINATION)
    set(K_DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  if(NOT KORVIX_SANITIZE AND NOT KORVIX_FUZZ)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${K_DESTINATION})
endfunction()

# korvix_program(NAME [DEPS ...]): a program from every .cpp in the current
# folder, built into build/bin and installed into bin.
function(korvix_program name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  if(K_DEPS)
    target_link_libraries(${name} PRIVATE ${K_DEPS})
  endif()
  korvix_install(${name})
endfunction()

# korvix_test_dir(NAME DEPS ...): one GoogleTest binary NAME_tests from every
# *_test.cpp in the current folder (with the folder's other .cpp files as
# shared test code), each test registered with CTest. Every
# drivers/X.cpp becomes a test-only program X in build/bin, linked with DEPS,
# for tests that need the library inside a separate process.
function(korvix_test_dir name)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  file(GLOB drivers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/drivers/*.cpp)
  foreach(d ${drivers})
    get_filename_component(dn ${d} NAME_WE)
    add_executable(${dn} ${d})
    target_link_libraries(${dn} PRIVATE ${K_DEPS})
  endforeach()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT srcs)
    return()
  endif()
  file(GLOB shared CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(REMOVE_ITEM shared ${srcs})
  list(APPEND srcs ${shared})
  add_executable(${name}_tests ${srcs})
  target_link_libraries(${name}_tests PRIVATE ${K_DEPS} testsupport GTest::gtest_main)
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60)
endfunction()

# korvix_fuzz_target(NAME [SOURCES ...] [INCLUDES ...] [DEPS ...]): the fuzz
# entry point fuzz_NAME.cpp of the current folder with the folder's
# fuzz_support.cpp and the sources given. With KORVIX_FUZZ (clang) it is a
# libFuzzer program; otherwise a program that replays every file of
# corpus/NAME and reproducers/NAME, registered with CTest as
# fuzz_replay_NAME.
function(korvix_fuzz_target name)
  cmake_parse_arguments(K "" "" "SOURCES;INCLUDES;DEPS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  set(srcs ${dir}/fuzz_${name}.cpp ${dir}/fuzz_support.cpp ${K_SOURCES})
  if(KORVIX_FUZZ)
    add_executable(fuzz_${name} ${srcs})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets fuzz_${name})
  else()
    add_executable(fuzz_${name} ${srcs} ${dir}/replay_main.cpp)
    add_test(NAME fuzz_replay_${name} COMMAND fuzz_${name} ${dir}/corpus/${name} ${dir}/reproducers/${name})
    set_tests_properties(fuzz_replay_${name} PROPERTIES TIMEOUT 300)
  endif()
  target_include_directories(fuzz_${name} PRIVATE ${dir} ${K_INCLUDES})
  target_link_libraries(fuzz_${name} PRIVATE ${K_DEPS})
endfunction()
