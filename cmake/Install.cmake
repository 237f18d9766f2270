# What the build hands to users: the version resources of the Windows binaries, the install
# rules (`cmake --install`: the tools and stand-ins in bin/, the plug-in with its icons and the
# stand-in renderer's live library in lib/raydeck/), and on Windows the target raydeck_package,
# the archive raydeck-c4d-plugin-<version>-win64.zip that a user unpacks into the host's folder.
include(${CMAKE_CURRENT_LIST_DIR}/Version.cmake)

raydeck_version_resource(raydeck_c4d_plugin "Raydeck plug-in for the host application")
raydeck_version_resource(raydeck-host "Host simulator for the Raydeck plug-in")
raydeck_version_resource(rdk-inspect "Raydeck scene inspector")
raydeck_version_resource(raydeck-renderer "Stand-in Raydeck renderer")

file(GLOB raydeck_icons ${PROJECT_SOURCE_DIR}/plugins/c4d/res/*.png)
if(NOT WIN32)
  # On Windows the package below is what users install. lib/raydeck, not the multiarch library
  # folder: raydeck-host looks for the plug-in in ../lib/raydeck.
  include(GNUInstallDirs)
  install(TARGETS raydeck-host rdk-inspect raydeck-renderer
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS raydeck_c4d_plugin trvraydecklive6_64
          LIBRARY DESTINATION lib/raydeck)
  install(FILES ${raydeck_icons} DESTINATION lib/raydeck/res)
endif()

if(WIN32)
  set(name raydeck-c4d-plugin-${PROJECT_VERSION}-win64)
  set(stage ${CMAKE_BINARY_DIR}/package/stage)
  # A text for Windows users: CR LF line ends.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/INSTALL.txt.in
                 ${CMAKE_BINARY_DIR}/package/INSTALL.txt @ONLY NEWLINE_STYLE CRLF)
  add_custom_target(raydeck_package
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${CMAKE_BINARY_DIR}/${name}.zip
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/plugins/raydeck/res
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:raydeck_c4d_plugin> ${stage}/plugins/raydeck/
    COMMAND ${CMAKE_COMMAND} -E copy ${raydeck_icons} ${stage}/plugins/raydeck/res/
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/package/INSTALL.txt ${stage}/
    COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${CMAKE_COMMAND} -E tar cf
            ${CMAKE_BINARY_DIR}/${name}.zip --format=zip INSTALL.txt plugins
    DEPENDS raydeck_c4d_plugin
    COMMENT "Packing ${name}.zip"
    VERBATIM)
endif()
