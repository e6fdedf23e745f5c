# HTTP requests: the assembler over packets split at 0xFE, the parser and the
# gate on what it assembles.
corvane_add_fuzzer(http_request_fuzz
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/http_request_fuzz.cpp
  LIBS corvane_web
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/http_request)
