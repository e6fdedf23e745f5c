# HTTP request parsing: ParsePage on the first part of the input, AddPostData
# on the rest, and the listener's raw-text helpers.
corvane_add_fuzzer(http_request_fuzz
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/http_request_fuzz.cpp
  LIBS corvane_web
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/http_request)
