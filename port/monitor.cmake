# The data path, the event monitor thread and the delivery onto the owning thread.
target_sources(velmora_port PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/com_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_operation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/synchronizer.cpp
)
