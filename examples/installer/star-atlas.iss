; Installer of "Star Atlas" for Inno Setup 6, the same sample product as
; star-atlas.nsi and star-atlas.wxs. It installs the files for the current
; user, records them as the product's install list, and ends by running
; handoff.exe, which asks the user to go ahead and hands each file to the
; handheld's desktop software. Copy it, and change the names and the AppId
; below and the files of [Files].
;
; Build it with handoff.exe beside this script:   ISCC star-atlas.iss
; Any name below can also be given on the command line, as our build does:
;   ISCC /DStore=MyStore /DHandoffExe=C:\path\to\handoff.exe /DArchitecture=x64compatible star-atlas.iss

#ifndef Product
  #define Product "Star Atlas"
#endif
; The store name: the install list lives under HKCU\Software\Varnolt\<store name>.
; Choose one that no other product uses.
#ifndef Store
  #define Store "StarAtlas"
#endif
; The file type that the handheld's desktop software opens and queues.
#ifndef FileExt
  #define FileExt ".hhq"
#endif
#ifndef HandoffExe
  #define HandoffExe "handoff.exe"
#endif
; Your product's own identity, which names its uninstall entry: make a new one
; for a copy of this file. The first brace is doubled, as Inno Setup wants.
#ifndef AppId
  #define AppId "{{5D3B7A0E-2C41-4F8B-9E6A-1B7C0F2D9A63}"
#endif
#ifndef Version
  #define Version "1.0.0"
#endif
; Setup itself is a 32-bit program. It must install the handoff.exe of its own
; architecture: leave this empty for the 32-bit program, and give
; x64compatible for the 64-bit one, which then installs in 64-bit mode and
; refuses a Windows that cannot run it.
#ifndef Architecture
  #define Architecture ""
#endif
#ifndef OutputName
  #define OutputName "StarAtlasSetup"
#endif

[Setup]
AppId={#AppId}
AppName={#Product}
AppVersion={#Version}
AppPublisher=Varnolt
; Per user, never elevated: handoff.exe reads the list from the registry of the
; user it runs as, so the list must be written by that user, and an installer
; elevated under another account would write it into the wrong user's registry.
PrivilegesRequired=lowest
DefaultDirName={localappdata}\Programs\{#Product}
DisableProgramGroupPage=yes
OutputDir=.
OutputBaseFilename={#OutputName}
ArchitecturesAllowed={#Architecture}
ArchitecturesInstallIn64BitMode={#Architecture}
; handoff.exe always ends with 0 and asks for no restart.
RestartIfNeededByRun=no
; Signing, which Setup and its uninstaller need (see the README's "Signing"):
; on Windows, give the compiler a Sign Tool, and it signs Setup, the
; uninstaller and the copies of itself that Setup runs, as it compiles:
;   ISCC "/Smysign=signtool.exe sign /fd sha256 /tr <time-stamp URL> /td sha256 /a $f" star-atlas.iss
; with this line here:   SignTool=mysign
; Where no Sign Tool can run, give a folder for the signed uninstaller:
;   ISCC /DSignedUninstallerDir=C:\path\to\folder star-atlas.iss
; The first compile writes the uninstaller there and stops; sign that file
; where it is, compile again, then sign the Setup program it made.
#ifdef SignedUninstallerDir
SignedUninstaller=yes
SignedUninstallerDir={#SignedUninstallerDir}
#endif

[Languages]
Name: "english"; MessagesFile: "compiler:Default.isl"

[Files]
Source: "Field Notes.hhq"; DestDir: "{app}"; DestName: "Field Notes{#FileExt}"
Source: "Star Charts.hhq"; DestDir: "{app}"; DestName: "Star Charts{#FileExt}"
; The prompt sends the user here if a file cannot be handed over.
Source: "Manual Installation Instructions.txt"; DestDir: "{app}"
Source: "{#HandoffExe}"; DestDir: "{app}"; DestName: "handoff.exe"

; The install list: the number of files, then the full path of each, in the
; order they are to reach the handheld. Only the first inscount entries are
; read, so entries left over from an earlier, longer list do no harm. The
; uninstaller deletes the list's key, and Varnolt's once no other product's
; list is left in it.
[Registry]
Root: HKCU; Subkey: "Software\Varnolt"; Flags: uninsdeletekeyifempty
Root: HKCU; Subkey: "Software\Varnolt\{#Store}"; Flags: uninsdeletekey
Root: HKCU; Subkey: "Software\Varnolt\{#Store}"; ValueType: dword; ValueName: "inscount"; ValueData: "2"
Root: HKCU; Subkey: "Software\Varnolt\{#Store}"; ValueType: string; ValueName: "ins0"; ValueData: "{app}\Field Notes{#FileExt}"
Root: HKCU; Subkey: "Software\Varnolt\{#Store}"; ValueType: string; ValueName: "ins1"; ValueData: "{app}\Star Charts{#FileExt}"

; The last step, taken in a silent install too (no skipifsilent): the files
; reach the handheld only once the user has pressed Ok in handoff.exe's
; prompt, and Setup waits for that (waituntilterminated) before it ends. Not
; postinstall, which would make it a box to tick on the last page. The store
; name is quoted so that one with spaces stays one argument.
[Run]
Filename: "{app}\handoff.exe"; Parameters: """{#Store}"""; Flags: waituntilterminated
