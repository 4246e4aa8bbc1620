# Turns a script into a C++ byte array named NAME (kInstallScript unless given), with its size
# as NAME followed by Size. The script is written to disk byte for byte
# and run by Windows PowerShell 5.1, which reads a file without a byte-order mark in the
# system's ANSI code page: anything but plain ASCII with LF line ends would change meaning
# from one machine to the next, so the build refuses it.
if(NOT NAME)
  set(NAME kInstallScript)
endif()
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
if(hex MATCHES "^efbbbf")
  message(FATAL_ERROR "a byte-order mark at the start of ${INPUT}: save it as plain ASCII")
endif()
string(REGEX MATCHALL ".." bytes "${hex}")
set(offset 0)
set(body "")
set(column 0)
foreach(byte IN LISTS bytes)
  if(byte STREQUAL "0d")
    message(FATAL_ERROR "a carriage return at byte ${offset} of ${INPUT}: use LF line ends only")
  endif()
  if(byte MATCHES "^[89a-f]")
    message(FATAL_ERROR "the non-ASCII byte 0x${byte} at byte ${offset} of ${INPUT}: use plain ASCII only")
  endif()
  string(APPEND body "0x${byte},")
  math(EXPR column "${column} + 1")
  if(column EQUAL 16)
    string(APPEND body "\n")
    set(column 0)
  endif()
  math(EXPR offset "${offset} + 1")
endforeach()
if(size EQUAL 0)
  set(body "0")
  set(count_note "// empty script: one placeholder byte, not part of the text\n")
endif()
file(WRITE ${OUTPUT}.tmp
"// Generated from ${INPUT} by cmake/embed_script.cmake; do not edit.\n"
"#pragma once\n"
"${count_note}"
"constexpr unsigned long ${NAME}Size = ${size};\n"
"constexpr char ${NAME}[] = {\n${body}\n};\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
