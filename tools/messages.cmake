# brontel-messages: lists, shows and exports the stored messages.
find_package(CLI11 REQUIRED)
add_executable(brontel-messages brontel_messages.cpp)
target_link_libraries(brontel-messages PRIVATE brontel_toolsupport brontel::messages brontel::stations)
