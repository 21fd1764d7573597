# The Windows program's icon, made from dovezurad.svg at build time, and its ZIP and installer
# (CPack's ZIP and NSIS, with Debian's makensis). Included by CMakeLists.txt instead of the
# Linux desktop files and Debian package.

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICOTOOL icotool REQUIRED)

# The sizes Windows picks from for lists, the Start menu, the taskbar and large icons; the
# largest is kept as PNG inside the .ico, as Windows Vista and later read it.
set(icon_sizes 16 24 32 48 64 256)
set(icon_images)
foreach(size ${icon_sizes})
    add_custom_command(OUTPUT icon-${size}.png
        COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o icon-${size}.png
                ${CMAKE_CURRENT_SOURCE_DIR}/dovezurad.svg
        DEPENDS dovezurad.svg
        VERBATIM)
    list(APPEND icon_images ${CMAKE_CURRENT_BINARY_DIR}/icon-${size}.png)
endforeach()
list(POP_BACK icon_images largest)
set(icon ${CMAKE_CURRENT_BINARY_DIR}/dovezurad.ico)
add_custom_command(OUTPUT dovezurad.ico
    COMMAND ${ICOTOOL} -c -o ${icon} ${icon_images} -r ${largest}
    DEPENDS ${icon_images} ${largest}
    VERBATIM)
add_custom_target(dovezurad_icon DEPENDS ${icon})

# IDI_ICON1 is the name Qt's windows platform looks for to give the window the program's icon.
string(REPLACE "." "," file_version "${PROJECT_VERSION}.0.0")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/dovezurad.rc "\
#include <winver.h>
IDI_ICON1 ICON \"${icon}\"
VS_VERSION_INFO VERSIONINFO
FILEVERSION ${file_version}
PRODUCTVERSION ${file_version}
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
BEGIN
    BLOCK \"StringFileInfo\"
    BEGIN
        BLOCK \"0c0a04b0\"
        BEGIN
            VALUE \"CompanyName\", \"Equipo de Dovezurad\"
            VALUE \"FileDescription\", \"Dovezurad: cambia los delimitadores de las etiquetas de los scripts\"
            VALUE \"FileVersion\", \"${PROJECT_VERSION}\"
            VALUE \"OriginalFilename\", \"dovezurad.exe\"
            VALUE \"ProductName\", \"Dovezurad\"
            VALUE \"ProductVersion\", \"${PROJECT_VERSION}\"
        END
    END
    BLOCK \"VarFileInfo\"
    BEGIN
        VALUE \"Translation\", 0x0c0a, 1200
    END
END
")
target_sources(dovezurad PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/dovezurad.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/dovezurad.rc TARGET_DIRECTORY dovezurad
                            PROPERTIES OBJECT_DEPENDS ${icon})
add_dependencies(dovezurad dovezurad_icon)

# CPack puts the Start-menu entries and the uninstaller's own entry under bin.
install(TARGETS dovezurad RUNTIME DESTINATION bin)
install(FILES copyright DESTINATION . RENAME copyright.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Dovezurad)
set(CPACK_PACKAGE_VENDOR "Equipo de Dovezurad")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME dovezurad-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Dovezurad)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "cambia los delimitadores de las etiquetas de los scripts de una carpeta")
# The Start-menu entry: bin/dovezurad.exe, shown as "Dovezurad" with the program's own icon.
set(CPACK_PACKAGE_EXECUTABLES dovezurad Dovezurad)
set(CPACK_STRIP_FILES ON)
# The installer shows the licence before it installs anything.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME Dovezurad)
set(CPACK_NSIS_PACKAGE_NAME Dovezurad)
set(CPACK_NSIS_MUI_ICON ${icon})
set(CPACK_NSIS_MUI_UNIICON ${icon})
set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\\\dovezurad.exe)
set(CPACK_NSIS_UNINSTALL_NAME Desinstalar)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer for a 64-bit program: it also runs where only 64-bit programs do (a Wine
# without its 32-bit half).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")

# CPack's installer speaks English first and picks another language by the system's. Its own
# template, with Spanish as the only language and its few texts of its own in Spanish, goes
# where CPack looks before its built-in one.
file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in nsis_template)
string(REGEX REPLACE "  !insertmacro MUI_LANGUAGE \"[A-Za-z]+\"[^\n]*\n" "" nsis_template
       "${nsis_template}")
string(REPLACE ";Languages\n" ";Languages\n  !insertmacro MUI_LANGUAGE \"Spanish\"\n" nsis_template
       "${nsis_template}")
# English texts of CPack's own and their Spanish ones, in pairs (no ";" in them: a list).
set(nsis_texts
    "\\Uninstall.lnk" "\\Desinstalar Dovezurad.lnk"
    "Uninstall failed." "No se pudo desinstalar."
    "Selected environment for all users" "Instalación para todos los usuarios"
    "Selected environment for current user only." "Instalación solo para el usuario actual.")
while(nsis_texts)
    list(POP_FRONT nsis_texts english spanish)
    string(FIND "${nsis_template}" "${english}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "CPack's NSIS template no longer has \"${english}\"")
    endif()
    string(REPLACE "${english}" "${spanish}" nsis_template "${nsis_template}")
endwhile()
if(NOT nsis_template MATCHES "MUI_LANGUAGE \"Spanish\"")
    message(FATAL_ERROR "CPack's NSIS template no longer lists its languages as expected")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/nsis/NSIS.template.in "${nsis_template}")
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_BINARY_DIR}/nsis)

include(CPack)
