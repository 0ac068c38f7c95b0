# The folders of the product code in layers, lowest first. A folder may
# include headers of its own layer and of the layers below it, never above.
# The top-level CMakeLists.txt adds the folders in this order; a new folder
# is one more name in its layer here (and its CMakeLists.txt).
set(pitchime_layers
  "score d2xx platform midi midiin queue voicing"
  "console"
  "board vboard"
  "playback"
  "session render importer live"
  "apps")

# pitchime_folders: every folder, lowest layer first;
# pitchime_layer_of_FOLDER: the index of FOLDER's layer.
set(pitchime_folders "")
set(index 0)
foreach(layer IN LISTS pitchime_layers)
  string(REPLACE " " ";" folders "${layer}")
  foreach(folder IN LISTS folders)
    list(APPEND pitchime_folders ${folder})
    set(pitchime_layer_of_${folder} ${index})
  endforeach()
  math(EXPR index "${index} + 1")
endforeach()

# Chooses, for one program, what answers the two link-time seams: the D2XX
# calls (pitchime_vboard, pitchime_d2xx_ftdi or pitchime_d2xx_dll) and the
# platform (pitchime_platform_native or pitchime_platform_virtual). The
# libraries that use a seam link pitchime_d2xx or pitchime_platform, which
# bring in what the program chose here.
function(pitchime_choose_seams target d2xx platform)
  set_target_properties(${target} PROPERTIES PITCHIME_D2XX "${d2xx}" PITCHIME_PLATFORM "${platform}")
endfunction()

# Run as a script, `cmake -P cmake/layers.cmake` (the test "layers"): reads
# every source of every folder for #include "FOLDER/..." and fails with one
# line for each include of a folder above the includer's layer.
if(CMAKE_SCRIPT_MODE_FILE)
  get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(problems "")
  foreach(folder IN LISTS pitchime_folders)
    file(GLOB_RECURSE sources "${root}/${folder}/*.h" "${root}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
      foreach(line IN LISTS includes)
        string(REGEX MATCH "\"([A-Za-z0-9_]+)/[^\"]*\"" included "${line}")
        set(target_folder "${CMAKE_MATCH_1}")
        if(DEFINED pitchime_layer_of_${target_folder}
           AND pitchime_layer_of_${target_folder} GREATER pitchime_layer_of_${folder})
          file(RELATIVE_PATH where "${root}" "${source}")
          string(APPEND problems
            "\n  ${where} includes ${included}: ${target_folder}/ is in a layer above ${folder}/")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    string(REPLACE ";" " | " order "${pitchime_layers}")
    message(FATAL_ERROR "Includes against the layers (lowest first: ${order}):${problems}")
  endif()
  message(STATUS "Every include of ${root} keeps to the layers")
endif()
