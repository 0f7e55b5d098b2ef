// The one place that includes <windows.h>. Everything else includes this
// header, so the target version and the macro hygiene are decided once.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>
#include <winternl.h>

// mingw's winternl.h declares only part of the NT layer we use; the rest
// comes from ntdll and is declared here.
extern "C" {
NTSYSAPI WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR SourceCharacter);
// RtlDosPathNameToNtPathName_U is declared by mingw's winternl.h itself.
NTSYSAPI VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
NTSYSAPI NTSTATUS NTAPI NtQueryFullAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes,
                                                  PFILE_NETWORK_OPEN_INFORMATION FileInformation);
}
