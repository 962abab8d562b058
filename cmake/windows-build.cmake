# The Windows build: the whole portable core (shell, settings and the INI
# store, recording control, capture targets, frame intake, conversion,
# encoder and audio core) with the Win32 backends, frelvanta.exe and the
# core's unit tests. Sound comes from the audio endpoint services; files
# are written by the bundled FFmpeg writer when FRELVANTA_WIN_FFMPEG names
# its cross-built libraries. Nothing here needs Qt, PulseAudio or xcb.
set(FRELVANTA_BENCH OFF)
find_package(Threads REQUIRED)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# MinGW's printf checks know only the C runtime's formats; the core's
# formats are standard C.
add_compile_options(-Wno-format)

set(SRC ${PROJECT_SOURCE_DIR}/src)
# The core files of a subsystem folder (not its subfolders) plus its Win32
# backend; `exclude` names core files that need what this build lacks.
# `depends` lists the libraries below it that it calls, as on Linux
# (src/README.md).
function(fv_win32_library name dir)
  cmake_parse_arguments(L "" "" "EXCLUDE;DEPENDS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${SRC}/${dir}/*.cpp ${SRC}/${dir}/win32/*.cpp)
  foreach(x ${L_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "/${dir}/${x}$")
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${SRC})
  target_link_libraries(${name} PUBLIC ${L_DEPENDS} Threads::Threads)
endfunction()

fv_win32_library(fv_platform platform)
target_link_libraries(fv_platform PUBLIC synchronization shell32 ole32 uuid)
fv_win32_library(fv_core core DEPENDS fv_platform)
fv_win32_library(fv_settings settings DEPENDS fv_core fv_platform)
fv_win32_library(fv_dialogs dialogs DEPENDS fv_settings fv_core fv_platform)
# The dialog host (dialog manager, clipboard, folder picker, links) and the
# update check's request.
target_link_libraries(fv_dialogs PUBLIC user32 gdi32 shell32 ole32 uuid winhttp)
# What the build names for the dialogs: the revision in the settings title,
# the About links and the donation addresses, the update server.
execute_process(COMMAND git rev-parse --short HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE FV_REVISION OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT FV_REVISION)
  set(FV_REVISION "unknown")
endif()
set_source_files_properties(${SRC}/dialogs/settings_template.cpp PROPERTIES
  COMPILE_DEFINITIONS "FRELVANTA_REVISION=\"${FV_REVISION}\"")
set_source_files_properties(${SRC}/dialogs/info_dialogs.cpp PROPERTIES
  COMPILE_DEFINITIONS "FRELVANTA_PROJECT_URL=\"${FRELVANTA_PROJECT_URL}\";FRELVANTA_CONTRIBUTOR_NAME=\"${FRELVANTA_CONTRIBUTOR_NAME}\";FRELVANTA_CONTRIBUTOR_URL=\"${FRELVANTA_CONTRIBUTOR_URL}\";FRELVANTA_DONATE_BTC=\"${FRELVANTA_DONATE_BTC}\";FRELVANTA_DONATE_ETH=\"${FRELVANTA_DONATE_ETH}\";FRELVANTA_DONATE_LTC=\"${FRELVANTA_DONATE_LTC}\";FRELVANTA_DONATE_SOL=\"${FRELVANTA_DONATE_SOL}\"")
set_source_files_properties(${SRC}/app/tray_menu.cpp PROPERTIES
  COMPILE_DEFINITIONS "FRELVANTA_PROJECT_URL=\"${FRELVANTA_PROJECT_URL}\"")
if(FRELVANTA_UPDATE_HOST)
  set_source_files_properties(${SRC}/dialogs/update_check.cpp PROPERTIES
    COMPILE_DEFINITIONS "FRELVANTA_UPDATE_HOST=\"${FRELVANTA_UPDATE_HOST}\"")
endif()
fv_win32_library(fv_convert video/convert DEPENDS fv_settings fv_core fv_platform)
# The compute programs of the conversion on the graphics device: HLSL in
# video/convert/win32/programs, compiled here to shader model 5 bytecode and
# embedded. The compiler comes from scripts/build-hlsl-compiler.sh (built once
# and cached outside the build; FRELVANTA_HLSL_COMPILER names another one).
set(FRELVANTA_HLSL_COMPILER "" CACHE FILEPATH "HLSL compiler taking hlslc's arguments; empty: scripts/build-hlsl-compiler.sh")
set(FV_HLSLC ${FRELVANTA_HLSL_COMPILER})
if(NOT FV_HLSLC)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-hlsl-compiler.sh
                  OUTPUT_VARIABLE FV_HLSLC OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE hlslc_result)
  if(NOT hlslc_result EQUAL 0 OR NOT EXISTS "${FV_HLSLC}")
    message(FATAL_ERROR "The HLSL compiler could not be built (scripts/build-hlsl-compiler.sh)")
  endif()
