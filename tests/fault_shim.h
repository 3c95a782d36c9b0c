// fault_shim.h -- force-included into the sweep build of the updater: its file operations, its windows and its
// start of the game go through fault_shim.cpp, which counts the operations, holds them to Windows' rules, fails or
// ends the run at one of them, and reports what the run did
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
HWND WINAPI shim_CreateDialogParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);
INT_PTR WINAPI shim_DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);
LRESULT WINAPI shim_SendMessageA(HWND, UINT, WPARAM, LPARAM);
BOOL WINAPI shim_SetWindowTextA(HWND, LPCSTR);
HRESULT WINAPI shim_CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *);
HINSTANCE WINAPI shim_ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

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
#define CreateDialogParamA shim_CreateDialogParamA
#define DialogBoxParamA shim_DialogBoxParamA
#define SendMessageA shim_SendMessageA
#define SetWindowTextA shim_SetWindowTextA
#define CoCreateInstance shim_CoCreateInstance
#define ShellExecuteA shim_ShellExecuteA
