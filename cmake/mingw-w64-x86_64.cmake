# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads:
# the win32-threads compilers have no std::mutex). The -posix names are used
# on purpose: the plain x86_64-w64-mingw32-g++ follows whichever variant was
# installed last.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# A Qt for MinGW-w64 (tools/build-qt-mingw) is found where S2Q_QT_PREFIX
# names it; its host tools come from the Linux Qt (QT_HOST_PATH=/usr).
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${S2Q_QT_PREFIX})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES S2Q_QT_PREFIX)
if(S2Q_QT_PREFIX)
  set(CMAKE_PREFIX_PATH ${S2Q_QT_PREFIX})
  set(QT_HOST_PATH /usr CACHE PATH "")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run under Wine (tools/wine-run), also for gtest_discover_tests.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
