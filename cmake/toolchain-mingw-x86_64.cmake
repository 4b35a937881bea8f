# Cross-build for 64-bit Windows (x86-64) with Debian's MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(AGGIORNA_MINGW_TRIPLET x86_64-w64-mingw32)

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

# No MinGW DLL at run time; ASLR (high-entropy), DEP in the PE header.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--dynamicbase,--nxcompat,--high-entropy-va")

# Test programs run through Wine (the wrapper hands 64-bit programs to the 64-bit loader).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
