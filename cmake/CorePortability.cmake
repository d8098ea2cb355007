# Fails when a core source includes a header of one platform: the core builds on any POSIX
# system, and what it needs of the platform comes through the interfaces it declares, with the
# Linux implementations in src/platform/linux.
#   cmake -DSOURCE_DIR=<src> -DSTAMP=<file> -P CorePortability.cmake
set(core_folders audio base cleanup contracts dictation dictionary history hotkey inject settings speech strings
    systemspeech)
set(denied "^(sys/inotify\\.h|sys/eventfd\\.h|sys/epoll\\.h|sys/signalfd\\.h|sys/timerfd\\.h|sys/prctl\\.h|systemd/|X11/|xcb/|pulse/|linux/|libevdev/|libudev\\.h|atspi/|at-spi|dbus/|glib|gio/|canberra\\.h|wayland-|xkbcommon/|platform/)")

set(offences "")
foreach(folder IN LISTS core_folders)
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.hpp ${SOURCE_DIR}/${folder}/*.cpp
       ${SOURCE_DIR}/${folder}/*.c)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
        continue()
      endif()
      set(header ${CMAKE_MATCH_1})
      if(header MATCHES "${denied}")
        file(RELATIVE_PATH where ${SOURCE_DIR} ${source})
        string(APPEND offences "\n  src/${where}: ${header}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  message(FATAL_ERROR "Core sources include platform headers (move that code behind an interface into "
                      "src/platform/linux):${offences}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