endif()
set(FV_PROGRAMS ${SRC}/video/convert/win32/programs)
set(FV_PROGRAM_OUT ${CMAKE_BINARY_DIR}/generated/programs)
# name, source, defines: in the order of ComputeProgramId.
set(FV_PROGRAM_LIST
  "resize_horizontal|resize|"
  "resize_vertical|resize|VERTICAL"
  "resize_horizontal_linear|resize|LINEAR"
  "resize_vertical_linear|resize|VERTICAL LINEAR"
  "convert_single|convert|SINGLE"
  "convert_single_packed|convert|SINGLE PACKED_SOURCE"
  "convert_chroma|convert|CHROMA"
  "convert_chroma_packed|convert|CHROMA PACKED_SOURCE"
  "convert_luma|convert|LUMA"
  "convert_luma_packed|convert|LUMA PACKED_SOURCE")
set(FV_PROGRAM_BLOBS "")
foreach(entry ${FV_PROGRAM_LIST})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 source)
  list(GET parts 2 defines)
  set(flags "")
  if(defines)
    string(REPLACE " " ";" defines "${defines}")
    foreach(d ${defines})
      list(APPEND flags -D${d})
    endforeach()
  endif()
  add_custom_command(OUTPUT ${FV_PROGRAM_OUT}/${name}.dxbc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FV_PROGRAM_OUT}
    COMMAND ${FV_HLSLC} -p cs_5_0 -e main ${flags} -o ${FV_PROGRAM_OUT}/${name}.dxbc ${FV_PROGRAMS}/${source}.hlsl
    DEPENDS ${FV_PROGRAMS}/${source}.hlsl ${FV_HLSLC}
    COMMENT "Compiling compute program ${name}" VERBATIM)
  list(APPEND FV_PROGRAM_BLOBS ${FV_PROGRAM_OUT}/${name}.dxbc)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/generated/compute_programs.cpp
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${CMAKE_BINARY_DIR}/generated/compute_programs.cpp
          "-DINPUTS=${FV_PROGRAM_BLOBS}" -P ${PROJECT_SOURCE_DIR}/cmake/embed-programs.cmake
  DEPENDS ${FV_PROGRAM_BLOBS} ${PROJECT_SOURCE_DIR}/cmake/embed-programs.cmake
  COMMENT "Embedding the compute programs" VERBATIM)
