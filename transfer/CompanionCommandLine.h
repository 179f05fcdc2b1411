// Command lines for starting a companion program: the list-file path with its
// spaces written as "[[SPACE]]", the parameter string built from a target's
// format, and the check that keeps a credential from splitting it. Pure string
// logic, any thread.
#pragma once

#include <initializer_list>
#include <string>

class CCompanionCommandLine
{
public:
    static const char kSpaceToken[];   // "[[SPACE]]"

    // Every space (0x20) of the path becomes "[[SPACE]]"; nothing else changes.
    static std::string EncodeSpaces(const std::string& path);

    // Fills each "%s" of the format, in order, with the next value, inserted
    // unchanged; "%%" gives "%". A "%s" without a value is left empty.
    static std::string Format(const char* format, std::initializer_list<const std::string*> values);

    // Whether a credential can go onto a command line as exactly one word: not
    // empty, and no space, tab, double quote or control character. The
    // companions split their command line at spaces, so anything else would
    // let a page shift the list-file path or add arguments.
    static bool IsSafeCredential(const std::string& value);
};
