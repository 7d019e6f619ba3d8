# Stages what the product ships and makes the setup program and the zip
# from it (run by the build's `setup` target, with -D arguments):
#   SHIPPED_FILES  the shipped binaries, separated by '|'
#   HELP_DIR       the folder whose *.hlp files go beside the programs
#   STAGE_DIR      scratch folder: PACKAGE_NAME/ holds the files as the zip
#                  has them, the *.nsh lists tell setup.nsi what to install
#   DIST_DIR       where PACKAGE_NAME-setup.exe and PACKAGE_NAME.zip go
#   MAKENSIS, SCRIPT, VERSION, PRODUCT_NAME
string(REPLACE "|" ";" binaries "${SHIPPED_FILES}")
file(GLOB help_files "${HELP_DIR}/*.hlp")
set(files_dir "${STAGE_DIR}/${PACKAGE_NAME}")
set(setup_program "${DIST_DIR}/${PACKAGE_NAME}-setup.exe")
set(zip_file "${DIST_DIR}/${PACKAGE_NAME}.zip")

file(MAKE_DIRECTORY "${files_dir}" "${DIST_DIR}")

# The staged files: copied only when changed, so their times tell whether
# the setup program is out of date. Files no longer shipped are removed.
file(GLOB staged "${files_dir}/*")
set(newest_input "${SCRIPT}")
set(install_programs "")
set(install_libraries "")
set(remove_programs "")
set(remove_libraries "")
foreach(file IN LISTS binaries help_files)
    get_filename_component(name "${file}" NAME)
    get_filename_component(extension "${file}" LAST_EXT)
    string(TOLOWER "${extension}" extension)
    file(COPY_FILE "${file}" "${files_dir}/${name}" ONLY_IF_DIFFERENT)
    list(REMOVE_ITEM staged "${files_dir}/${name}")
    if("${files_dir}/${name}" IS_NEWER_THAN "${newest_input}")
        set(newest_input "${files_dir}/${name}")
    endif()
    if(extension STREQUAL ".dll")
        # Shared libraries in the system folder: counted, never downgraded.
        string(APPEND install_libraries
            "!insertmacro InstallLib DLL $AlreadyInstalled REBOOT_NOTPROTECTED \"${files_dir}/${name}\" \"$SYSDIR\\${name}\" \"$SYSDIR\"\n")
        string(APPEND remove_libraries
            "!insertmacro UnInstallLib DLL SHARED REBOOT_NOTPROTECTED \"$SYSDIR\\${name}\"\n")
    else()
        string(APPEND install_programs "File \"${files_dir}/${name}\"\n")
        string(APPEND remove_programs "Delete \"$INSTDIR\\${name}\"\n")
        if(extension STREQUAL ".hlp")
            # The help engine's index, written beside the help file.
            get_filename_component(base "${name}" NAME_WLE)
            string(APPEND remove_programs "Delete \"$INSTDIR\\${base}.gid\"\n")
        endif()
    endif()
endforeach()
if(staged)
    file(REMOVE ${staged})
    set(newest_input "")
endif()

# The lists setup.nsi includes; rewritten only when they change.
function(write_list name content)
    set(path "${STAGE_DIR}/${name}")
    if(EXISTS "${path}")
        file(READ "${path}" old)
        if(old STREQUAL content)
            return()
        endif()
    endif()
    file(WRITE "${path}" "${content}")
endfunction()
write_list(install_programs.nsh "${install_programs}")
write_list(install_libraries.nsh "${install_libraries}")
write_list(remove_programs.nsh "${remove_programs}")
write_list(remove_libraries.nsh "${remove_libraries}")
foreach(list install_programs.nsh install_libraries.nsh remove_programs.nsh remove_libraries.nsh)
    if("${STAGE_DIR}/${list}" IS_NEWER_THAN "${newest_input}")
        set(newest_input "${STAGE_DIR}/${list}")
    endif()
endforeach()

if(EXISTS "${setup_program}" AND EXISTS "${zip_file}" AND NOT newest_input STREQUAL "" AND
   NOT "${newest_input}" IS_NEWER_THAN "${setup_program}")
    return()
endif()

execute_process(
    COMMAND "${MAKENSIS}" -V2 -WX
        "-DVERSION=${VERSION}" "-DPRODUCT=${PRODUCT_NAME}"
        "-DFILES_DIR=${files_dir}" "-DLISTS_DIR=${STAGE_DIR}" "-DOUTFILE=${setup_program}"
        "${SCRIPT}"
    RESULT_VARIABLE failed)
if(failed)
    file(REMOVE "${setup_program}")
    message(FATAL_ERROR "makensis could not make ${setup_program}")
endif()

# The zip: one folder named like the package, the programs and libraries
# side by side so that the programs find the libraries.
file(REMOVE "${zip_file}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E tar cf "${zip_file}" --format=zip "${PACKAGE_NAME}"
    WORKING_DIRECTORY "${STAGE_DIR}"
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "the zip ${zip_file} could not be made")
endif()