target_sources(fv_convert PRIVATE ${CMAKE_BINARY_DIR}/generated/compute_programs.cpp)
target_link_libraries(fv_convert PUBLIC d3d11 dxgi dxguid uuid)
fv_win32_library(fv_encode video/encode DEPENDS fv_convert fv_settings fv_core fv_platform)
# The encoder check asks Media Foundation; where it has the encoder, its
# sink writer writes the file, elsewhere the FFmpeg writer of the Linux
# build does, from FFmpeg and x264 cross-built as static libraries
# (scripts/build-ffmpeg-windows.sh prints the folder). Without those, only
# Media Foundation's encoders record.
file(GLOB FV_MF_SOURCES CONFIGURE_DEPENDS ${SRC}/video/encode/mf/*.cpp)
target_sources(fv_encode PRIVATE ${FV_MF_SOURCES})
target_link_libraries(fv_encode PUBLIC mfplat mfreadwrite evr mfuuid strmiids wmcodecdspuuid d3d11 ole32 oleaut32)
set(FRELVANTA_WIN_FFMPEG "" CACHE PATH "FFmpeg and x264 cross-built for Windows (scripts/build-ffmpeg-windows.sh)")
if(FRELVANTA_WIN_FFMPEG)
  find_package(PkgConfig REQUIRED)
  set(ENV{PKG_CONFIG_LIBDIR} ${FRELVANTA_WIN_FFMPEG}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  pkg_check_modules(WIN_FFMPEG REQUIRED libavformat libavcodec libswresample libswscale libavutil)
  file(GLOB FV_FFMPEG_SOURCES CONFIGURE_DEPENDS ${SRC}/video/encode/ffmpeg/*.cpp)
  # The Linux table of the platform; the Windows one takes its place.
  list(FILTER FV_FFMPEG_SOURCES EXCLUDE REGEX "/ffmpeg_platform.cpp$")
  target_sources(fv_encode PRIVATE ${FV_FFMPEG_SOURCES})
  target_compile_definitions(fv_encode PRIVATE FRELVANTA_BUNDLED_FFMPEG)
  target_include_directories(fv_encode SYSTEM PUBLIC ${WIN_FFMPEG_INCLUDE_DIRS})
  target_link_directories(fv_encode PUBLIC ${WIN_FFMPEG_STATIC_LIBRARY_DIRS})
  target_link_libraries(fv_encode PUBLIC ${WIN_FFMPEG_STATIC_LIBRARIES})
endif()
fv_win32_library(fv_intake video/intake DEPENDS fv_encode fv_settings fv_core fv_platform)
fv_win32_library(fv_audio audio DEPENDS fv_encode fv_settings fv_core fv_platform)
# The sound engine's streams (audio/wasapi/).
file(GLOB FV_WASAPI_SOURCES CONFIGURE_DEPENDS ${SRC}/audio/wasapi/*.cpp)
target_sources(fv_audio PRIVATE ${FV_WASAPI_SOURCES})
target_link_libraries(fv_audio PUBLIC ole32 uuid avrt ksuser mmdevapi)
fv_win32_library(fv_capture capture DEPENDS fv_intake fv_encode fv_settings fv_core fv_platform)
# The device (DXGI, Direct3D 11), the window and compositor reads and the GDI
# source; the capture runtime is looked up at run time, never linked.
target_link_libraries(fv_capture PUBLIC d3d11 dxgi dwmapi user32 gdi32 uuid)
fv_win32_library(fv_recording recording
  DEPENDS fv_audio fv_capture fv_intake fv_encode fv_convert fv_settings fv_core fv_platform)
# Painting on GDI (the canvas and the frozen screen picture): a library of
# its own below the shell, so the painting tests can link it without the
# shell. The shell window that paints through it stays in fv_app, since it
# calls the shell core's painter.
set(FV_WIN32_PAINT_SOURCES ${SRC}/app/win32/gdi_canvas.cpp ${SRC}/app/win32/screen_grab_win32.cpp)
add_library(fv_win32_paint STATIC ${FV_WIN32_PAINT_SOURCES})
target_include_directories(fv_win32_paint PUBLIC ${SRC})
target_link_libraries(fv_win32_paint PUBLIC fv_core fv_platform gdi32 user32 uxtheme)
# The shell: the portable core with the Win32 toolkit (the entry stays with
# the executable).
fv_win32_library(fv_app app EXCLUDE win32/entry_win32.cpp win32/gdi_canvas.cpp win32/screen_grab_win32.cpp
  DEPENDS fv_win32_paint fv_recording fv_dialogs fv_audio fv_capture fv_intake fv_encode fv_convert fv_settings fv_core
  fv_platform)
target_link_libraries(fv_app PUBLIC user32 gdi32 shell32 ole32)

# Everything: the top library brings the rest through its edges.
add_library(fv_all INTERFACE)
target_link_libraries(fv_all INTERFACE fv_app synchronization user32 gdi32 dwmapi shell32 ole32 uuid Threads::Threads)

add_executable(frelvanta WIN32 ${SRC}/app/win32/entry_win32.cpp ${SRC}/app/win32/frelvanta.rc)
target_link_libraries(frelvanta PRIVATE fv_all user32)
# The version block takes the project's version from a generated header.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/fv_version.h CONTENT
"#define FV_VERSION_MAJOR ${PROJECT_VERSION_MAJOR}
#define FV_VERSION_MINOR ${PROJECT_VERSION_MINOR}
#define FV_VERSION_PATCH ${PROJECT_VERSION_PATCH}
#define FV_VERSION_STRING \"${PROJECT_VERSION}\"
")
target_include_directories(frelvanta PRIVATE ${CMAKE_BINARY_DIR}/generated)
set_property(SOURCE ${SRC}/app/win32/frelvanta.rc APPEND PROPERTY OBJECT_DEPENDS
  ${SRC}/app/win32/frelvanta.manifest ${SRC}/app/win32/icons/idle.ico
  ${SRC}/app/win32/icons/recording.ico ${SRC}/app/win32/icons/paused.ico)

if(NOT BUILD_TESTING)
  return()
endif()

# GoogleTest from Debian's source package, built with the cross compiler.
set(FRELVANTA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows tests")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${FRELVANTA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)

enable_testing()
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/win32 ${CMAKE_BINARY_DIR}/tests/win32)
