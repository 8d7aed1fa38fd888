# Precompiled third-party headers for the targets where several sources
# parse the same large header: nlohmann/json, GoogleTest and CLI11 take
# seconds of compiler time in each source that includes them, far more than
# most of the project's own code. Only headers outside the project are
# precompiled, so the layers' include rules (tools/CMakeLists.txt) still hold.
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON builds without them.
#
#   suite_precompile(<header> <target>...)
# Precompiles <header> (as written in an #include, with its brackets) for
# each target that exists; a missing one (tests off) is left out. Through
# ccache (scripts/compiler-cache) GCC needs -fpch-preprocess, so that the
# preprocessed text that ccache hashes names the precompiled header used.
function(suite_precompile header)
  foreach(t IN LISTS ARGN)
    if(TARGET ${t})
      target_precompile_headers(${t} PRIVATE ${header})
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
        target_compile_options(${t} PRIVATE -fpch-preprocess)
      endif()
    endif()
  endforeach()
endfunction()

suite_precompile(<nlohmann/json.hpp> report_reading report_analysis report_output store suite-run suite-report
                 report_tests report_cli_tests store_tests)
suite_precompile(<CLI/CLI.hpp> suite-report)
suite_precompile(<gtest/gtest.h> unit_tests gl_tests report_tests report_cli_tests store_tests)

# The tools' larger targets compile their sources in batches: each source
# instantiates much the same JSON templates, which a batch compiles once.
# Their anonymous helpers therefore need names unique within their target.
# -DSUITE_UNITY_BUILD=OFF compiles source by source.
option(SUITE_UNITY_BUILD "Compile the tools' larger targets in batches" ON)
if(SUITE_UNITY_BUILD)
  foreach(t report_reading report_analysis report_output store suite-run suite-report
            report_tests report_cli_tests store_tests unit_tests)
    if(TARGET ${t})
      set_target_properties(${t} PROPERTIES UNITY_BUILD ON)
    endif()
  endforeach()
endif()
