velmora_add_gtest(port_monitor_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/monitor_test.cpp ${CMAKE_CURRENT_LIST_DIR}/scripted_device.cpp
  LIBS velmora_port THREADS)
