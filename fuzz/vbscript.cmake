# Parses and runs arbitrary text as VBScript with a small time-out and
# limits; file and process objects are off. The seeds are the regression
# inputs here and the conformance scripts. Under libFuzzer with the
# sanitizers (whose runtime supplies the coverage hooks for the other programs
# linking the library) the engine itself is instrumented too, so the fuzzer
# sees coverage inside it.
corvane_add_fuzzer(vbscript_fuzz SOURCE ${CMAKE_CURRENT_LIST_DIR}/vbscript_fuzz.cpp
  LIBS corvane_vbscript
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/vbscript ${PROJECT_SOURCE_DIR}/tests/vbscript/conformance)
if(CORVANE_LIBFUZZER AND CORVANE_SANITIZE)
  target_compile_options(corvane_vbscript PRIVATE -fsanitize=fuzzer-no-link)
endif()
