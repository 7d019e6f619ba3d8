; The setup program of Network DDE Shares: installs, upgrades and removes the
; status program, Marrowby, the agent and the client node in a program folder,
; and the libraries Tessaflat.dll and Tessaseg.dll in the system folder as
; shared libraries. The share store (the user's DDE shares) is never touched.
;
; The build (setup/package.cmake) defines:
;   VERSION    the product version, x.y.z
;   PRODUCT    the product name
;   FILES_DIR  the staged files
;   LISTS_DIR  the generated lists of programs and libraries to install/remove
;   OUTFILE    the setup program to write
;
; /S installs or uninstalls silently, /D=folder chooses the program folder.

Unicode false               ; an ANSI program, as Windows 95 runs it
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include Library.nsh
!include LogicLib.nsh
!include WinMessages.nsh

!define SYNCHRONIZE 0x00100000
!define WAIT_OBJECT_0 0

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\NetworkDdeShares"
!define HELP_KEY "Software\Microsoft\Windows\Help"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"
!define STATUS_LINK "Network DDE Status.lnk"
!define MARROWBY_LINK "Marrowby.lnk"
!define AGENT_LINK "Network DDE Agent.lnk"
!define HELP_LINK "Network DDE Status Help.lnk"
!define UNINSTALL_LINK "Uninstall ${PRODUCT}.lnk"
; The main windows the running programs are found by.
!define AGENT_CLASS "NDdeAgent"
!define STATUS_CLASS "Quorvane"
!define MARROWBY_CLASS "#32770"
!define FRONT_END_TITLE "32-bit Network DDE Status"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
; A file that cannot be written stops the installation (Retry or Cancel;
; silently: cancel) instead of leaving an old file behind.
AllowSkipFiles off
; The list of steps stays behind "Show details": its long paths do not fit.
ShowInstDetails hide
ShowUninstDetails hide

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "Setup of ${PRODUCT} ${VERSION}"
VIAddVersionKey LegalCopyright "${PRODUCT} developers"

; "" on a first installation, "1" when an installation is already there: the
; shared libraries' counts then stay as they are.
Var AlreadyInstalled

; ---- Pages --------------------------------------------------------------------------
!define MUI_ABORTWARNING
!define MUI_ABORTWARNING_TEXT "Leave Setup? ${PRODUCT} is not installed yet."
!define MUI_UNABORTWARNING
!define MUI_UNABORTWARNING_TEXT "Leave without removing ${PRODUCT}?"

!define MUI_WELCOMEPAGE_TITLE "Welcome to ${PRODUCT} ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Setup installs the Network DDE Status program, its second front end Marrowby and the Network DDE agent, with the libraries Tessaflat.dll and Tessaseg.dll that 32-bit programs use to manage DDE shares.$\r$\n$\r$\nAn older version is upgraded in place; your DDE shares are kept. Running status programs and a running agent are asked to close first.$\r$\n$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME

!define MUI_PAGE_HEADER_TEXT "Choose Components"
!define MUI_PAGE_HEADER_SUBTEXT "Choose whether the Network DDE agent starts with Windows."
!define MUI_COMPONENTSPAGE_TEXT_TOP "The programs, the libraries and their Start menu entries are always installed. Tick the agent's Startup entry to start the agent every time Windows starts."
!define MUI_COMPONENTSPAGE_TEXT_COMPLIST "Parts to install:"
; The description below the list, so that the list has the page's width.
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_COMPONENTSPAGE_TEXT_DESCRIPTION_INFO "Point at a part to read what it does."
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_PAGE_HEADER_TEXT "Choose the Program Folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose where the programs of ${PRODUCT} go."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup puts the status programs, the agent and the client node in the folder below. The libraries go to the Windows system folder, where every program finds them. To choose another folder, click Browse."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Program folder"
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "Installing"
!define MUI_PAGE_HEADER_SUBTEXT "Setup copies the programs and libraries of ${PRODUCT}."
; The page stays when done, so that its list of steps can be read.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Installation Complete"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${PRODUCT} ${VERSION} is installed."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Installation Stopped"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "${PRODUCT} was not installed completely."
!insertmacro MUI_PAGE_INSTFILES
; The page leaves its abort header defined (it forgets them, unlike the others).
!undef MUI_INSTFILESPAGE_ABORTHEADER_TEXT
!undef MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT

!define MUI_FINISHPAGE_TITLE "${PRODUCT} ${VERSION} Is Installed"
!define MUI_FINISHPAGE_TEXT "Start the programs from the Start menu, folder ${PRODUCT}. The status programs need the Network DDE agent running to show shares and sessions.$\r$\n$\r$\nClick Finish to close Setup."
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Network DDE Status and the agent"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgramsNow
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_HEADER_TEXT "Remove ${PRODUCT}"
!define MUI_PAGE_HEADER_SUBTEXT "Remove the programs; your DDE shares are kept."
!define MUI_UNCONFIRMPAGE_TEXT_TOP "Setup removes ${PRODUCT} ${VERSION} and its Start menu entries. Your DDE shares are kept in the share store. Tessaflat.dll and Tessaseg.dll are removed only when no other program uses them."
!define MUI_UNCONFIRMPAGE_TEXT_LOCATION "Removing from:"
!insertmacro MUI_UNPAGE_CONFIRM

!define MUI_PAGE_HEADER_TEXT "Removing"
!define MUI_PAGE_HEADER_SUBTEXT "Setup removes the programs of ${PRODUCT}."
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Removal Complete"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${PRODUCT} is removed; your DDE shares are kept."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Removal Stopped"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "${PRODUCT} was not removed completely."
!insertmacro MUI_UNPAGE_INSTFILES

!define MUI_FINISHPAGE_TITLE "${PRODUCT} Is Removed"
!define MUI_FINISHPAGE_TEXT "The programs of ${PRODUCT} ${VERSION} are removed. Your DDE shares are kept in the share store.$\r$\n$\r$\nClick Finish to close Setup."
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; ---- Running programs ---------------------------------------------------------------
; Asks a running program (found by its main window) to close and waits up
; to five seconds for its process to end: a program's files cannot be
; replaced while it runs. When it stays, the user is told which program to
; close and may retry; a silent run, or a user who cancels, stops here with
; exit code 2, before any file is replaced.
!macro CLOSE_PROGRAM CLASS TITLE NAME
    !define CLOSE_ID ${__LINE__}
    close_${CLOSE_ID}:
    FindWindow $0 "${CLASS}" "${TITLE}"
    ${If} $0 <> 0
        DetailPrint "Asking ${NAME} to close"
        System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
        System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2'
        ; Posted, as a click on the close box is: a program waiting for its
        ; next message may not look at its windows after a sent one.
        System::Call 'user32::PostMessage(p r0, i ${WM_CLOSE}, i 0, i 0)'
        System::Call 'kernel32::WaitForSingleObject(p r2, i 5000) i .r3'
        System::Call 'kernel32::CloseHandle(p r2)'
        ${If} $3 = ${WAIT_OBJECT_0}
            Goto close_${CLOSE_ID}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${NAME} is still running. Close it, then click Retry." /SD IDCANCEL IDRETRY close_${CLOSE_ID}
        SetErrorLevel 2
        Abort "${NAME} is still running."
    ${EndIf}
    !undef CLOSE_ID
!macroend

!macro CLOSE_RUNNING_PROGRAMS PREFIX
Function ${PREFIX}CloseRunningPrograms
    !insertmacro CLOSE_PROGRAM "${STATUS_CLASS}" "${FRONT_END_TITLE}" "The Network DDE Status program (quorvstat)"
    !insertmacro CLOSE_PROGRAM "${MARROWBY_CLASS}" "${FRONT_END_TITLE}" "Marrowby"
    !insertmacro CLOSE_PROGRAM "${AGENT_CLASS}" "" "The Network DDE agent (nddeagent)"
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_PROGRAMS ""
!insertmacro CLOSE_RUNNING_PROGRAMS "un."

; ---- Installation -------------------------------------------------------------------
Section "Programs and libraries" SecPrograms
    SectionIn RO
    Call CloseRunningPrograms

    SetOutPath "$INSTDIR"
    !include "${LISTS_DIR}\install_programs.nsh"
    !include "${LISTS_DIR}\install_libraries.nsh"

    ; Help on help goes to the Windows folder, where the help engine looks,
    ; only when Windows has none; the system's own is never replaced.
    !if /FileExists "${FILES_DIR}\winhelp.hlp"
        ${IfNot} ${FileExists} "$WINDIR\winhelp.hlp"
            SetOutPath "$WINDIR"
            File "${FILES_DIR}\winhelp.hlp"
            WriteRegDWORD HKLM "${UNINSTALL_KEY}" "InstalledHelpOnHelp" 1
        ${EndIf}
    !endif

    ; The help engine finds the product's help through Windows' list of help
    ; folders. Wine's help viewer reads no such list and looks in the Windows
    ; folder, so under Wine a copy goes there too.
    !if /FileExists "${FILES_DIR}\quorvhelp.hlp"
        WriteRegStr HKLM "${HELP_KEY}" "quorvhelp.hlp" "$INSTDIR"
        ClearErrors
        EnumRegKey $0 HKLM "Software\Wine" 0
        ${IfNot} ${Errors}
            SetOutPath "$WINDIR"
            File "${FILES_DIR}\quorvhelp.hlp"
            WriteRegDWORD HKLM "${UNINSTALL_KEY}" "InstalledHelpCopy" 1
        ${EndIf}
    !endif

    SetShellVarContext all
    CreateDirectory "${MENU_FOLDER}"
    CreateShortCut "${MENU_FOLDER}\${STATUS_LINK}" "$INSTDIR\quorvstat.exe" "" "" "" SW_SHOWNORMAL "" "Show and manage the Network DDE shares and sessions"
    CreateShortCut "${MENU_FOLDER}\${MARROWBY_LINK}" "$INSTDIR\Marrowby.exe" "" "" "" SW_SHOWNORMAL "" "The second Network DDE status program"
    ; Chosen from the menu, the agent opens its window (a running one's too).
    CreateShortCut "${MENU_FOLDER}\${AGENT_LINK}" "$INSTDIR\nddeagent.exe" "/show" "" "" SW_SHOWNORMAL "" "Start the Network DDE agent"
    !if /FileExists "${FILES_DIR}\quorvhelp.hlp"
        CreateShortCut "${MENU_FOLDER}\${HELP_LINK}" "$INSTDIR\quorvhelp.hlp"
    !endif
    CreateShortCut "${MENU_FOLDER}\${UNINSTALL_LINK}" "$INSTDIR\Uninstall.exe"
    ; The Startup entry is there only while its component is chosen.
    Delete "$SMSTARTUP\${AGENT_LINK}"

    WriteUninstaller "$INSTDIR\Uninstall.exe"
SectionEnd

Section "Start the agent with Windows" SecStartup
    SetShellVarContext all
    ; Started with Windows, the agent waits in the notification area, its window hidden.
    CreateShortCut "$SMSTARTUP\${AGENT_LINK}" "$INSTDIR\nddeagent.exe" "" "" "" SW_SHOWNORMAL "" "Start the Network DDE agent"
SectionEnd

; The Add/Remove Programs entry, written last with the installed size.
Section "-Add/Remove Programs entry"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT} developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvstat.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize ${SecPrograms} $0
    SectionGetSize ${SecStartup} $1
    IntOp $0 $0 + $1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0   ; in kilobytes
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecPrograms} "The Network DDE Status program, Marrowby, the agent and the client node, the libraries Tessaflat.dll and Tessaseg.dll, and their Start menu entries."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecStartup} "An entry in the Startup group, so that the Network DDE agent runs whenever Windows starts."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "UninstallString"
    ${If} $0 != ""
        StrCpy $AlreadyInstalled 1
    ${EndIf}
