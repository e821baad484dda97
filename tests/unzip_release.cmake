# Unpacks the release zip into an empty folder, as a Windows user would, and
# checks that it holds exactly the programs, README.md, LICENSE, the licence
# texts of the libraries the decoding process links and the sample.
# cmake -DZIP=<zip> -DDIR=<folder> -P unzip_release.cmake
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${DIR})
file(GLOB_RECURSE found RELATIVE ${DIR} ${DIR}/*)
list(SORT found)
set(wanted LICENSE README.md dav1d-COPYING duotint-cli.exe duotint-decode.exe duotint.exe giflib-COPYING
           libde265-COPYING libheif-COPYING libjpeg-turbo-LICENSE.md libjpeg-turbo-README.ijg libspng-LICENSE
           libtiff-LICENSE.md libwebp-COPYING libwebp-PATENTS sunset.bmp)
if(NOT found STREQUAL wanted)
  message(FATAL_ERROR "${ZIP} holds [${found}], not [${wanted}]")
endif()
