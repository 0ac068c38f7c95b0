# The tests written with GoogleTest, included from tests/CMakeLists.txt when
# GoogleTest is found. Each row of their tables (support/cases.h) is a case
# of its own; the tables are read when a test program lists its cases, right
# after it is built, so a table's change rebuilds the one source that reads
# it, and its rows are listed anew.
include(GoogleTest)
foreach(source_and_tables IN ITEMS
        "board_test.cpp data/divisors.txt data/frames.txt"
        "audio_test.cpp data/pit8254.txt data/wav.txt"
        "vboard_test.cpp data/vboard_traces.txt"
        "player_test.cpp data/sessions.txt"
        "e2e_test.cpp e2e/cases.txt hostile/expected.txt"
        "live_audio_test.cpp live_audio/cases.txt"
        "live_test.cpp data/live.txt"
        "midiin_test.cpp data/midi_input.txt")
  string(REPLACE " " ";" tables "${source_and_tables}")
  list(POP_FRONT tables source)
  list(TRANSFORM tables PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS "${tables}")
endforeach()

# In-process tests: the shared code against the virtual board in virtual time.
add_executable(unit_tests
  score_test.cpp
  board_test.cpp
  vboard_test.cpp
  player_test.cpp
  audio_test.cpp
  support/sound.cpp
  console_test.cpp
  support/trace.cpp
  live_test.cpp
  midiin_test.cpp
)
target_include_directories(unit_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(unit_tests PRIVATE pitchime_session pitchime_live pitchime_midiin_ports pitchime_vboard
                                         GTest::gtest_main)
pitchime_choose_seams(unit_tests pitchime_vboard pitchime_platform_virtual)
target_compile_definitions(unit_tests PRIVATE PITCHIME_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# NO_PRETTY_VALUES: a case's ctest name is SUITE.TEST/ROW, without the row's text.
gtest_discover_tests(unit_tests NO_PRETTY_VALUES)

# End-to-end tests: the built programs run as a user runs them, the cases
# read from e2e/cases.txt and hostile/expected.txt; the rendered sound.
# PITCHIME_WINE empty: the programs are started directly, not through wine.
add_executable(e2e_tests e2e_test.cpp render_test.cpp support/run.cpp support/sound.cpp support/trace.cpp)
target_include_directories(e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(e2e_tests PRIVATE GTest::gtest_main)
target_compile_definitions(e2e_tests PRIVATE
  PITCHIME_BIN_DIR="$<TARGET_FILE_DIR:pitchime>"
  PITCHIME_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  PITCHIME_WINE="" PITCHIME_WINE_PROGRAMS="" PITCHIME_WINE_PREFIX="")
add_dependencies(e2e_tests pitchime pitchime-trill pitchime-live pitchime-render)
# Live audio, where built in, plays to SDL's dummy driver: silent, and
# nothing on standard error.
set(live_audio_environment ENVIRONMENT SDL_AUDIODRIVER=dummy)
# Sanitized programs start and run slower: generous limits, never reached
# by a run that works.
gtest_discover_tests(e2e_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 300 ${live_audio_environment})

# The same end-to-end tests, and those of the Windows console, against the
# Windows programs run under wine: PITCHIME_WINE_PROGRAMS names the standin/
# directory of a 64-bit Windows build (build/mingw/standin after the mingw
# preset), where both .exe files sit beside the stand-in FTD2XX.dll.
set(PITCHIME_WINE_PROGRAMS "" CACHE PATH "standin/ directory of a Windows build, to run the end-to-end tests under wine")
if(PITCHIME_WINE_PROGRAMS)
  # Debian installs the 64-bit loader as /usr/lib/wine/wine64, off the PATH.
  find_program(PITCHIME_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
  find_program(PITCHIME_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
  set(wine_prefix ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)

  add_executable(wine_e2e_tests e2e_test.cpp support/run.cpp support/trace.cpp)
  target_include_directories(wine_e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(wine_e2e_tests PRIVATE GTest::gtest_main)
  target_compile_definitions(wine_e2e_tests PRIVATE
    PITCHIME_BIN_DIR=""
    PITCHIME_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    PITCHIME_WINE="${PITCHIME_WINE}"
    PITCHIME_WINE_PROGRAMS="${PITCHIME_WINE_PROGRAMS}"
    PITCHIME_WINE_PREFIX="${wine_prefix}")

  # The prefix is made, and a wineserver started, once before the tests.
  set(wine_prefix_script ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh)
  add_test(NAME wine.prefix
    COMMAND sh ${wine_prefix_script} start ${PITCHIME_WINE} ${PITCHIME_WINESERVER} ${wine_prefix} ${PITCHIME_WINE_PROGRAMS})
  add_test(NAME wine.stop COMMAND sh ${wine_prefix_script} stop ${PITCHIME_WINE} ${PITCHIME_WINESERVER} ${wine_prefix})
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
  gtest_discover_tests(wine_e2e_tests TEST_PREFIX wine. NO_PRETTY_VALUES PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120)
endif()

# The programs' live sound, when they have it, recorded by SDL's disk driver
# (live audio runs in every other test too, under SDL's dummy driver).
if(PITCHIME_LIVE_AUDIO_SDL)
  add_executable(live_audio_tests live_audio_test.cpp support/run.cpp support/sound.cpp)
  target_include_directories(live_audio_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(live_audio_tests PRIVATE GTest::gmock GTest::gtest_main)
  target_compile_definitions(live_audio_tests PRIVATE
    PITCHIME_BIN_DIR="$<TARGET_FILE_DIR:pitchime>"
    PITCHIME_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(live_audio_tests pitchime)
  gtest_discover_tests(live_audio_tests NO_PRETTY_VALUES PROPERTIES TIMEOUT 120)
endif()
