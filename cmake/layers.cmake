# The folders of the product code in layers, lowest first. A folder may
# include headers of its own layer and of the layers below it, never above;
# pitchime_check_layers() refuses, when configuring, a source that does.
# A new folder is one more name in its layer here (and its CMakeLists.txt).
set(pitchime_layers
  "score d2xx platform midi midiin"
  "common"
  "board vboard"
  "playback"
  "session render importer live"
  "apps")

# Reads every source of every folder of the layers for #include "FOLDER/..."
# and stops configuring with one line for each include of a folder above the
# includer's layer. Each source is a configure dependency, so a build after
# an edit that breaks the layering configures again, and fails.
function(pitchime_check_layers)
  set(index 0)
  foreach(layer IN LISTS pitchime_layers)
    string(REPLACE " " ";" folders "${layer}")
    foreach(folder IN LISTS folders)
      set(layer_of_${folder} ${index})
    endforeach()
    math(EXPR index "${index} + 1")
  endforeach()

  set(problems "")
  set(index 0)
  foreach(layer IN LISTS pitchime_layers)
    string(REPLACE " " ";" folders "${layer}")
    foreach(folder IN LISTS folders)
      file(GLOB_RECURSE sources CONFIGURE_DEPENDS
           "${PROJECT_SOURCE_DIR}/${folder}/*.h" "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
      foreach(source IN LISTS sources)
        set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
        foreach(line IN LISTS includes)
          string(REGEX MATCH "\"([A-Za-z0-9_]+)/[^\"]*\"" included "${line}")
          set(target_folder "${CMAKE_MATCH_1}")
          if(DEFINED layer_of_${target_folder} AND layer_of_${target_folder} GREATER index)
            file(RELATIVE_PATH where "${PROJECT_SOURCE_DIR}" "${source}")
            string(APPEND problems
              "\n  ${where} includes ${included}: ${target_folder}/ is in a layer above ${folder}/")
          endif()
        endforeach()
      endforeach()
    endforeach()
    math(EXPR index "${index} + 1")
  endforeach()

  if(problems)
    string(REPLACE ";" " | " order "${pitchime_layers}")
    message(FATAL_ERROR "Includes against the layers (lowest first: ${order}):${problems}")
  endif()
endfunction()

# Chooses, for one program, what answers the two link-time seams: the D2XX
# calls (pitchime_vboard, pitchime_d2xx_ftdi or pitchime_d2xx_dll) and the
# platform (pitchime_platform_native or pitchime_platform_virtual). The
# libraries that use a seam link pitchime_d2xx or pitchime_platform, which
# bring in what the program chose here.
function(pitchime_choose_seams target d2xx platform)
  set_target_properties(${target} PROPERTIES PITCHIME_D2XX "${d2xx}" PITCHIME_PLATFORM "${platform}")
endfunction()
