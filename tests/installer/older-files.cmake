# Copies the files a package installs from FROM to TO, the programs and the
# documents with a line appended: an older version's files, which differ from
# the newer one's and still work.
#   cmake -DFROM=<folder> -DTO=<folder> -P older-files.cmake
file(GLOB_RECURSE files RELATIVE ${FROM} ${FROM}/*)
foreach(file IN LISTS files)
  configure_file(${FROM}/${file} ${TO}/${file} COPYONLY)
  if(file MATCHES "\\.(exe|md)$")
    file(APPEND ${TO}/${file} "\nan older build\n")
  endif()
endforeach()
