# The library's interface, by name: the Quillet executable exports every function listed in
# lidar/exports.txt, and the shared library exports those and nothing else.
add_test(NAME exported_symbols
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.sh
          ${PROJECT_SOURCE_DIR}/lidar/exports.txt $<TARGET_FILE:Quillet>
          $<TARGET_FILE:Korvane_LiDAR>)
