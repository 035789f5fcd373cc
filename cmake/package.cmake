# cmake/package.cmake — the release ZIP (target "package").
# parvel.exe, the animation strip, the installation script and the Japanese read-me.
install(TARGETS parvel RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/app/qex.bmp ${CMAKE_BINARY_DIR}/app/qexinst.inf DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/resources/readme-ja.txt DESTINATION . RENAME readme.txt)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME parvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME parvel-${PROJECT_VERSION}-win64)
# The entries sit in a folder named like the ZIP, as a user unpacks it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
