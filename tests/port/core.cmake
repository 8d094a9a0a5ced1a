# Errors, the settings model, device configuration and the port lifecycle.
velmora_add_gtest(port_core_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/core_error_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_device_config_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_settings_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_lifecycle_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_pty_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core_pty_termios.cpp
  LIBS velmora_port
  THREADS
)
