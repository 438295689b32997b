# The merge of an output beyond 4 GiB, from sparse inputs. It writes more than 4 GB, so it runs
# only on demand (make test-large): it carries the label "large", which make test leaves out.
add_executable(large_output_test ${CMAKE_CURRENT_LIST_DIR}/large/large_output_test.cpp)
target_link_libraries(large_output_test PRIVATE test_support GTest::gtest_main Threads::Threads)
add_dependencies(large_output_test Quillet)
add_test(NAME large_output COMMAND large_output_test)
set_tests_properties(large_output PROPERTIES LABELS large TIMEOUT 3600)
