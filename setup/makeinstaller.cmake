# Lays out the product in a staging directory beside a copy of setup, packs
# it with `setup --unattended /pack` and keeps the result as OUT.
#   SETUP SAVER BIN STAGE LICENSE VERSION OUT [STRIP]
set(title Lumenmere)
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/${title})
file(COPY ${SETUP} DESTINATION ${STAGE})
get_filename_component(setup_name ${SETUP} NAME)

file(COPY_FILE ${SAVER} ${STAGE}/${title}/${title}.exe)
# Both programs without their debugging information: a tenth of the
# download.
if(STRIP)
  foreach(program ${STAGE}/${setup_name} ${STAGE}/${title}/${title}.exe)
    execute_process(COMMAND ${STRIP} --strip-debug ${program} RESULT_VARIABLE stripped)
    if(NOT stripped EQUAL 0)
      message(FATAL_ERROR "installer: ${STRIP} failed on ${program}")
    endif()
  endforeach()
endif()
# The boat picture is made by the build beside the screen saver (the
# installer target depends on it).
if(NOT EXISTS ${BIN}/boat.tga)
  message(FATAL_ERROR "installer: no ${BIN}/boat.tga: build the boat_picture target first")
endif()
file(COPY_FILE ${BIN}/boat.tga ${STAGE}/${title}/boat.tga)
file(COPY_FILE ${LICENSE} ${STAGE}/${title}/license.txt)

# The parameter file, with CR LF line ends.  The work shortcut tries the
# saver, the start menu opens its settings, the desktop icon starts it.
set(params
  "Title:${title}"
  "version:${VERSION}"
  "screensaver:1"
  "setscreensaver:1"
  "workshortcut:$%appexe%$Try %Title%$Show %Title% in a window$ /t$"
  "startmenu:$%appexe%$%Title% settings$Settings of the %Title% screen saver$ /c$"
  "desktopicon:$%appexe%$%app%$Start %Title%$ /s$")
string(REPLACE ";" "\r\n" text "${params}")
file(WRITE ${STAGE}/${title}/installparam.txt "${text}\r\n")

execute_process(COMMAND ${STAGE}/${setup_name} --unattended /pack
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS ${STAGE}/test.exe)
  message(FATAL_ERROR "installer: packing failed (${rc})")
endif()
file(RENAME ${STAGE}/test.exe ${OUT})
