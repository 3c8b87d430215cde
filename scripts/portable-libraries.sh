# Sourced by scripts/package-linux and scripts/check-portable: the libraries the portable Linux
# folder leaves to the system, because every Linux desktop has them. Everything else the program
# and its Qt plugins link, the folder carries.
#   system_library SONAME      succeeds when the folder takes that library from the system
#   resolved_libraries FILE    what FILE links, all the way down, as the loader finds it here
# shellcheck shell=bash

portable_system_libraries=(
    # The C library and its loader.
    ld-linux-x86-64.so.2 libc.so.6 libm.so.6 libmvec.so.1 libpthread.so.0 libdl.so.2 librt.so.1
    libresolv.so.2 libutil.so.1 libanl.so.1
    # X11 and xcb core, and the cursor library Qt opens for the desktop's cursor theme when the
    # system has it (with what it links).
    libX11.so.6 libX11-xcb.so.1 libxcb.so.1 libXau.so.6 libXdmcp.so.6
    libXcursor.so.1 libXfixes.so.3 libXrender.so.1
    # OpenGL, as glvnd splits it.
    libGL.so.1 libGLX.so.0 libOpenGL.so.0 libEGL.so.1 libGLdispatch.so.0
    # Fonts.
    libfontconfig.so.1 libfreetype.so.6
    # D-Bus.
    libdbus-1.so.3
    # What those link themselves on Debian 12 (freetype and fontconfig, libXdmcp, libdbus through
    # libsystemd); other systems link others (lz4 links libxxhash on Debian 13), which come with
    # them. A process holds one copy of a library: a carried, older one would stand in for the one
    # the system's own libraries were built against.
    libz.so.1 libpng16.so.16 libbrotlidec.so.1 libbrotlicommon.so.1 libexpat.so.1 libbsd.so.0
    libmd.so.0 libsystemd.so.0 libcap.so.2 libgcrypt.so.20 libgpg-error.so.0 liblzma.so.5
    libzstd.so.1 liblz4.so.1
)

# The libraries FILE needs, all the way down, as the loader finds them: "SONAME PATH" a line.
resolved_libraries() {
    ldd "$1" | sed -n 's/^[[:space:]]*\([^ ]*\) => \(.*\) (0x[0-9a-f]*)$/\1 \2/p'
}

system_library() {
    local name
    for name in "${portable_system_libraries[@]}"; do
        [ "$1" = "$name" ] && return 0
    done
    return 1
}
