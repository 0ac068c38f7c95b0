# What a Windows build adds: a C and C++ runtime linked into every program
# (so that the .exe files run on a bare Windows), the import library of the
# driver's FTD2XX.dll generated from d2xx/ftd2xx.def, the virtual tone board
# built as a stand-in FTD2XX.dll, and the release zip.

# Link the runtimes statically: MinGW's libgcc, libstdc++ and winpthread,
# MSVC's static CRT. Only system DLLs and FTD2XX.dll are then imported.
if(MINGW)
  # Release programs carry no symbol tables (-s), which more than halves them.
  add_link_options(-static "$<$<CONFIG:Release,MinSizeRel>:-s>")
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  # The code uses the standard C library (fopen, getenv) on purpose; MSVC
  # would otherwise warn about it, and warnings are errors.
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(pitchime_windows_arch win64)
else()
  # FTD2XX.dll's 32-bit exports are stdcall functions whose import names
  # differ from their symbols (FT_Open@8); d2xx/ftd2xx.def covers x64 only.
  message(FATAL_ERROR "Only 64-bit Windows builds are supported")
endif()

# The import library of FTD2XX.dll, made from our module-definition file,
# so that building needs no file of the driver's maker. At run time the
# loader binds the seven calls to the FTD2XX.dll that the driver installed
# (or to one beside the .exe, which Windows searches first).
set(pitchime_ftd2xx_def ${PROJECT_SOURCE_DIR}/d2xx/ftd2xx.def)
if(MSVC)
  set(pitchime_ftd2xx_implib ${CMAKE_CURRENT_BINARY_DIR}/ftd2xx/ftd2xx.lib)
  add_custom_command(
    OUTPUT ${pitchime_ftd2xx_implib}
    COMMAND ${CMAKE_AR} /nologo /def:${pitchime_ftd2xx_def} /machine:${CMAKE_CXX_COMPILER_ARCHITECTURE_ID}
            /out:${pitchime_ftd2xx_implib}
    DEPENDS ${pitchime_ftd2xx_def}
    COMMENT "Generating the FTD2XX.dll import library"
    VERBATIM)
else()
  if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL NAMES dlltool REQUIRED)
  endif()
  set(pitchime_ftd2xx_implib ${CMAKE_CURRENT_BINARY_DIR}/ftd2xx/libftd2xx.a)
  add_custom_command(
    OUTPUT ${pitchime_ftd2xx_implib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${pitchime_ftd2xx_def} --dllname FTD2XX.dll
            --output-lib ${pitchime_ftd2xx_implib}
    DEPENDS ${pitchime_ftd2xx_def}
    COMMENT "Generating the FTD2XX.dll import library"
    VERBATIM)
endif()
add_custom_target(pitchime_ftd2xx_implib DEPENDS ${pitchime_ftd2xx_implib})

add_library(pitchime_d2xx INTERFACE)
target_link_libraries(pitchime_d2xx INTERFACE ${pitchime_ftd2xx_implib})
add_dependencies(pitchime_d2xx pitchime_ftd2xx_implib)

# The virtual tone board as a stand-in FTD2XX.dll, exporting the seven calls
# under the names of d2xx/ftd2xx.def. It goes into a directory of its own,
# standin/, together with copies of the two programs: a program run from
# there talks to the virtual board, one run from the build directory (or
# from the release zip) to the driver's FTD2XX.dll.
# Silent: the stand-in serves the tests.
add_library(pitchime_vboard_dll SHARED vboard/vboard.cpp vboard/live_audio_off.cpp ${pitchime_ftd2xx_def})
target_include_directories(pitchime_vboard_dll PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(pitchime_vboard_dll PRIVATE pitchime_audio pitchime_platform_native)
set_target_properties(pitchime_vboard_dll PROPERTIES
  OUTPUT_NAME FTD2XX
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin
  # Nothing links against the stand-in; keep its import library apart.
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin/lib)

if(PITCHIME_BOARD STREQUAL "d2xx")
  add_custom_target(pitchime_standin ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:pitchime> $<TARGET_FILE:pitchime-trill>
            $<TARGET_FILE_DIR:pitchime_vboard_dll>
    COMMENT "Placing the programs beside the stand-in FTD2XX.dll"
    VERBATIM)
  add_dependencies(pitchime_standin pitchime pitchime-trill pitchime_vboard_dll)

  # The release: the two programs in pitchime-<version>-win64.zip, made by
  # building the target package-zip.
  set(pitchime_release pitchime-${PROJECT_VERSION}-${pitchime_windows_arch})
  set(pitchime_release_stage ${CMAKE_CURRENT_BINARY_DIR}/release)
  add_custom_target(package-zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${pitchime_release_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pitchime_release_stage}/${pitchime_release}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:pitchime> $<TARGET_FILE:pitchime-trill>
            ${pitchime_release_stage}/${pitchime_release}
    COMMAND ${CMAKE_COMMAND} -E chdir ${pitchime_release_stage}
            ${CMAKE_COMMAND} -E tar cf ${CMAKE_CURRENT_BINARY_DIR}/${pitchime_release}.zip --format=zip
            ${pitchime_release}
    COMMENT "Packing ${pitchime_release}.zip"
    VERBATIM)
  add_dependencies(package-zip pitchime pitchime-trill)
endif()
