// A growable, heap-owned UTF-16 text; c_str() is never null.
#pragma once
#include <stddef.h>
#include <wchar.h>

class WideString {
public:
    WideString() = default;
    ~WideString();
    WideString(WideString&& other) noexcept;
    WideString& operator=(WideString&& other) noexcept;
    WideString(const WideString&) = delete;
    WideString& operator=(const WideString&) = delete;

    // Each returns false when memory runs out; the text is then unchanged.
    bool Reserve(size_t chars);
    bool Assign(const wchar_t* text);
    bool Append(const wchar_t* text);
    bool Append(const wchar_t* text, size_t count);

    void Clear();
    // After writing into buffer(), fixes the length at the first NUL within the capacity.
    void SyncLength();

    const wchar_t* c_str() const { return m_text ? m_text : L""; }
    wchar_t* buffer() { return m_text; }
    size_t length() const { return m_length; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_length == 0; }

private:
    wchar_t* m_text = nullptr;
    size_t m_length = 0;
    size_t m_capacity = 0;  // characters, not counting the terminator's slot
};
