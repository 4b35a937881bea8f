# Cross-build for 32-bit Windows (i686) with Debian's MinGW-w64; the product build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(AGGIORNA_MINGW_TRIPLET i686-w64-mingw32)

# The posix-thread variant, so std::thread and std::mutex exist; -static keeps winpthread inside.
set(CMAKE_C_COMPILER ${AGGIORNA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AGGIORNA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${AGGIORNA_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${AGGIORNA_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${AGGIORNA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No MinGW DLL at run time; ASLR and DEP in the PE header.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--dynamicbase,--nxcompat")

# Test programs run through Wine (the wrapper picks the 32-bit loader).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
