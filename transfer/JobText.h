// Job texts: the batch a page describes item by item, joined into one narrow
// string that a companion program splits again. Pure string logic, any thread.
#pragma once

#include <string>

// One batch as a page describes it: its job text, and whether an item the
// page gave could not be held in the code page. A spoiled batch is never
// handed off (without that item it would not be the batch the page gave),
// until the next Init call begins a new one.
struct JobBatch
{
    std::string text;
    bool spoiled = false;
};

class CJobText
{
public:
    static const char kItemSeparator[];   // "#>" between items
    static const char kPathSeparator[];   // "#<" between identifier and path

    // Appends one upload item: "#>" first when the text is not empty, then the
    // item unchanged. An empty item still leaves its separator.
    static void AppendItem(std::string& text, const std::string& item);

    // Appends one download pair: "#>" when the text is not empty, then
    // idx "#<" path; the "#<" is written even when both parts are empty.
    static void AppendPair(std::string& text, const std::string& idx, const std::string& path);

private:
    // Makes room for extra bytes up front, so an append either happens whole or
    // (when memory runs out) throws with the text untouched.
    static void ReserveFor(std::string& text, size_t extra);
};
