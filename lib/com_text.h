#ifndef K27_LIB_COM_TEXT_H_
#define K27_LIB_COM_TEXT_H_

// COM values as the journal writes them, and the system's errors as the
// kit's messages give them.

#include <windows.h>

#include <string>

std::string HresultText(HRESULT hr);  // "0x80004005"
std::string GuidText(const GUID& guid);  // "{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}"
// A Win32 error code as Windows words it, with its number: "Access is denied (error 5)".
std::string SystemErrorText(DWORD code);

#endif  // K27_LIB_COM_TEXT_H_
