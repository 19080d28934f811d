# Cross-compiles for 32-bit Windows (the host's machines) with Debian's mingw-w64.
set(SA_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
