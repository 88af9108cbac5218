# Copies the files a package installs from FROM to TO, with a line appended to
# each file whose name matches CHANGED (a regular expression): files that
# differ from the build's and still work (Windows loads a program without its
# trailing bytes, as it does a signed one).
#   cmake -DFROM=<folder> -DTO=<folder> -DCHANGED=<regex> -DLINE=<text> -P changed-files.cmake
file(GLOB_RECURSE files RELATIVE ${FROM} ${FROM}/*)
foreach(file IN LISTS files)
  configure_file(${FROM}/${file} ${TO}/${file} COPYONLY)
  if(file MATCHES "${CHANGED}")
    file(APPEND ${TO}/${file} "\n${LINE}\n")
  endif()
endforeach()
