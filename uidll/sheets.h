// The property sheets of the library and the pages they carry.
#pragma once
#include "driverui.h"
#include "sheetstate.h"

LONG ShowCommonPropertySheet(HWND hWndOwner, PFNPROPSHEETUI_API pfnSheet, LPARAM lParam, DWORD *pdwResult);
LONG DocumentPropertiesCore(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName, PDEVMODEW pdmOut, PDEVMODEW pdmIn,
                            DWORD fMode);
LONG DocumentPropertiesNoUi(DOCUMENTPROPERTYHEADER *pHeader);
void AddSheetPage(PPROPSHEETUI_INFO pInfo, int nTemplate, DWORD dwFlags, DLGPROC pfnDlgProc,
                  LPFNPSPCALLBACKW pfnCallback, SheetState *pState);

INT_PTR CALLBACK SettingsPageProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
UINT CALLBACK SettingsPageCallback(HWND hWnd, UINT uMsg, LPPROPSHEETPAGEW pPage);
INT_PTR CALLBACK InformationPageProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void PaintBitmapCentered(HWND hWnd, int nBitmap, int nPlaceholder);
BOOL SendRawBuffer(SheetState *pState, const BYTE *pBytes, DWORD cbBytes);
BOOL PrintFileRaw(SheetState *pState, LPCWSTR pszPath);
LPWSTR GetHelpFilePath();

