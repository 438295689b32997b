# The merge's C interface from a C program linked to the shared library: a table of requests and
# two merges at once (tests/merge_api/merge_api_test.c).
add_executable(merge_api_test merge_api/merge_api_test.c)
target_link_libraries(merge_api_test PRIVATE Korvane_LiDAR Threads::Threads)
add_dependencies(merge_api_test Quillet)
add_test(NAME MergeApi.RequestsFromC
  COMMAND merge_api_test ${CMAKE_CURRENT_SOURCE_DIR}/data $<TARGET_FILE:Quillet>
          ${CMAKE_CURRENT_BINARY_DIR}/merge_api_work)
set_tests_properties(MergeApi.RequestsFromC PROPERTIES TIMEOUT 300)
