# libFuzzer targets: one program per fuzz/<name>_fuzzer.cpp, named
# <name>_fuzzer, in the top of the build folder (scripts/fuzz builds and runs
# them). Each links the libraries of the layers that it and its
# fuzz/<name>_fuzz_entry.h include, so a new target needs no edit here.
# Included from the top-level CMakeLists.txt after the libraries.
file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzzer.cpp)
foreach(fuzzer ${fuzzers})
  get_filename_component(stem ${fuzzer} NAME_WE)
  string(REGEX REPLACE "_fuzzer$" "" name ${stem})
  set(readers ${fuzzer})
  set(entry ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzz_entry.h)
  if(EXISTS ${entry})
    list(APPEND readers ${entry})
  endif()
  set(layers)
  foreach(reader ${readers})
    # What the file includes decides what the target links: configure again
    # when it changes.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${reader})
    file(STRINGS ${reader} includes REGEX "^#include \"[a-z]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" layer "${line}")
      if(TARGET zarvik_${layer})
        list(APPEND layers zarvik_${layer})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES layers)
  add_executable(${stem} ${fuzzer})
  target_include_directories(${stem} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
  target_link_libraries(${stem} PRIVATE ${layers})
  target_link_options(${stem} PRIVATE -fsanitize=fuzzer)
endforeach()
