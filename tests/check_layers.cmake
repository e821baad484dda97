cmake_minimum_required(VERSION 3.20)
# The source folders include one another in one direction only: the
# programs (editor, cli, decoder) never one another; editor and cli may
# include options and the picture library's rooms; decoder read, formats
# and support; options export, read, formats and support; export read,
# formats and support; read formats and support; formats only support, and
# no header of the platform; support nothing of ours. Only editor declares
# the program state, and no files include one another in a circle. Every file under src
# counts, in subfolders too, and every spelling of an include: quotes or
# angle brackets, a path from src or from the file's own folder, spaces
# around the "#".
# Run as: cmake -DSRC=<src folder> -P check_layers.cmake
set(layers editor cli decoder options export read formats support)
set(allowed_editor options export read formats support)
set(allowed_cli options export read formats support)
set(allowed_decoder read formats support)
set(allowed_options export read formats support)
set(allowed_export read formats support)
set(allowed_read formats support)
set(allowed_formats support)
# The byte formats are plain C++: no header of the platform's.
set(platform_headers windows.h windef.h winbase.h winuser.h wingdi.h wincodec.h objbase.h psapi.h shlobj.h
    shellapi.h commctrl.h winnt.h winerror.h)
set(failures "")
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
foreach(file ${files})
  # A header and its source are one node: the file without its extension.
  string(REGEX MATCH "^[^/]+" layer "${file}")
  string(REGEX REPLACE "\\.[^./]+$" "" node "${file}")
  list(APPEND nodes ${node})
  get_filename_component(dir "${SRC}/${file}" DIRECTORY)
  file(STRINGS ${SRC}/${file} lines REGEX "^[ \t]*#[ \t]*include|extern")
  foreach(line ${lines})
    if(line MATCHES "extern[ \t]+(thread_local[ \t]+)?(struct[ \t]+)?ProgramState([^A-Za-z0-9_]|$)" AND NOT layer STREQUAL "editor")
      list(APPEND failures "${file}: ${line}")
    endif()
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    if(layer STREQUAL "formats")
      get_filename_component(header "${CMAKE_MATCH_1}" NAME)
      string(TOLOWER "${header}" header)
      if(header IN_LIST platform_headers)
        list(APPEND failures "${file}: ${line} (a platform header in the byte formats)")
      endif()
    endif()
    # As the compiler looks: beside the file first, then under src.
    set(path "${CMAKE_MATCH_1}")
    set(base ${SRC})
    if(path MATCHES "^\\." OR EXISTS "${dir}/${path}")
      set(base ${dir})
    endif()
    get_filename_component(target "${base}/${path}" ABSOLUTE)
    file(RELATIVE_PATH target "${SRC}" "${target}")
    string(REGEX MATCH "^[^/]+" folder "${target}")
    if(NOT folder IN_LIST layers)
      continue()  # a header of the platform or a library
    endif()
    if(layer IN_LIST layers AND NOT folder STREQUAL layer AND NOT folder IN_LIST allowed_${layer})
      list(APPEND failures "${file}: ${line}")
    endif()
    string(REGEX REPLACE "\\.[^./]+$" "" to "${target}")
    if(NOT to STREQUAL node)
      list(APPEND includes_${node} ${to})
    endif()
  endforeach()
endforeach()

# Nodes that include none left, or that none left includes, go until none
# does; what stays lies on a circle.
list(REMOVE_DUPLICATES nodes)
set(changed TRUE)
while(changed)
  set(changed FALSE)
  foreach(node ${nodes})
    set(out FALSE)
    set(in FALSE)
    foreach(other ${nodes})
      if(other IN_LIST includes_${node})
        set(out TRUE)
      endif()
      if(node IN_LIST includes_${other})
        set(in TRUE)
      endif()
    endforeach()
    if(NOT out OR NOT in)
      list(REMOVE_ITEM nodes ${node})
      set(changed TRUE)
    endif()
  endforeach()
endwhile()
if(nodes)
  string(REPLACE ";" ", " nodes "${nodes}")
  list(APPEND failures "files that include one another in a circle: ${nodes}")
endif()
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "includes against the layering:\n${failures}")
endif()
