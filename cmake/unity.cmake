# The tools' larger targets compile their sources in batches: each source
# instantiates much the same JSON templates, which a batch compiles once.
# Their anonymous helpers therefore need names unique within their target.
# -DSUITE_UNITY_BUILD=OFF compiles source by source.
#
# Headers are not precompiled: with the batches most targets have one or two
# sources, and building a target's precompiled header cost more than it saved
# (measured on 2 cores without a cache: 313 s of compiler time with them,
# 247 s without).
option(SUITE_UNITY_BUILD "Compile the tools' larger targets in batches" ON)
if(SUITE_UNITY_BUILD)
  foreach(t report_reading report_analysis report_output store suite-run suite-report
            report_tests report_cli_tests store_tests unit_tests)
    if(TARGET ${t})
      set_target_properties(${t} PROPERTIES UNITY_BUILD ON)
    endif()
  endforeach()
endif()
