# What a Windows build adds to every program: a C and C++ runtime linked in,
# so that the .exe files run on a bare Windows. The import library of the
# driver's FTD2XX.dll is made in d2xx/, the virtual board's stand-in
# FTD2XX.dll in vboard/; CPack makes the release zip (cmake/packaging.cmake).

# Link the runtimes statically: MinGW's libgcc, libstdc++ and winpthread,
# MSVC's static CRT. Only system DLLs and FTD2XX.dll are then imported.
if(MINGW)
  # Release programs carry no symbol tables (-s), which more than halves them.
  add_link_options(-static "$<$<CONFIG:Release,MinSizeRel>:-s>")
  # std::counting_semaphore on MinGW: GCC 12's libstdc++ builds it on its
  # generic atomic wait, a mutex and condition variable pool, which now and
  # then misses a wake-up (the live player's playing thread then sleeps
  # for ever). This switch builds it on winpthreads' sem_t instead: a
  # kernel semaphore whose post is never lost.
  add_compile_definitions(_GLIBCXX_USE_POSIX_SEMAPHORE=1)
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
