// CPickerItems: the item data of the picker's rows, kept in blocks of many
// items. A row points at its item, so an item never moves while it is held;
// a listing asks the heap once per block instead of once per row.
#pragma once

#include <windows.h>
#include <memory>
#include <vector>

// Item data of one folder or file row.
struct PickerItem
{
    char path[MAX_PATH];    // NUL-terminated full path
    ULONGLONG size;         // a file's byte count
    bool folder;            // reported with the size "-1", its size column empty
    // What the row's columns show is made from these only when the list asks.
    char kind[2];           // the hidden kind column's code
    WORD nameAt;            // where the name column's text starts in path
};

class CPickerItems
{
public:
    // A zeroed item at the end; throws std::bad_alloc like new.
    PickerItem* Add();
    // Gives back the last item added.
    void RemoveLast() noexcept;
    // Drops every item; the first block is kept for the next listing.
    void Clear() noexcept;
    size_t Count() const { return m_nCount; }

private:
    static const size_t kBlockItems = 256;
    std::vector<std::unique_ptr<PickerItem[]>> m_blocks;
    size_t m_nCount = 0;
};
