# Our own code compiles warning-free with these.
add_library(velmora_warnings INTERFACE)
target_compile_options(velmora_warnings INTERFACE -Wall -Wextra -Wshadow=local -Wno-unknown-pragmas)
