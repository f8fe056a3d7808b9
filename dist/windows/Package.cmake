# Brevomat for Windows: a zip to unpack anywhere and an installer (cpack -G "ZIP;NSIS"), one each
# for 64-bit and 32-bit Windows.
#   brevomat.exe           the window on the printer port (DLPortIO.dll and DLPortIO.SYS, or on
#                          64-bit Windows inpoutx64.dll, go beside it; they are not part of this)
#   brevomat-virtual.exe   the same window on a virtual cart that needs no hardware
#   brevomat-cli.exe       the commands from the command line
# The installer puts a Start-menu entry for each window program. Both keep config.sav (and the
# demo its virtual-cart folder) in the folder they are started in; the entries start them in the
# user's Documents folder, since a program's own folder under Program Files is not the user's to
# write.
foreach(program brevomat brevomat-virtual brevomat-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION .)
  endif()
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README.txt DESTINATION .)
# The licence, GPL 3 or later: beside the programs, and a page of the installer to read before
# installing.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(architecture win64)
else()
  set(architecture win32)
endif()
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Brevomat)
set(CPACK_PACKAGE_VENDOR Tarvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Game Boy Advance flash cart programmer for a printer-port adapter")
set(CPACK_PACKAGE_FILE_NAME Brevomat-${PROJECT_VERSION}-${architecture})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Brevomat)
set(CPACK_STRIP_FILES ON)
set(CPACK_NSIS_DISPLAY_NAME "Tarvex Brevomat 1.2nt")
set(CPACK_NSIS_PACKAGE_NAME "Tarvex Brevomat 1.2nt")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/win/brevomat.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/win/brevomat.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME brevomat.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# WinVer.nsh tells the Windows the installer runs on (below).
if(architecture STREQUAL win64)
  # A 64-bit installer for the 64-bit programs: it installs into the 64-bit Program Files.
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DEFINES "Target amd64-unicode\n  !include WinVer.nsh")
else()
  # The 32-bit installer runs on Windows XP as well (NSIS's own installer is a 32-bit program that
  # asks for nothing newer).
  set(CPACK_NSIS_DEFINES "!include WinVer.nsh")
endif()
# The Start-menu entries, each starting its program in the user's Documents folder (the shortcut's
# working folder is $OUTDIR when it is made; the shell expands the variable when it starts it).
# Windows XP has no %USERPROFILE%\Documents: its Documents folder has a name of the system's
# language ("My Documents", "Eigene Dateien"), so there the entries start in the Documents folder
# of the user who installs.
set(CPACK_NSIS_CREATE_ICONS_EXTRA "
  Push $OUTDIR
  \\\${If} \\\${AtLeastWinVista}
    StrCpy $OUTDIR '%USERPROFILE%\\\\Documents'
  \\\${Else}
    SetShellVarContext current
    StrCpy $OUTDIR $DOCUMENTS
    \\\${If} $SV_ALLUSERS == 'AllUsers'
      SetShellVarContext all
    \\\${EndIf}
  \\\${EndIf}
  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Tarvex Brevomat 1.2nt.lnk' '$INSTDIR\\\\brevomat.exe'
  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Brevomat on a virtual cart.lnk' '$INSTDIR\\\\brevomat-virtual.exe'
  Pop $OUTDIR
")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "
  Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Tarvex Brevomat 1.2nt.lnk'
  Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Brevomat on a virtual cart.lnk'
")
include(CPack)
