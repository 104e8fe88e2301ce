; Installer of "Star Atlas", a sample product whose files belong on the user's
; handheld. It installs them, records them as the product's install list, and
; ends by running handoff.exe, which asks the user to go ahead and hands each
; file to the handheld's desktop software. Copy it, and change the names below
; and the files of the section.
;
; Build it with handoff.exe beside this script:   makensis star-atlas.nsi
; Any name below can also be given on the command line, as our build does:
;   makensis -DTARGET=amd64-unicode -DHANDOFF_EXE=/path/to/handoff.exe star-atlas.nsi

!ifndef PRODUCT
  !define PRODUCT "Star Atlas"
!endif
; The store name: the install list lives under HKCU\Software\Varnolt\<store name>.
; Choose one that no other product uses.
!ifndef STORE
  !define STORE "StarAtlas"
!endif
; The file type that the handheld's desktop software opens and queues.
!ifndef FILE_EXT
  !define FILE_EXT ".hhq"
!endif
!ifndef HANDOFF_EXE
  !define HANDOFF_EXE "handoff.exe"
!endif
; The installer's architecture must be that of the handoff.exe it carries:
; x86-unicode for the 32-bit program, amd64-unicode for the 64-bit one.
!ifndef TARGET
  !define TARGET "x86-unicode"
!endif
!ifndef OUTFILE
  !define OUTFILE "StarAtlasSetup.exe"
!endif

Target ${TARGET}
Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Per user, never elevated: handoff.exe reads the list from the registry of the
; user it runs as, so the list must be written by that user, and an installer
; elevated under another account would write it into the wrong user's registry.
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"

Page directory
Page instfiles

Section
  SetOutPath "$INSTDIR"
  File "/oname=Field Notes${FILE_EXT}" "Field Notes.hhq"
  File "/oname=Star Charts${FILE_EXT}" "Star Charts.hhq"
  ; The prompt sends the user here if a file cannot be handed over.
  File "Manual Installation Instructions.txt"
  File "/oname=handoff.exe" "${HANDOFF_EXE}"

  ; The install list: the number of files, then the full path of each, in the
  ; order they are to reach the handheld. Only the first inscount entries are
  ; read, so entries left over from an earlier, longer list do no harm.
  WriteRegDWORD HKCU "Software\Varnolt\${STORE}" "inscount" 2
  WriteRegStr HKCU "Software\Varnolt\${STORE}" "ins0" "$INSTDIR\Field Notes${FILE_EXT}"
  WriteRegStr HKCU "Software\Varnolt\${STORE}" "ins1" "$INSTDIR\Star Charts${FILE_EXT}"

  ; The last step, taken in a silent install too: the files reach the handheld
  ; only once the user has pressed Ok in handoff.exe's prompt. The store name is
  ; quoted so that one with spaces stays one argument.
  ExecWait '"$INSTDIR\handoff.exe" "${STORE}"'
SectionEnd
