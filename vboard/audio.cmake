# The sound side of the virtual tone board: the 8254 model, the speaker, the
# WAV writer and the recording that joins them to the board's register
# writes. Included from the top-level CMakeLists.txt; defines
#   pitchime_audio                 static library (include root: the repository)
#   pitchime_audio_test_sources    GoogleTest sources of these files
#   pitchime_render_bench          render speed benchmark, with PITCHIME_BUILD_BENCHMARKS when
#                                  Google Benchmark is found
#                                  (also of whole scores: needs the pitchime_render library)
get_filename_component(pitchime_audio_root "${CMAKE_CURRENT_LIST_DIR}" DIRECTORY)

add_library(pitchime_audio STATIC
  ${pitchime_audio_root}/vboard/pit8254.cpp
  ${pitchime_audio_root}/vboard/recording.cpp
  ${pitchime_audio_root}/vboard/speaker.cpp
  ${pitchime_audio_root}/vboard/wav.cpp
)
target_include_directories(pitchime_audio PUBLIC ${pitchime_audio_root})

set(pitchime_audio_test_sources ${pitchime_audio_root}/tests/audio_test.cpp)

if(PITCHIME_BUILD_BENCHMARKS)
  find_package(benchmark QUIET)
endif()
if(benchmark_FOUND)
  add_executable(pitchime_render_bench ${pitchime_audio_root}/bench/render_bench.cpp)
  target_link_libraries(pitchime_render_bench PRIVATE pitchime_audio pitchime_render benchmark::benchmark)
  target_compile_definitions(pitchime_render_bench PRIVATE PITCHIME_SOURCE_DIR="${pitchime_audio_root}")
endif()
