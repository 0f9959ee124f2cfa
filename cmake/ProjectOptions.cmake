# Compiler settings shared by every target of the project.

if(VEMO_SANITIZE)
  # Applied to everything, third-party sources compiled into our targets
  # included, so that instrumented and uninstrumented code never mix.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# vemo_set_warnings(<target>): the warning level of our own code.
function(vemo_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow
    $<$<BOOL:${VEMO_WERROR}>:-Werror>)
endfunction()
