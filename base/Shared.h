// Small pieces every part of the control uses: owners for platform handles,
// a COM smart pointer, early-return HRESULT macros and the text conversions
// at the scripting boundary. Safe on any thread.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <new>
#include <string>
#include <utility>

// ---------------------------------------------------------------------------
// HRESULT flow

// A zero last error must never turn a failure into S_OK.
inline HRESULT HResultFromLastError()
{
    DWORD err = GetLastError();
    return err == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(err);
}

#define RETURN_IF_FAILED(expr)                                  \
    do { HRESULT hr__ = (expr); if (FAILED(hr__)) return hr__; } while (0)
#define RETURN_HR_IF(hr, cond)                                  \
    do { if (cond) return (hr); } while (0)
#define RETURN_IF_WIN32_ERROR(expr)                             \
    do { LONG lr__ = (expr); if (lr__ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lr__); } while (0)
#define RETURN_LAST_ERROR_IF(cond)                              \
    do { if (cond) return HResultFromLastError(); } while (0)

// ---------------------------------------------------------------------------
// Handle owners: non-copyable, movable; Reset closes the old value first and
// keeps the caller's last error, Put releases and hands out the address.

template <typename Traits>
class CScopedValue
{
public:
    using Type = typename Traits::Type;

    CScopedValue() noexcept : m_value(Traits::Invalid()) {}
    explicit CScopedValue(Type value) noexcept : m_value(value) {}
    ~CScopedValue() { Reset(); }
    CScopedValue(const CScopedValue&) = delete;
    CScopedValue& operator=(const CScopedValue&) = delete;
    CScopedValue(CScopedValue&& other) noexcept : m_value(other.Detach()) {}
    CScopedValue& operator=(CScopedValue&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }

    Type Get() const noexcept { return m_value; }
    bool IsValid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    void Reset(Type value = Traits::Invalid()) noexcept
    {
        if (m_value != Traits::Invalid())
        {
            DWORD err = GetLastError();
            Traits::Close(m_value);
            SetLastError(err);
        }
        m_value = value;
    }
    Type* Put() noexcept
    {
        Reset();
        return &m_value;
    }
    Type Detach() noexcept
    {
        Type value = m_value;
        m_value = Traits::Invalid();
        return value;
    }

private:
    Type m_value;
};

