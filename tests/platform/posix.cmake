velmora_add_gtest(test_posix_translate SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_translate_test.cpp LIBS velmora_platform)
velmora_add_gtest(test_posix_decoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_decoder_test.cpp LIBS velmora_platform)
velmora_add_gtest(test_posix_thread SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_thread_test.cpp LIBS velmora_platform THREADS)
velmora_add_gtest(test_posix_pty SOURCES ${CMAKE_CURRENT_LIST_DIR}/posix_pty_test.cpp LIBS velmora_platform THREADS)
