# Settings text forms, the INI and registry-style stores, port listing, save and restore.
target_sources(velmora_port PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/text_forms.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atomic_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/list_ports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_store.cpp
)
