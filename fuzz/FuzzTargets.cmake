# velquin_fuzz_targets: the fuzz entry points of fuzz/targets (FuzzTargets.h), shared by the
# libFuzzer programs (fuzz/CMakeLists.txt) and the regression test over the stored inputs
# (tests/fuzz). The trace input reader lives in the program's folder, so its source is built in.
if(TARGET velquin_fuzz_targets OR NOT TARGET velquin_renderer)
  return()
endif()
file(GLOB _fuzz_target_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/fuzz/targets/*.cpp")
find_package(nlohmann_json 3 REQUIRED)
add_library(velquin_fuzz_targets STATIC ${_fuzz_target_sources}
            ${PROJECT_SOURCE_DIR}/apps/velquin/trace_input.cpp)
target_include_directories(velquin_fuzz_targets PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(velquin_fuzz_targets PUBLIC velquin_renderer velquin_object velquin_ui
                      velquin_render velquin_raytrace velquin_field velquin_platform
                      nlohmann_json::nlohmann_json)
