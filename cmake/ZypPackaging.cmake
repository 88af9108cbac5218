# What a release holds and how it is packed: the product archive (the
# program, the browser host beside it, the README, the protocol and their
# SHA-256 sums) and, apart from
# it, the stand-in companions for integrators. scripts/package drives it.
install(TARGETS ZYPQueueAddURL ZYPBrowserHost RUNTIME DESTINATION . COMPONENT product)
install(FILES README.md DESTINATION . COMPONENT product)
install(FILES docs/protocol.md DESTINATION docs COMPONENT product)
# Written after the files it lists, from what was actually installed.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(sums "")
  foreach(file IN ITEMS ZYPQueueAddURL.exe ZYPBrowserHost.exe README.md docs/protocol.md)
    file(SHA256 "${root}/${file}" hash)
    string(APPEND sums "${hash}  ${file}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")
]] COMPONENT product)

install(TARGETS ZYPQueueManager ZYPLinkExplorer RUNTIME DESTINATION . COMPONENT testpeers)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ZYPQueueAddURL)
set(CPACK_PACKAGE_VENDOR "Tarvesk Software")
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL product testpeers)
set(CPACK_ARCHIVE_PRODUCT_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
set(CPACK_ARCHIVE_TESTPEERS_FILE_NAME ${CPACK_PACKAGE_FILE_NAME}-testpeers)
include(CPack)
