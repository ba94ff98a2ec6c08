# Objects compiled for the Microsoft C++ ABI by clang (the machine has no Microsoft compiler):
# freestanding, no runtime library, linked into programs that the MinGW compiler builds. Only
# C-linkage functions and interface pointers cross between the two halves.
find_program(TAVRIN_MSABI_CLANG NAMES clang++ clang++-14 REQUIRED)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TAVRIN_MSABI_TARGET x86_64-pc-windows-msvc)
else()
  set(TAVRIN_MSABI_TARGET i686-pc-windows-msvc)
endif()
set(TAVRIN_MSABI_FLAGS
  --target=${TAVRIN_MSABI_TARGET} -fms-compatibility -ffreestanding -fno-rtti -fno-exceptions
  -fno-threadsafe-statics -std=c++20 -O2 -Wall -Wextra -Werror
  -I${PROJECT_SOURCE_DIR}/tests/abi/msvc-include -I${PROJECT_SOURCE_DIR}/include)

# tavrin_msabi_object(<variable> <source> [definition ...]): compiles <source>; sets <variable>
# to the object's path.
function(tavrin_msabi_object variable source)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${variable}.obj)
  list(TRANSFORM ARGN PREPEND -D OUTPUT_VARIABLE definitions)
  add_custom_command(OUTPUT ${object}
    COMMAND ${TAVRIN_MSABI_CLANG} ${TAVRIN_MSABI_FLAGS} ${definitions}
            -MD -MF ${object}.d -c ${CMAKE_CURRENT_SOURCE_DIR}/${source} -o ${object}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${source}
    DEPFILE ${object}.d
    COMMENT "Compiling ${source} for the Microsoft ABI"
    VERBATIM)
  set(${variable} ${object} PARENT_SCOPE)
endfunction()
