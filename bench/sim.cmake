velmora_add_bench(bench_sim_loopback ${CMAKE_CURRENT_LIST_DIR}/bench_sim_loopback.cpp)
