// Module-wide state of the control DLL: its instance handle, the lock and
// object counts behind DllCanUnloadNow and the cached type information.
// Counts may change on any thread.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <string>

namespace Module
{
HINSTANCE Instance();
void SetInstance(HINSTANCE instance);

// Live control objects and LockServer locks.
void Lock();
void Unlock();
// Other live objects of the module: dialogs and their helpers.
void ObjectCreated();
void ObjectDestroyed();
bool CanUnload();

// Type information from the registered type library, loaded once per module.
HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** ppTypeInfo);
void ReleaseTypeInfo();

// Full path of the module file (GetModuleFileNameA). Fails when the path fills the buffer.
HRESULT GetModulePath(std::string& path);
}
