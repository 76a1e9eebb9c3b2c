# Flags every Brontel target takes through brontel::flags.
# Floating point must not depend on the compiler or the CPU: no contraction into
# fused multiply-adds, no fast-math reordering.
add_library(brontel_flags INTERFACE)
add_library(brontel::flags ALIAS brontel_flags)
target_compile_options(brontel_flags INTERFACE
  -Wall -Wextra -ffp-contract=off -fno-fast-math)

if(SANITIZE)
  add_library(brontel_sanitize INTERFACE)
  target_compile_options(brontel_sanitize INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(brontel_sanitize INTERFACE -fsanitize=address,undefined)
  target_link_libraries(brontel_flags INTERFACE brontel_sanitize)
endif()
