# Only Debian packages: nothing is downloaded at configure or build time.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11 xi xtst xfixes)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(SECRET REQUIRED IMPORTED_TARGET libsecret-1)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(PANGOCAIRO REQUIRED IMPORTED_TARGET pangocairo pangoft2)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
pkg_check_modules(POCKETSPHINX REQUIRED IMPORTED_TARGET pocketsphinx sphinxbase)
# Debian's sphinxbase.pc names /usr/include/sphinxbase, which its multiarch package never
# creates; CMake refuses an imported target with a missing include folder.
get_target_property(pocketsphinx_includes PkgConfig::POCKETSPHINX INTERFACE_INCLUDE_DIRECTORIES)
set(pocketsphinx_existing "")
foreach(dir IN LISTS pocketsphinx_includes)
  if(EXISTS "${dir}")
    list(APPEND pocketsphinx_existing "${dir}")
  endif()
endforeach()
set_target_properties(PkgConfig::POCKETSPHINX PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${pocketsphinx_existing}")
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2)
pkg_check_modules(XRES REQUIRED IMPORTED_TARGET xres)
pkg_check_modules(GTK REQUIRED IMPORTED_TARGET gtk+-3.0)
if(TALVERIN_TESTS)
  find_package(GTest REQUIRED)
  # Tests only: libogg judges our own Ogg framing and checksum.
  pkg_check_modules(OGG REQUIRED IMPORTED_TARGET ogg)
endif()
if(TALVERIN_BENCH)
  find_package(benchmark REQUIRED)
endif()
# The pill's window: GTK 3 on X11, RandR outputs as screen ids, the shape extension.
pkg_check_modules(XRANDR REQUIRED IMPORTED_TARGET xrandr)
pkg_check_modules(XEXT REQUIRED IMPORTED_TARGET xext)

# GIO's Unix parts: file descriptors passed over D-Bus (logind's inhibitor). Every user of GIO
# may include them.
pkg_check_modules(GIOUNIX REQUIRED IMPORTED_TARGET gio-unix-2.0)
target_link_libraries(PkgConfig::GLIB INTERFACE PkgConfig::GIOUNIX)
