# Read by ctest after the discovered cases: the case that takes every local RTP port runs alone,
# so that no other test's channel meets the exhausted range.
set_tests_properties(CameraFaults.PortRangeExhausted PROPERTIES RUN_SERIAL TRUE)
