// Job-text appends for the Info methods. Pure string logic, any thread.
#include "transfer/JobText.h"

#include <new>

const char CJobText::kItemSeparator[] = "#>";
const char CJobText::kPathSeparator[] = "#<";

void CJobText::ReserveFor(std::string& text, size_t extra)
{
    if (extra > text.max_size() - text.size())
        throw std::bad_alloc();
    size_t needed = text.size() + extra;
    if (needed <= text.capacity())
        return;
    // Grow geometrically ourselves: a page may append a hundred thousand items,
    // and exact-fit reservations would make that quadratic.
    size_t grown = text.capacity() < text.max_size() / 2 ? text.capacity() * 2 : text.max_size();
    text.reserve(needed > grown ? needed : grown);
}

void CJobText::AppendItem(std::string& text, const std::string& item)
{
    bool separate = !text.empty();
    ReserveFor(text, (separate ? 2 : 0) + item.size());
    if (separate)
        text.append(kItemSeparator, 2);
    text.append(item);
}

void CJobText::AppendPair(std::string& text, const std::string& idx, const std::string& path)
{
    bool separate = !text.empty();
    ReserveFor(text, (separate ? 2 : 0) + idx.size() + 2 + path.size());
    if (separate)
        text.append(kItemSeparator, 2);
    text.append(idx);
    text.append(kPathSeparator, 2);
    text.append(path);
}
