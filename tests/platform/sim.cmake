velmora_add_gtest(test_sim_devices SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_device_test.cpp LIBS velmora_platform THREADS)
velmora_add_gtest(test_events SOURCES ${CMAKE_CURRENT_LIST_DIR}/event_test.cpp LIBS velmora_platform THREADS)
velmora_add_gtest(test_receive_rules SOURCES ${CMAKE_CURRENT_LIST_DIR}/receive_rules_test.cpp LIBS velmora_platform)
