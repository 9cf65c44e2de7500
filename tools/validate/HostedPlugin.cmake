# The plug-in loading code shared by velmora-validate and the host tests. Either may be
# configured first (the tools can be switched off), so whoever comes first defines it.
if(TARGET velmora_hosted_plugin)
  return()
endif()

add_library(velmora_hosted_plugin STATIC ${CMAKE_CURRENT_LIST_DIR}/HostedPlugin.cpp)
target_include_directories(velmora_hosted_plugin PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velmora_hosted_plugin PUBLIC velmora_juce PRIVATE velmora_warnings)
target_compile_definitions(velmora_hosted_plugin PRIVATE
  VELMORA_VST3_BUNDLE="$<GENEX_EVAL:$<TARGET_PROPERTY:Velmora_VST3,JUCE_PLUGIN_ARTEFACT_FILE>>"
  VELMORA_LV2_BUNDLE="$<GENEX_EVAL:$<TARGET_PROPERTY:Velmora_LV2,JUCE_PLUGIN_ARTEFACT_FILE>>"
  VELMORA_LV2_URI="${VELMORA_LV2_URI}")
# Whatever hosts the binaries needs them built first.
add_dependencies(velmora_hosted_plugin Velmora_VST3 Velmora_LV2)
