# Warnings are errors for the project's own code. Qt and GoogleTest come in
# through imported targets, whose headers CMake treats as system headers.
function(kobito_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  endif()
endfunction()
