corvane_add_fuzzer(ini_tool_fuzz
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/ini_tool_fuzz.cpp
  LIBS corvane_config
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/ini)
