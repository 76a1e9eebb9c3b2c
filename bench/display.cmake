# Speed of the displays; included by bench/CMakeLists.txt.
add_executable(brontel_bench_display bench_display.cpp)
target_link_libraries(brontel_bench_display PRIVATE
  brontel::session brontel::navtexsignal benchmark::benchmark brontel::flags)
if(BUILD_GUI)
  # The per-block cost with the labels rendered by QtGui.
  target_link_libraries(brontel_bench_display PRIVATE brontel::display_qt)
  target_compile_definitions(brontel_bench_display PRIVATE BRONTEL_HAVE_QT_TEXT=1)
endif()
