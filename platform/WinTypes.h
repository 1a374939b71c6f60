#pragma once

#include <cstdint>

// The handful of fixed-width types that the Windows-like calls of this layer
// pass around. Handles are plain numbers in which 0 means "none"; a number is
// never handed out twice in one run, so a stale handle is refused instead of
// reaching a newer object.

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ATOM = std::uint16_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

using HANDLE = std::uintptr_t;
using HWND = std::uintptr_t;
using HINSTANCE = std::uintptr_t;
using HMENU = std::uintptr_t;
using HICON = std::uintptr_t;
using HCURSOR = std::uintptr_t;
using HBRUSH = std::uintptr_t;

constexpr WORD LOWORD(std::uintptr_t value) {
    return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HIWORD(std::uintptr_t value) {
    return static_cast<WORD>((value >> 16) & 0xFFFF);
}
constexpr WORD MAKEWORD(BYTE low, BYTE high) {
    return static_cast<WORD>(low | (high << 8));
}
constexpr BYTE LOBYTE(WORD value) {
    return static_cast<BYTE>(value & 0xFF);
}
constexpr BYTE HIBYTE(WORD value) {
    return static_cast<BYTE>(value >> 8);
}
