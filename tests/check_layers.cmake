cmake_minimum_required(VERSION 3.20)
# The source folders include one another in one direction only: app may
# include ui, image and support; ui and image only support; support nothing
# of ours. The program state is app's: no other folder declares it. Files
# include one another without circles. Every file under src is read, in
# subfolders too, and every spelling of an include counts: quotes or angle
# brackets, a path from src or from the file's own folder, spaces around
# the "#". Run as: cmake -DSRC=<src folder> -P check_layers.cmake
set(layers app ui image support)
set(allowed_app ui image support)
set(allowed_ui support)
set(allowed_image support)
set(allowed_support "")
set(failures "")
set(modules "")

file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
foreach(file ${files})
  # The folder under src, and the file without its extension: a header and
  # its source are one node of the include graph.
  string(REGEX MATCH "^[^/]+" layer "${file}")
  string(REGEX REPLACE "\\.[^./]+$" "" module "${file}")
  list(APPEND modules ${module})
  get_filename_component(dir "${SRC}/${file}" DIRECTORY)
  file(STRINGS ${SRC}/${file} lines REGEX "^[ \t]*#[ \t]*include|extern")
  foreach(line ${lines})
    if(line MATCHES "extern[ \t]+(struct[ \t]+)?ProgramState([^A-Za-z0-9_]|$)" AND NOT layer STREQUAL "app")
      list(APPEND failures "${file}: ${line}")
    endif()
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    # As the compiler looks: beside the file first, then under src.
    set(path "${CMAKE_MATCH_1}")
    if(path MATCHES "^\\." OR EXISTS "${dir}/${path}")
      get_filename_component(target "${dir}/${path}" ABSOLUTE)
    else()
      get_filename_component(target "${SRC}/${path}" ABSOLUTE)
    endif()
    file(RELATIVE_PATH target "${SRC}" "${target}")
    string(REGEX MATCH "^[^/]+" folder "${target}")
    if(NOT folder IN_LIST layers)
      continue()  # a header of the platform or a library
    endif()
    if(layer IN_LIST layers AND NOT folder STREQUAL layer AND NOT folder IN_LIST allowed_${layer})
      list(APPEND failures "${file}: ${line}")
    endif()
    string(REGEX REPLACE "\\.[^./]+$" "" to "${target}")
    if(NOT to STREQUAL module)
      list(APPEND includes_${module} ${to})
    endif()
  endforeach()
endforeach()

# Circles: files that include nothing left, or that nothing left includes,
# are taken away until none is; what stays lies on a circle. One circle is
# known and left out until the files are reworked: the runtime support
# discards an unfinished export through the file layer, which reports its
# failures through the runtime support.
list(REMOVE_ITEM includes_support/error support/file_io)
list(REMOVE_DUPLICATES modules)
set(left ${modules})
set(changed TRUE)
while(changed)
  set(changed FALSE)
  foreach(module ${left})
    set(out FALSE)
    set(in FALSE)
    foreach(other ${left})
      if(other IN_LIST includes_${module})
        set(out TRUE)
      endif()
      if(module IN_LIST includes_${other})
        set(in TRUE)
      endif()
    endforeach()
    if(NOT out OR NOT in)
      list(REMOVE_ITEM left ${module})
      set(changed TRUE)
    endif()
  endforeach()
endwhile()
if(left)
  string(REPLACE ";" ", " left "${left}")
  list(APPEND failures "files that include one another in a circle: ${left}")
endif()

if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "includes against the layering:\n${failures}")
endif()
