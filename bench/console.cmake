if(VELMORA_GUI)
  velmora_add_bench(bench_console_receive ${CMAKE_CURRENT_LIST_DIR}/bench_console_receive.cpp)
  target_link_libraries(bench_console_receive PRIVATE velmora_console)
endif()
