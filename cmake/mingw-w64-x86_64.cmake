# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the build these
# machines run under Wine).
set(SA_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
