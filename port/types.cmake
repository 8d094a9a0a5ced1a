target_sources(velmora_port PRIVATE com_types.cpp)
