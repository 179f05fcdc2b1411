// The file picker's user-visible message texts as the Korean ANSI code page
// (949) bytes that MessageBoxA takes; the UTF-8 form is beside each.
#pragma once

#include <string>

// "알림"
constexpr char kPickerNoticeCaption[] = "\xbe\xcb\xb8\xb2";

// "이름에 나타낼 수 없는 문자가 있어 올릴 수 없는 항목이 " N "개 있습니다!   "
// (three trailing spaces): entries of a listing or an add press that could
// not be offered, because neither their name nor a short name can be held.
constexpr char kPickerUnofferedBefore[] =
    "\xc0\xcc\xb8\xa7\xbf\xa1\x20\xb3\xaa\xc5\xb8\xb3\xbe\x20\xbc\xf6\x20\xbe\xf8\xb4\xc2\x20\xb9\xae\xc0\xda"
    "\xb0\xa1\x20\xc0\xd6\xbe\xee\x20\xbf\xc3\xb8\xb1\x20\xbc\xf6\x20\xbe\xf8\xb4\xc2\x20\xc7\xd7\xb8\xf1\xc0\xcc"
    "\x20";
constexpr char kPickerUnofferedAfter[] = "\xb0\xb3\x20\xc0\xd6\xbd\xc0\xb4\xcf\xb4\xd9\x21\x20\x20\x20";

inline std::string PickerUnofferedText(size_t count)
{
    return kPickerUnofferedBefore + std::to_string(count) + kPickerUnofferedAfter;
}
