# Errors, the error display, the settings model, device configuration and the port lifecycle.
target_sources(velmora_port PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/com_port.cpp
  ${CMAKE_CURRENT_LIST_DIR}/com_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ecomport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/error_display.cpp
)
