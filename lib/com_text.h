#ifndef K27_LIB_COM_TEXT_H_
#define K27_LIB_COM_TEXT_H_

// COM values as the journal writes them.

#include <windows.h>

#include <string>

std::string HresultText(HRESULT hr);  // "0x80004005"
std::string GuidText(const GUID& guid);  // "{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}"

#endif  // K27_LIB_COM_TEXT_H_
