// Small owners of Windows resources, so that every way out of a step releases what it took.
#pragma once
#include <windows.h>
#include <stdlib.h>

template <typename T, T Empty, void (*Release)(T)>
class Owned {
public:
    Owned() : m_value(Empty) {}
    explicit Owned(T value) : m_value(value) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T get() const { return m_value; }
    explicit operator bool() const { return m_value != Empty; }
    T* out() { reset(); return &m_value; }
    T release() { T v = m_value; m_value = Empty; return v; }
    void reset(T value = Empty) {
        if (m_value != Empty) Release(m_value);
        m_value = value;
    }

private:
    T m_value;
};

namespace owned_detail {
inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void CloseKey(HKEY k) { RegCloseKey(k); }
inline void ReleaseModule(HMODULE m) { FreeLibrary(m); }
inline void FreeSidBlock(PSID s) { FreeSid(s); }
inline void FreeHeapBlock(void* p) { free(p); }
}  // namespace owned_detail

using OwnedHandle = Owned<HANDLE, nullptr, owned_detail::CloseKernelHandle>;
using OwnedKey = Owned<HKEY, nullptr, owned_detail::CloseKey>;
using OwnedModule = Owned<HMODULE, nullptr, owned_detail::ReleaseModule>;
using OwnedSid = Owned<PSID, nullptr, owned_detail::FreeSidBlock>;
using OwnedBlock = Owned<void*, nullptr, owned_detail::FreeHeapBlock>;

// Looks up an export with the type the caller declares for it.
template <typename Fn>
Fn LookupProc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
