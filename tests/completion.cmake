# The bash completion offers Quillet's options, and the files and directories it reads.
add_test(NAME bash_completion
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/completion/check.sh
          ${PROJECT_SOURCE_DIR}/tools/bash-completion/Quillet)
