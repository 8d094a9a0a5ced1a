# Settings text forms, stores, port listing, save and restore.
velmora_add_gtest(text_forms_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_forms_test.cpp LIBS velmora_port)
velmora_add_gtest(settings_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/registry_store_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/list_ports_test.cpp
  LIBS velmora_port)
velmora_add_gtest(settings_store_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_store_test.cpp LIBS velmora_port)
