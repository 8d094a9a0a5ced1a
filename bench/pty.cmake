velmora_add_bench(bench_pty ${CMAKE_CURRENT_LIST_DIR}/bench_pty.cpp)
