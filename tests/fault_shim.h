// fault_shim.h -- force-included into the sweep build of the updater: its file operations and its result
// dialog go through fault_shim.cpp, which counts the operations and fails or ends the run at one of them
#pragma once

#include <windows.h>

HANDLE WINAPI shim_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL WINAPI shim_ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI shim_WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI shim_FlushFileBuffers(HANDLE);
BOOL WINAPI shim_CloseHandle(HANDLE);
BOOL WINAPI shim_MoveFileExA(LPCSTR, LPCSTR, DWORD);
BOOL WINAPI shim_CopyFileA(LPCSTR, LPCSTR, BOOL);
BOOL WINAPI shim_CreateHardLinkA(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);
BOOL WINAPI shim_DeleteFileA(LPCSTR);
BOOL WINAPI shim_SetFileAttributesA(LPCSTR, DWORD);
DWORD WINAPI shim_GetFileAttributesA(LPCSTR);
INT_PTR WINAPI shim_DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);

#define CreateFileA shim_CreateFileA
#define ReadFile shim_ReadFile
#define WriteFile shim_WriteFile
#define FlushFileBuffers shim_FlushFileBuffers
#define CloseHandle shim_CloseHandle
#define MoveFileExA shim_MoveFileExA
#define CopyFileA shim_CopyFileA
#define CreateHardLinkA shim_CreateHardLinkA
#define DeleteFileA shim_DeleteFileA
#define SetFileAttributesA shim_SetFileAttributesA
#define GetFileAttributesA shim_GetFileAttributesA
#define DialogBoxParamA shim_DialogBoxParamA
