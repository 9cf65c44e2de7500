# Our own code compiles warning-free with these.
add_library(velmora_warnings INTERFACE)
target_compile_options(velmora_warnings INTERFACE -Wall -Wextra -Wno-unknown-pragmas)
# GCC's spelling; clang (the sanitizer and fuzzing build) has no local-only variant.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(velmora_warnings INTERFACE -Wshadow=local)
endif()

# GCC 12 flags juce::ListenerList's iterator, which links a stack object into the list for
# the duration of a call and unlinks it on exit: a false positive inside JUCE's template,
# reported in every file of ours that calls listeners.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  target_compile_options(velmora_warnings INTERFACE -Wno-dangling-pointer)
endif()
