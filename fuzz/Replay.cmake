# The fuzz targets as tests of the suite: each is replayed over its corpus and
# a fixed set of mutations of it, with the suite's compiler and sanitizers
# (fuzz/ReplayMain.cpp). Included from tests/CMakeLists.txt.
set(VELTRIX_FUZZ_TARGETS "Params:params" "SceneFile:scene")
foreach(entry ${VELTRIX_FUZZ_TARGETS})
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 name)
  list(GET parts 1 corpus)
  set(source ${CMAKE_SOURCE_DIR}/fuzz/${name}Fuzz.cpp)
  if(NOT EXISTS ${source})
    continue()
  endif()
  add_executable(fuzz_replay_${corpus} ${source} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_include_directories(fuzz_replay_${corpus} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(fuzz_replay_${corpus} PRIVATE veltrix_effect veltrix_host_composition)
  add_test(NAME fuzz_replay_${corpus}
    COMMAND fuzz_replay_${corpus} --mutations 3000 ${CMAKE_SOURCE_DIR}/fuzz/corpus/${corpus})
endforeach()
