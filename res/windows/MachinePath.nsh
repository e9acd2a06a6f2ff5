; The machine-wide PATH (HKLM ...\Session Manager\Environment, value Path):
; one entry added once, and exactly that entry taken out again. NSIS has no
; PATH editing of its own.
;
; NSIS strings hold at most ${NSIS_MAX_STRLEN} characters. A longer PATH
; cannot be read whole (ReadRegStr fails) and a sum that would not fit is
; never built: in both cases the PATH is left as it is and the caller is
; told, so that a long PATH is never written back cut short.

!include LogicLib.nsh
!include WinMessages.nsh

!define MACHINE_ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

; Defines ${UN}MachinePathWithout: $R0 = a PATH, $R1 = an entry. Gives
; $R2 = the PATH without every copy of the entry (compared without regard to
; case, with or without a trailing backslash), the other entries as they
; were, empty ones included; $R3 = how many copies were taken out.
!macro DEFINE_MACHINE_PATH_WITHOUT UN
Function ${UN}MachinePathWithout
  Push $0 ; start of the current entry
  Push $1 ; scan position
  Push $2 ; character at the scan position
  Push $3 ; the current entry
  Push $4 ; "1" once an entry has been kept
  StrCpy $R2 ""
  StrCpy $R3 0
  StrCpy $0 0
  StrCpy $1 0
  StrCpy $4 0
  ${Do}
    StrCpy $2 $R0 1 $1
    ${If} $2 == ";"
    ${OrIf} $2 == ""
      IntOp $3 $1 - $0
      StrCpy $3 $R0 $3 $0
      ${If} $3 == $R1
      ${OrIf} $3 == "$R1\"
        IntOp $R3 $R3 + 1
      ${Else}
        ${If} $4 == 1
          StrCpy $R2 "$R2;$3"
        ${Else}
          StrCpy $R2 $3
          StrCpy $4 1
        ${EndIf}
      ${EndIf}
      ${If} $2 == ""
        ${Break}
      ${EndIf}
      IntOp $0 $1 + 1
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend

; Reads the machine PATH into $R0. $R4 = "ok", or "too-long" when it holds
; more than an NSIS string can (then $R0 is empty and must not be written).
!macro DEFINE_READ_MACHINE_PATH UN
Function ${UN}ReadMachinePath
  ClearErrors
  ReadRegStr $R0 HKLM "${MACHINE_ENVIRONMENT_KEY}" Path
  StrCpy $R4 ok
  ${If} ${Errors}
    ; A missing value reads as an error too: an empty PATH is fine to
    ; extend, one that exists but did not fit is not.
    ClearErrors
    StrCpy $R6 0
    ${Do}
      EnumRegValue $R5 HKLM "${MACHINE_ENVIRONMENT_KEY}" $R6
      ${If} $R5 == ""
        ${Break}
      ${EndIf}
      ${If} $R5 == Path
        StrCpy $R4 too-long
        ${Break}
      ${EndIf}
      IntOp $R6 $R6 + 1
    ${Loop}
    StrCpy $R0 ""
  ${EndIf}
FunctionEnd
!macroend

!macro BROADCAST_ENVIRONMENT_CHANGE
  ; Explorer and other listeners read the new PATH for the programs they
  ; start from now on.
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

; AddToMachinePath: $R1 = the entry. $R3 = "added", "present" (it was
; there already: nothing written) or "too-long" (nothing written).
Function AddToMachinePath
  Call ReadMachinePath
  ${If} $R4 != ok
    StrCpy $R3 too-long
    Return
  ${EndIf}
  Call MachinePathWithout
  ${If} $R3 > 0
    StrCpy $R3 present
    Return
  ${EndIf}
  StrLen $R5 $R0
  StrLen $R6 $R1
  IntOp $R5 $R5 + $R6
  IntOp $R5 $R5 + 1 ; the separator
  ${If} $R5 >= ${NSIS_MAX_STRLEN}
    StrCpy $R3 too-long
    Return
  ${EndIf}
  StrCpy $R5 $R0 1 -1
  ${If} $R0 == ""
    StrCpy $R0 $R1
  ${ElseIf} $R5 == ";"
    StrCpy $R0 "$R0$R1"
  ${Else}
    StrCpy $R0 "$R0;$R1"
  ${EndIf}
  WriteRegExpandStr HKLM "${MACHINE_ENVIRONMENT_KEY}" Path $R0
  !insertmacro BROADCAST_ENVIRONMENT_CHANGE
  StrCpy $R3 added
FunctionEnd

; ${UN}RemoveFromMachinePath: $R1 = the entry. $R3 = "removed", "absent" or
; "too-long" (nothing written in the last two cases).
!macro DEFINE_REMOVE_FROM_MACHINE_PATH UN
Function ${UN}RemoveFromMachinePath
  Call ${UN}ReadMachinePath
  ${If} $R4 != ok
    StrCpy $R3 too-long
    Return
  ${EndIf}
  Call ${UN}MachinePathWithout
  ${If} $R3 == 0
    StrCpy $R3 absent
    Return
  ${EndIf}
  WriteRegExpandStr HKLM "${MACHINE_ENVIRONMENT_KEY}" Path $R2
  !insertmacro BROADCAST_ENVIRONMENT_CHANGE
  StrCpy $R3 removed
FunctionEnd
!macroend

; ${UN}TellPathUnchanged: after AddToMachinePath or RemoveFromMachinePath
; ($R1, $R3), tells the administrator when a PATH too long to edit was left
; as it was.
!macro DEFINE_TELL_PATH_UNCHANGED UN
Function ${UN}TellPathUnchanged
  ${If} $R3 == too-long
    MessageBox MB_ICONEXCLAMATION "The machine's PATH is too long to change safely, so \
      $R1 was neither added to it nor taken out of it. Change it by hand: System \
      Properties, Environment Variables." /SD IDOK
  ${EndIf}
FunctionEnd
!macroend

!insertmacro DEFINE_MACHINE_PATH_WITHOUT ""
!insertmacro DEFINE_MACHINE_PATH_WITHOUT "un."
!insertmacro DEFINE_READ_MACHINE_PATH ""
!insertmacro DEFINE_READ_MACHINE_PATH "un."
!insertmacro DEFINE_REMOVE_FROM_MACHINE_PATH ""
!insertmacro DEFINE_REMOVE_FROM_MACHINE_PATH "un."
!insertmacro DEFINE_TELL_PATH_UNCHANGED ""
!insertmacro DEFINE_TELL_PATH_UNCHANGED "un."
