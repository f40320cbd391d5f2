// Basic types of the window-system stand-in. Handles are opaque pointers owned by the stand-in.
#pragma once

#include <cstdint>

struct HWND__;
struct HINSTANCE__;
struct HCURSOR__;
struct HFONT__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HCURSOR = HCURSOR__*;
using HFONT = HFONT__*;

using UINT = unsigned int;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using COLORREF = std::uint32_t;
// Same types as the host stand-in's, so both headers may be included together.
using DWORD = std::uint32_t;
using BOOL = int;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
using LONG_PTR = std::intptr_t;
using LPCSTR = const char*;
using LPSTR = char*;
using HANDLE = void*;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
    LONG left = 0, top = 0, right = 0, bottom = 0;
};
struct POINT {
    LONG x = 0, y = 0;
};

inline constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xff) | ((g & 0xff) << 8) | ((b & 0xff) << 16));
}
inline constexpr WORD LOWORD(std::uintptr_t v) {
    return static_cast<WORD>(v & 0xffff);
}
inline constexpr WORD HIWORD(std::uintptr_t v) {
    return static_cast<WORD>((v >> 16) & 0xffff);
}
inline constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) {
    return static_cast<WPARAM>(lo) | (static_cast<WPARAM>(hi) << 16);
}
