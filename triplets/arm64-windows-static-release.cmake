# arm64-windows-static built in release only: the ports of the CI's RelWithDebInfo build, which
# links only their release libraries. Not for Debug builds: the debug C runtime (/MTd) does
# not link with release-built C++ libraries (LNK2038), so the presets with Debug use the
# ordinary arm64-windows-static triplet.
set(VCPKG_TARGET_ARCHITECTURE arm64)
set(VCPKG_CRT_LINKAGE static)
set(VCPKG_LIBRARY_LINKAGE static)
set(VCPKG_BUILD_TYPE release)
# The ports' code joins the programs' control-flow guard table, as the programs' own does.
set(VCPKG_C_FLAGS "/guard:cf")
set(VCPKG_CXX_FLAGS "/guard:cf")
