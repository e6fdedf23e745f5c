corvane_add_fuzzer(xap_message_fuzz
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/xap_message_fuzz.cpp
  LIBS corvane_xap
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/xap_message)
