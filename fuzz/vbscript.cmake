# Parses and runs arbitrary text as VBScript with a small time-out and
# limits; file and process objects are off. The seeds are the regression
# inputs here and the conformance scripts.
corvane_add_fuzzer(vbscript_fuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/vbscript_fuzz.cpp
  LIBS corvane_vbscript
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/vbscript ${PROJECT_SOURCE_DIR}/tests/vbscript/conformance)
