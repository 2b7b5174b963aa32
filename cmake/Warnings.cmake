# Every target of the project builds with the same warning set.
function(vyk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