struct HandleTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FileTraits
{
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindTraits
{
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct KeyTraits
{
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct HeapTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { HeapDestroy(h); }
};
struct GdiTraits
{
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};

struct LibraryTraits
{
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};

using CScopedHandle = CScopedValue<HandleTraits>;   // threads, processes, events
using CScopedFile = CScopedValue<FileTraits>;       // CreateFile results
using CScopedFind = CScopedValue<FindTraits>;       // FindFirstFile results
using CScopedKey = CScopedValue<KeyTraits>;         // registry keys
using CScopedHeap = CScopedValue<HeapTraits>;       // private heaps
using CScopedGdiObject = CScopedValue<GdiTraits>;   // bitmaps and other GDI objects
using CScopedLibrary = CScopedValue<LibraryTraits>; // module references from LoadLibrary

// A critical section that lives as long as its owner, and a scope that holds it.
class CCriticalSection
{
public:
    CCriticalSection() noexcept { InitializeCriticalSection(&m_section); }
    ~CCriticalSection() { DeleteCriticalSection(&m_section); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    void Enter() noexcept { EnterCriticalSection(&m_section); }
    void Leave() noexcept { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class CLock
{
public:
    explicit CLock(CCriticalSection& section) noexcept : m_section(section) { m_section.Enter(); }
    ~CLock() { m_section.Leave(); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CCriticalSection& m_section;
};

// ---------------------------------------------------------------------------
// BSTR and VARIANT owners

class CBstr
{
public:
    CBstr() noexcept = default;
    // Copies text. A BSTR just made is taken over with Reset, not this: the
    // copy would leave the new string behind.
    explicit CBstr(const wchar_t* text) : m_bstr(text ? SysAllocString(text) : nullptr) {}
    ~CBstr() { Reset(); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    CBstr(CBstr&& other) noexcept : m_bstr(other.Detach()) {}
    CBstr& operator=(CBstr&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }

    BSTR Get() const noexcept { return m_bstr; }
    UINT Length() const noexcept { return SysStringLen(m_bstr); }
    void Reset(BSTR value = nullptr) noexcept
    {
        if (m_bstr)
            SysFreeString(m_bstr);
        m_bstr = value;
    }
    BSTR* Put() noexcept
    {
        Reset();
        return &m_bstr;
    }
    BSTR Detach() noexcept
    {
        BSTR value = m_bstr;
        m_bstr = nullptr;
        return value;
    }

private:
    BSTR m_bstr = nullptr;
};

class CVariant : public VARIANT
{
public:
    CVariant() noexcept { VariantInit(this); }
    ~CVariant() { VariantClear(this); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    void Clear() noexcept { VariantClear(this); }
};

// A FUNCDESC of a type info, given back to it when the scope ends.
class CFuncDesc
{
public:
    explicit CFuncDesc(ITypeInfo* info) noexcept : m_info(info) {}
    ~CFuncDesc()
    {
        if (m_desc)
            m_info->ReleaseFuncDesc(m_desc);
    }
    CFuncDesc(const CFuncDesc&) = delete;
    CFuncDesc& operator=(const CFuncDesc&) = delete;
    FUNCDESC* operator->() const noexcept { return m_desc; }
    FUNCDESC** Put() noexcept
    {
        if (m_desc)
            m_info->ReleaseFuncDesc(m_desc);
        m_desc = nullptr;
        return &m_desc;
    }

private:
    ITypeInfo* m_info;
    FUNCDESC* m_desc = nullptr;
};


// ---------------------------------------------------------------------------
// COM interface pointer

template <typename T>
class CIfacePtr
{
public:
    CIfacePtr() noexcept = default;
    CIfacePtr(T* p) noexcept : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    CIfacePtr(const CIfacePtr& other) noexcept : CIfacePtr(other.m_p) {}
    CIfacePtr(CIfacePtr&& other) noexcept : m_p(other.Detach()) {}
    ~CIfacePtr() { Reset(); }
    CIfacePtr& operator=(const CIfacePtr& other) noexcept
    {
        if (this != &other)
        {
            T* p = other.m_p;
            if (p)
                p->AddRef();
            Reset();
            m_p = p;
        }
        return *this;
    }
    CIfacePtr& operator=(CIfacePtr&& other) noexcept
    {
        if (this != &other)
        {
            T* p = other.Detach();
            Reset();
            m_p = p;
        }
        return *this;
    }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    void Reset() noexcept
    {
        T* p = m_p;
        m_p = nullptr;
        if (p)
            p->Release();
    }
    T** Put() noexcept
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    T* Detach() noexcept
    {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    // Takes over a reference the caller already owns.
    void Attach(T* p) noexcept
    {
        Reset();
        m_p = p;
    }

private:
    T* m_p = nullptr;
};

// ---------------------------------------------------------------------------
// Text at the scripting boundary. Inside the control all text is narrow, in
// the thread's ANSI code page unless a method says otherwise.

// The thread's ANSI code page: CP_THREAD_ACP, which every supported Windows knows.
UINT ThreadAnsiCodePage();

// UTF-16 up to the first NUL to narrow text with the platform's own mapping
// (best fit included); a null pointer or a failed conversion gives "". Only
// for code pages that hold every character (UTF-8). Throws only std::bad_alloc.
std::string WideToNarrow(const wchar_t* text, UINT codePage);

// A page's text in narrow form, and whether the code page held it: text
// that has no exact form there (a character it lacks, or one the platform
// would map onto another, as the won sign onto the backslash) is never
// handed on changed. When held is false, text is empty and means nothing.
struct NarrowText
{
    std::string text;
    bool held = true;
};

// The one conversion of page text: UTF-16 up to its first NUL, never best
// fit. A null pointer is "" and held. Throws only std::bad_alloc.
NarrowText WideToNarrowText(const wchar_t* text, UINT codePage);
inline NarrowText BstrToNarrow(BSTR text, UINT codePage) { return WideToNarrowText(text, codePage); }
inline NarrowText BstrToNarrow(BSTR text) { return BstrToNarrow(text, ThreadAnsiCodePage()); }

// Narrow text to a new BSTR; "" gives an empty (not null) BSTR. Null only when
// memory runs out.
BSTR NarrowToBstr(const std::string& text, UINT codePage);
inline BSTR NarrowToBstr(const std::string& text) { return NarrowToBstr(text, ThreadAnsiCodePage()); }

// Narrow text in the given code page to UTF-16 (for platform calls that only take wide text).
std::wstring NarrowToWide(const std::string& text, UINT codePage);

// UTF-8, as a browser's messages carry text, to UTF-16 and back. Utf8ToWide
// answers false for bytes that are not well-formed UTF-8 (nothing is guessed);
// WideToUtf8 stops at the first NUL, as every text handed on does.
bool Utf8ToWide(const std::string& text, std::wstring& wide);
inline std::string WideToUtf8(const wchar_t* text) { return WideToNarrow(text, CP_UTF8); }
// UTF-8 text to exactly the narrow text a script string of the same
// characters gives (BstrToNarrow): through UTF-16, up to the first NUL.
// Bytes that are not UTF-8 are not held.
NarrowText Utf8ToNarrow(const std::string& text, UINT codePage);

// ASCII letters to upper case, for comparisons that ignore case.
std::string Upper(std::string text);

// Without leading and trailing spaces and tabs, for the entries of a build's lists.
std::string TrimBlanks(const std::string& text);

// ---------------------------------------------------------------------------
// The one failure policy of a COM method, export or callback body: no
// exception leaves it; running out of memory is E_OUTOFMEMORY, anything else
// E_UNEXPECTED.

template <typename Body>
HRESULT Guarded(Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