FunctionEnd

Function StartProgramsNow
    FindWindow $0 "${AGENT_CLASS}"
    ${If} $0 = 0
        Exec '"$INSTDIR\nddeagent.exe"'
    ${EndIf}
    Exec '"$INSTDIR\quorvstat.exe"'
FunctionEnd

; ---- Removal ------------------------------------------------------------------------
Section "Uninstall"
    Call un.CloseRunningPrograms

    !include "${LISTS_DIR}\remove_programs.nsh"
    !include "${LISTS_DIR}\remove_libraries.nsh"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "InstalledHelpOnHelp"
    ${If} $0 = 1
        Delete "$WINDIR\winhelp.hlp"
    ${EndIf}
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "InstalledHelpCopy"
    ${If} $0 = 1
        Delete "$WINDIR\quorvhelp.hlp"
    ${EndIf}
    ReadRegStr $0 HKLM "${HELP_KEY}" "quorvhelp.hlp"
    ${If} $0 == "$INSTDIR"
        DeleteRegValue HKLM "${HELP_KEY}" "quorvhelp.hlp"
    ${EndIf}

    SetShellVarContext all
    Delete "${MENU_FOLDER}\${STATUS_LINK}"
    Delete "${MENU_FOLDER}\${MARROWBY_LINK}"
    Delete "${MENU_FOLDER}\${AGENT_LINK}"
    Delete "${MENU_FOLDER}\${HELP_LINK}"
    Delete "${MENU_FOLDER}\${UNINSTALL_LINK}"
    RMDir "${MENU_FOLDER}"
    Delete "$SMSTARTUP\${AGENT_LINK}"

    ; The agent's log file and the one it rolled over, beside it.
    Delete "$INSTDIR\nddeagent.log"
    Delete "$INSTDIR\nddeagent.log.1"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DetailPrint "Your DDE shares are kept in the share store."
SectionEnd
