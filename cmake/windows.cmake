# What a Windows build adds: a C and C++ runtime linked into every program
# (so that the .exe files run on a bare Windows), the import library of the
# driver's FTD2XX.dll generated from d2xx/ftd2xx.def, and the programs placed
# beside the virtual tone board's stand-in FTD2XX.dll (vboard/CMakeLists.txt).
# CPack makes the release zip (cmake/packaging.cmake).

# Link the runtimes statically: MinGW's libgcc, libstdc++ and winpthread,
# MSVC's static CRT. Only system DLLs and FTD2XX.dll are then imported.
if(MINGW)
  # Release programs carry no symbol tables (-s), which more than halves them.
  add_link_options(-static "$<$<CONFIG:Release,MinSizeRel>:-s>")
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  # The code uses the standard C library (fopen, getenv) on purpose; MSVC
  # would otherwise warn about it.
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

add_library(pitchime_d2xx_dll INTERFACE)
target_link_libraries(pitchime_d2xx_dll INTERFACE ${pitchime_ftd2xx_implib})
# What the driver's status codes mean, for the programs' failure messages.
target_sources(pitchime_d2xx_dll INTERFACE ${PROJECT_SOURCE_DIR}/d2xx/vendor_status.cpp)
add_dependencies(pitchime_d2xx_dll pitchime_ftd2xx_implib)

# A program run from standin/ talks to the virtual board, one run from the
# build directory (or from the release zip) to the driver's FTD2XX.dll.
if(PITCHIME_BOARD STREQUAL "d2xx")
  add_custom_target(pitchime_standin ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:pitchime> $<TARGET_FILE:pitchime-trill>
            $<TARGET_FILE_DIR:pitchime_vboard_dll>
    COMMENT "Placing the programs beside the stand-in FTD2XX.dll"
    VERBATIM)
  add_dependencies(pitchime_standin pitchime pitchime-trill pitchime_vboard_dll)
endif()
