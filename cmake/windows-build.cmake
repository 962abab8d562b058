# The Windows build: the portable core (platform interfaces, settings and the
# INI store, recording naming, run trace and recovery, command line) with the
# Win32 backends, frelvanta.exe and the core's unit tests. Capture, GPU
# conversion, encoding and sound capture are not part of it yet, so nothing
# here needs Qt, FFmpeg, PulseAudio or xcb.
set(FRELVANTA_BENCH OFF)
find_package(Threads REQUIRED)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# MinGW's printf checks know only the C runtime's formats; the core's
# formats are standard C.
add_compile_options(-Wno-format)

set(SRC ${PROJECT_SOURCE_DIR}/src)
# The core files of a subsystem folder (not its subfolders) plus its Win32
# backend; `exclude` names core files that need what this build lacks.
function(fv_win32_library name dir)
  cmake_parse_arguments(L "" "" "EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${SRC}/${dir}/*.cpp ${SRC}/${dir}/win32/*.cpp)
  foreach(x ${L_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "/${dir}/${x}$")
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${SRC})
  target_link_libraries(${name} PUBLIC Threads::Threads)
endfunction()

fv_win32_library(fv_platform platform)
target_link_libraries(fv_platform PUBLIC synchronization shell32 ole32 uuid)
fv_win32_library(fv_settings settings)
# Recording start, stop and control drive capture and the encoder; the
# watchdog watches the encoder. They come with the Windows media backends.
fv_win32_library(fv_recording recording
  EXCLUDE recording_start.cpp recording_stop.cpp recording_control.cpp watchdog.cpp)
add_library(fv_state STATIC ${SRC}/app/app_state.cpp)
target_include_directories(fv_state PUBLIC ${SRC})
add_library(fv_app STATIC ${SRC}/app/command_line.cpp ${SRC}/app/startup_config.cpp)
target_include_directories(fv_app PUBLIC ${SRC})

add_library(fv_all INTERFACE)
target_link_libraries(fv_all INTERFACE
  "$<LINK_GROUP:RESCAN,fv_app,fv_recording,fv_settings,fv_state,fv_platform>"
  synchronization shell32 ole32 uuid Threads::Threads)

file(GLOB FV_WIN32_APP_SOURCES CONFIGURE_DEPENDS ${SRC}/app/win32/*.cpp)
# The shell window on GDI (painting, cursor, layered forms, the frozen
# screen picture): a library of its own, linked together with the shell core
# that paints through it.
set(FV_WIN32_PAINT_SOURCES ${SRC}/app/win32/gdi_canvas.cpp ${SRC}/app/win32/shell_window_win32.cpp
  ${SRC}/app/win32/screen_grab_win32.cpp)
list(REMOVE_ITEM FV_WIN32_APP_SOURCES ${FV_WIN32_PAINT_SOURCES})
add_library(fv_win32_paint STATIC ${FV_WIN32_PAINT_SOURCES})
target_include_directories(fv_win32_paint PUBLIC ${SRC})
target_link_libraries(fv_win32_paint PUBLIC gdi32 user32 uxtheme)
add_executable(frelvanta WIN32 ${FV_WIN32_APP_SOURCES} ${SRC}/app/win32/frelvanta.rc)
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

# GoogleTest from Debian's source package, built with the cross compiler.
set(FRELVANTA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows tests")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${FRELVANTA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)

enable_testing()
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/win32 ${CMAKE_BINARY_DIR}/tests/win32)
