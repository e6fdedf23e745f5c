# Controller bytes: receive framing, reply decoding and the zone model.
corvane_add_fuzzer(vaux_receive_fuzz
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/vaux_receive_fuzz.cpp
  LIBS corvane_device corvane_testsupport
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/vaux_receive)
