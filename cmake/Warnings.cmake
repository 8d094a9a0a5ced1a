# Project-wide warning level; targets opt in through velmora_warnings().
add_library(velmora_warnings INTERFACE)
target_compile_options(velmora_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                       -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual -Wpedantic
                       -Wimplicit-fallthrough)
# Not -Wnull-dereference: with optimisation GCC 12 reports it inside libstdc++'s own streams.
if(VELMORA_WERROR)
  target_compile_options(velmora_warnings INTERFACE -Werror)
endif()
