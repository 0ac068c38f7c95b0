# Live audio of the virtual tone board (vboard/live_audio.h). Included from
# vboard/CMakeLists.txt once pitchime_vboard, the silent board, is defined. PITCHIME_LIVE_AUDIO:
#   AUTO  through SDL2 when it is found and the programs run on the virtual
#         board (default)
#   ON    through SDL2; configuring fails without it
#   OFF   silent
# Defines pitchime_vboard_live, the board the two programs link: the same
# objects with the SDL2 implementation in place of the silent one, or
# pitchime_vboard itself when live audio is off.
set(PITCHIME_LIVE_AUDIO "AUTO" CACHE STRING "Play the virtual board live through SDL2: AUTO, ON or OFF")
set_property(CACHE PITCHIME_LIVE_AUDIO PROPERTY STRINGS AUTO ON OFF)

if(PITCHIME_LIVE_AUDIO STREQUAL "ON")
  find_package(SDL2 CONFIG REQUIRED)
elseif(PITCHIME_LIVE_AUDIO STREQUAL "AUTO" AND PITCHIME_BOARD STREQUAL "virtual")
  find_package(SDL2 CONFIG QUIET)
elseif(PITCHIME_LIVE_AUDIO STREQUAL "AUTO" OR PITCHIME_LIVE_AUDIO STREQUAL "OFF")
  set(SDL2_FOUND FALSE)
else()
  message(FATAL_ERROR "PITCHIME_LIVE_AUDIO=${PITCHIME_LIVE_AUDIO}: use AUTO, ON or OFF")
endif()

if(SDL2_FOUND)
  add_library(pitchime_vboard_live STATIC open_failure.cpp live_audio_sdl.cpp)
  target_link_libraries(pitchime_vboard_live PUBLIC pitchime_vboard_objects PRIVATE pitchime_queue SDL2::SDL2)
  message(STATUS "Live audio of the virtual board: SDL2 ${SDL2_VERSION}")
else()
  add_library(pitchime_vboard_live ALIAS pitchime_vboard)
  message(STATUS "Live audio of the virtual board: off")
endif()
