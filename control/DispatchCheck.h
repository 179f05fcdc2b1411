// The check of a page's dispatch call against the control's interface,
// made before the platform's dispatcher runs. Called on the thread that
// calls Invoke; the members' shapes are read once for the whole module.
#pragma once

#include <windows.h>
#include <oaidl.h>

// Refuses, with the codes the dispatcher itself gives, calls that some hosts'
// dispatchers accept and then leak the arguments of: surplus arguments, a
// later argument that cannot be converted, too few arguments, a named
// argument that names no parameter. info is the control's interface; its
// members are read from it on the first call only (type information does not
// change while the module is loaded). Unknown members pass: the dispatcher
// refuses them.
HRESULT CheckDispatchArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params, UINT* puArgErr);

// Frees the members read above; at module unload.
void ReleaseDispatchShapes();
