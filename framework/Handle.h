// Move-only owners for kernel and GDI handles: the close call lives in one place.
#pragma once

#include <windows.h>

#include <utility>

template <class Traits> class CHandleT {
public:
    using Type = typename Traits::Type;

    CHandleT() noexcept : m_h(Traits::Invalid()) {}
    explicit CHandleT(Type h) noexcept : m_h(h) {}
    ~CHandleT() { reset(); }

    CHandleT(const CHandleT&) = delete;
    CHandleT& operator=(const CHandleT&) = delete;
    CHandleT(CHandleT&& other) noexcept : m_h(other.release()) {}
    CHandleT& operator=(CHandleT&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const noexcept { return m_h; }
    bool valid() const noexcept { return m_h != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes the held value (if any) and takes ownership of h.
    void reset(Type h = Traits::Invalid()) noexcept {
        if (valid())
            Traits::Close(m_h);
        m_h = h;
    }
    Type release() noexcept { return std::exchange(m_h, Traits::Invalid()); }

    // For out-parameters: closes the old value first.
    Type* put() noexcept {
        reset();
        return &m_h;
    }

private:
    Type m_h;
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// CreateFile and FindFirstFile report failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};

struct LibraryTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

// Icons and cursors we made ourselves (copies); shared ones from LoadIcon/LoadCursor are
// never destroyed.
struct IconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyIcon(h); }
};

using CKernelHandle = CHandleT<KernelHandleTraits>;
using CFileHandle = CHandleT<FileHandleTraits>;
using CFindHandle = CHandleT<FindHandleTraits>;
using CGdiHandle = CHandleT<GdiObjectTraits>;
using CLibraryHandle = CHandleT<LibraryTraits>;
using CIconHandle = CHandleT<IconTraits>;
