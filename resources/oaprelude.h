/* Stands in for the header widl would generate from oaprelude.idl: the real
   declarations come from the platform headers. */
#pragma once
#include <windows.h>
#include <ocidl.h>
