# Run by CPack after it built the packages (CPACK_POST_BUILD_SCRIPTS). CPack gives a package with a
# shared library in /usr/lib a postinst and a postrm that only call ldconfig; Debian wants the
# ldconfig trigger instead, which that package ships (cmake/debian/triggers). Such scripts are
# taken out and the package rebuilt with everything else as it was; a script that does anything
# besides calling ldconfig stays.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(dropped FALSE)
  # The scripts as CPack writes them, without blanks.
  set(cpack_postinst "#!/bin/shset-eif[\"$1\"=\"configure\"];thenldconfigfi")
  set(cpack_postrm "#!/bin/shset-eif[\"$1\"=\"remove\"];thenldconfigfi")
  foreach(script postinst postrm)
    set(file ${tree}/DEBIAN/${script})
    if(EXISTS ${file})
      file(READ ${file} text)
      string(REGEX REPLACE "[ \t\n]" "" text "${text}")
      if(text STREQUAL "${cpack_${script}}")
        file(REMOVE ${file})
        set(dropped TRUE)
      endif()
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
