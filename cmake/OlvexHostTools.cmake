# Tools that run on the build host while the build runs. Defines
#   OLVEX_LZ_COMMAND  the olvex-lz program to call from custom commands
#   OLVEX_LZ_DEPENDS  what a custom command calling it depends on
# A native build makes olvex-lz an ordinary target. A cross build (mingw) cannot
# run its own programs, so it compiles olvex-lz with the host's C++ compiler
# into host/ of the build folder; the tool needs only the standard library.
set(OLVEX_LZ_SOURCES ${CMAKE_SOURCE_DIR}/tools/olvex_lz.cpp ${CMAKE_SOURCE_DIR}/tools/lz_encoder.cpp)
set(OLVEX_LZ_HEADERS ${CMAKE_SOURCE_DIR}/tools/lz_encoder.h ${CMAKE_SOURCE_DIR}/engine/compress.h)

if(CMAKE_CROSSCOMPILING)
  find_program(OLVEX_HOST_CXX NAMES c++ g++ clang++
               DOC "C++20 compiler of the build host, for the tools the build runs")
  if(NOT OLVEX_HOST_CXX)
    message(FATAL_ERROR "A cross build needs a C++ compiler for the build host (c++, g++ or clang++) "
                        "to build olvex-lz; set OLVEX_HOST_CXX to one.")
  endif()
  set(OLVEX_LZ_COMMAND ${CMAKE_BINARY_DIR}/host/olvex-lz)
  add_custom_command(
    OUTPUT ${OLVEX_LZ_COMMAND}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${OLVEX_HOST_CXX} -std=c++20 -O2 -I${CMAKE_SOURCE_DIR} ${OLVEX_LZ_SOURCES} -o ${OLVEX_LZ_COMMAND}
    DEPENDS ${OLVEX_LZ_SOURCES} ${OLVEX_LZ_HEADERS}
    COMMENT "Building olvex-lz for the build host"
    VERBATIM)
  set(OLVEX_LZ_DEPENDS ${OLVEX_LZ_COMMAND})
else()
  add_executable(olvex-lz ${OLVEX_LZ_SOURCES})
  target_include_directories(olvex-lz PRIVATE ${CMAKE_SOURCE_DIR})
  set(OLVEX_LZ_COMMAND $<TARGET_FILE:olvex-lz>)
  set(OLVEX_LZ_DEPENDS olvex-lz)
endif()
