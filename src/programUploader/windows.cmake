# The Windows build of the uploader: the shared core with the Win32 port in
# the files that end in Windows.
add_library(uploaderwindows STATIC portRefusalWindows.cpp)
target_include_directories(uploaderwindows PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(uploaderwindows PUBLIC picprogram protocol)
