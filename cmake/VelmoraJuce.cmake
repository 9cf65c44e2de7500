# JUCE's modules, compiled once into one static library that every target links.
# Linking the module targets directly would recompile JUCE for each target.

add_library(velmora_juce STATIC)
target_link_libraries(velmora_juce
  PRIVATE
    juce::juce_core
    juce::juce_events
    juce::juce_data_structures
    juce::juce_graphics
    juce::juce_gui_basics
    juce::juce_gui_extra
    juce::juce_audio_basics
    juce::juce_audio_formats
    juce::juce_audio_devices
    juce::juce_audio_processors
    juce::juce_audio_utils
  PUBLIC
    juce::juce_recommended_config_flags
    PkgConfig::VELMORA_SYSLIBS)

target_compile_definitions(velmora_juce
  PUBLIC
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=1
    JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_PLUGINHOST_VST3=1
    JUCE_PLUGINHOST_LV2=1
    JUCE_USE_FLAC=1
    JUCE_USE_OGGVORBIS=1
  INTERFACE
    $<TARGET_PROPERTY:velmora_juce,COMPILE_DEFINITIONS>)

# Re-export the module include paths as system headers, so our -Wall -Wextra stays about our code.
target_include_directories(velmora_juce SYSTEM INTERFACE
  $<TARGET_PROPERTY:velmora_juce,INCLUDE_DIRECTORIES>)

set_target_properties(velmora_juce PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  VISIBILITY_INLINES_HIDDEN ON
  C_VISIBILITY_PRESET hidden
  CXX_VISIBILITY_PRESET hidden)
