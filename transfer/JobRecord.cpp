// Job records for the list files and WM_COPYDATA. Pure byte logic, any thread.
#include "transfer/JobRecord.h"

#include <stdexcept>

namespace
{
void PutLittleEndian32(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
    out.push_back(static_cast<char>((value >> 16) & 0xFF));
    out.push_back(static_cast<char>((value >> 24) & 0xFF));
}
}

uint32_t CJobRecord::TextLength(const std::string& text)
{
    // The length field is 32 bits wide and the whole record goes out in one
    // write of at most 4 GB; a text that does not fit cannot be sent.
    if (text.size() > UINT32_MAX - 1 - kHeaderSize)
        throw std::length_error("job text too long for a record");
    return static_cast<uint32_t>(text.size() + 1);
}

std::string CJobRecord::Build(uint32_t kind, const std::string& text, uint32_t reserved)
{
    uint32_t length = TextLength(text);
    std::string record;
    record.reserve(kHeaderSize + length);
    PutLittleEndian32(record, kind);
    PutLittleEndian32(record, length);
    PutLittleEndian32(record, reserved);
    record.append(text);
    record.push_back('\0');
    return record;
}
