# The conversion kernels index raw picture memory, so the ordinary test run
# also checks them under AddressSanitizer and UBSan: the same tests, built
# against sanitized copies of just the kernel sources (a few files, cheap to
# compile). A build with FRELVANTA_SANITIZE sanitizes everything already.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -fsanitize=address,undefined)
set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=address,undefined)
check_cxx_source_compiles("int main() { return 0; }" FV_HAVE_ASAN)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(NOT FRELVANTA_SANITIZE AND FV_HAVE_ASAN)
  set(kernel_dir ${PROJECT_SOURCE_DIR}/src/video/convert)
  add_executable(video_kernels_asan_test convert_test.cpp resize_test.cpp scale_convert_test.cpp
    ${kernel_dir}/color_math.cpp ${kernel_dir}/compute_context.cpp ${kernel_dir}/surfaces.cpp
    ${kernel_dir}/resize_stage.cpp ${kernel_dir}/resize_kernels.cpp ${kernel_dir}/resize_kernels_avx2.cpp
    ${kernel_dir}/resize_kernels_avx512.cpp
    ${kernel_dir}/convert_stage.cpp ${kernel_dir}/convert_kernels.cpp ${kernel_dir}/convert_kernels_avx2.cpp
    ${kernel_dir}/convert_kernels_avx512.cpp
    ${kernel_dir}/scale_convert.cpp ${PROJECT_SOURCE_DIR}/src/platform/thread.cpp)
  target_include_directories(video_kernels_asan_test PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(video_kernels_asan_test PRIVATE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -ffp-contract=off -fno-math-errno)
  target_link_options(video_kernels_asan_test PRIVATE -fsanitize=address,undefined)
  target_link_libraries(video_kernels_asan_test PRIVATE PkgConfig::FFMPEG Threads::Threads GTest::gtest GTest::gtest_main)
  gtest_discover_tests(video_kernels_asan_test TEST_PREFIX "asan." DISCOVERY_TIMEOUT 60 PROPERTIES LABELS video)
endif()
