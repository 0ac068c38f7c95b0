# Cross build for 64-bit Windows with MinGW-w64 from a Linux host
# (Debian: g++-mingw-w64-x86-64-posix, mingw-w64-tools; wine to run the
# results). cmake/windows.cmake links libgcc, libstdc++ and winpthread
# statically, so the .exe files need nothing on a bare Windows but the
# system DLLs and the driver's FTD2XX.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(PITCHIME_MINGW_TRIPLET x86_64-w64-mingw32)

# The posix thread model gives std::thread and std::mutex; prefer it over
# the win32 one where both are installed.
find_program(CMAKE_C_COMPILER NAMES ${PITCHIME_MINGW_TRIPLET}-gcc-posix ${PITCHIME_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${PITCHIME_MINGW_TRIPLET}-g++-posix ${PITCHIME_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PITCHIME_MINGW_TRIPLET}-windres)
find_program(CMAKE_DLLTOOL NAMES ${PITCHIME_MINGW_TRIPLET}-dlltool REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${PITCHIME_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
