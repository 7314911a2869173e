#include "base/wide_string.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

WideString::~WideString() { free(m_text); }

WideString::WideString(WideString&& other) noexcept
    : m_text(other.m_text), m_length(other.m_length), m_capacity(other.m_capacity) {
    other.m_text = nullptr;
    other.m_length = other.m_capacity = 0;
}

WideString& WideString::operator=(WideString&& other) noexcept {
    if (this != &other) {
        free(m_text);
        m_text = other.m_text;
        m_length = other.m_length;
        m_capacity = other.m_capacity;
        other.m_text = nullptr;
        other.m_length = other.m_capacity = 0;
    }
    return *this;
}

bool WideString::Reserve(size_t chars) {
    if (chars <= m_capacity && m_text) return true;
    if (chars >= SIZE_MAX / sizeof(wchar_t) - 1) return false;
    wchar_t* grown = static_cast<wchar_t*>(realloc(m_text, (chars + 1) * sizeof(wchar_t)));
    if (!grown) return false;
    if (!m_text) grown[0] = L'\0';
    m_text = grown;
    m_capacity = chars;
    return true;
}

bool WideString::Assign(const wchar_t* text) {
    size_t count = text ? wcslen(text) : 0;
    if (!Reserve(count)) return false;
    if (count) memmove(m_text, text, count * sizeof(wchar_t));
    m_text[count] = L'\0';
    m_length = count;
    return true;
}

bool WideString::Append(const wchar_t* text) { return Append(text, text ? wcslen(text) : 0); }

bool WideString::Append(const wchar_t* text, size_t count) {
    if (count > SIZE_MAX / 2 - m_length) return false;
    size_t needed = m_length + count;
    if (needed > m_capacity) {
        size_t grown = m_capacity * 2 > needed ? m_capacity * 2 : needed;
        if (!Reserve(grown) && !Reserve(needed)) return false;
    } else if (!Reserve(needed)) {
        return false;
    }
    if (count) memmove(m_text + m_length, text, count * sizeof(wchar_t));
    m_length = needed;
    m_text[m_length] = L'\0';
    return true;
}

void WideString::Clear() {
    m_length = 0;
    if (m_text) m_text[0] = L'\0';
}

void WideString::SyncLength() {
    if (!m_text) return;
    m_text[m_capacity] = L'\0';
    m_length = wcslen(m_text);
}
