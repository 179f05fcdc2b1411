// The job record a companion program receives, in its list file or as the
// data of a WM_COPYDATA message: a 12-byte header (kind, text length with its
// NUL, reserved), then the text and a NUL. The header is the image of the
// 32-bit COPYDATASTRUCT and keeps that layout in the 64-bit build too. Pure
// byte logic, any thread.
#pragma once

#include <cstdint>
#include <string>

class CJobRecord
{
public:
    static const size_t kHeaderSize = 12;

    enum Kind : uint32_t
    {
        kUpload = 2,
        kDownload = 7,
        kWebLink = 8,
    };

    // Header and text with its NUL, ready for one write. The three header
    // fields are 32-bit little-endian whatever the width of pointers.
    static std::string Build(uint32_t kind, const std::string& text, uint32_t reserved);

    // The length field for a text: its bytes plus the NUL.
    static uint32_t TextLength(const std::string& text);
};
