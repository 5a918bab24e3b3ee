# Cross-builds the Windows executables with mingw-w64 (posix thread model, for std::thread) and
# runs them through Wine, so ctest runs the Windows tests here. Static linking: the programs need
# no DLL of the compiler's beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LODESTAR_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${LODESTAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LODESTAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LODESTAR_MINGW_TRIPLE}-windres)

# Beside the packaged mingw libraries, those scripts/setup cross-builds (libzstd).
get_filename_component(LODESTAR_MINGW_CACHE ${CMAKE_CURRENT_LIST_DIR}/../.cache/mingw-w64 ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${LODESTAR_MINGW_TRIPLE} ${LODESTAR_MINGW_CACHE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks only at the cross libraries (libgcrypt's mingw build).
set(ENV{PKG_CONFIG_LIBDIR} /usr/${LODESTAR_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
