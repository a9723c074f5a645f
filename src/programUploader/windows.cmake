# The Windows build of the uploader: the shared link, reporter and command
# line, with the Win32 port in the files that end in Windows.
add_library(uploaderwindows STATIC
  serialLine.cpp bootloaderLink.cpp upload.cpp passWalk.cpp uploadReporter.cpp terminalReporter.cpp textFormat.cpp hint.cpp
  progressLine.cpp forecast.cpp summary.cpp boardReset.cpp options.cpp
  serialPortWindows.cpp interruptWindows.cpp portRefusalWindows.cpp portListWindows.cpp hexInputWindows.cpp
  terminalWindows.cpp explain.cpp runSteps.cpp traceLine.cpp endWatch.cpp monitorWindows.cpp)
target_include_directories(uploaderwindows PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(uploaderwindows PUBLIC picprogram protocol setupapi)

add_executable(programUploader programUploaderWindows.cpp)
target_link_libraries(programUploader PRIVATE uploaderwindows)
target_link_options(programUploader PRIVATE -municode)  # wmain is the entry point (fileAccess.h)
