# Toolchain for the Windows build, cross-compiled on Debian with mingw-w64 and tested under Wine:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DQUILLET_BUILD_UI=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(quillet_mingw_triple x86_64-w64-mingw32)
# The -posix thread model gives std::thread and std::mutex; the -win32 one does not.
set(CMAKE_C_COMPILER ${quillet_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quillet_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${quillet_mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${quillet_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A program that runs on any Windows without the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, in a prefix of the build's own so that a build never touches the
# user's ~/.wine. WINEPREFIX from the environment wins when it is set at configure time.
if(DEFINED ENV{WINEPREFIX} AND NOT "$ENV{WINEPREFIX}" STREQUAL "")
  set(quillet_wine_prefix "$ENV{WINEPREFIX}")
else()
  set(quillet_wine_prefix "${CMAKE_BINARY_DIR}/wine")
endif()
set(QUILLET_WINE_PREFIX "${quillet_wine_prefix}" CACHE PATH "Wine prefix the tests run in")
find_program(QUILLET_WINE NAMES wine wine64)
if(QUILLET_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${QUILLET_WINE_PREFIX} WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${QUILLET_WINE})
endif()
# Tests are listed when CTest runs, not after each link: a build never needs Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# GoogleTest and nlohmann-json as Debian installs them do not fit the target as they stand.
set(CMAKE_PROJECT_TalvaneQuillet_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/CrossPackages.cmake)

