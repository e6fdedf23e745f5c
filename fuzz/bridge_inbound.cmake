# Whatever arrives over xAP: the inbound handler with the BSC reporting and
# the controller link behind it.
corvane_add_fuzzer(bridge_inbound_fuzz
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/bridge_inbound_fuzz.cpp
  LIBS corvane_bridge corvane_vauxsim corvane_testsupport
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/bridge_inbound)
target_include_directories(bridge_inbound_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/tests)
