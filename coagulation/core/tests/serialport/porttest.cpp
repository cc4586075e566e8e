#include "porttest.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace porttest {

namespace {

struct Entry
{
    const char *name;
    Case run;
};

std::vector<Entry> &cases()
{
    static std::vector<Entry> all;
    return all;
}

// The case that runs.
struct
{
    const char *name = "";
    std::string row;
    bool failed = false;
    bool skipped = false;
} current;

std::string label()
{
    return current.row.empty() ? current.name
                               : std::string(current.name) + " [" + current.row + "]";
}

} // namespace

Registration::Registration(const char *name, Case run)
{
    cases().push_back({name, run});
}

Row::Row(const std::string &name)
{
    current.row = name;
}

Row::~Row()
{
    current.row.clear();
}

void fail(const char *file, int line, const std::string &message)
{
    const char *base = std::strrchr(file, '/');
    std::cerr << "FAIL!  " << label() << ": " << (base ? base + 1 : file) << '(' << line
              << "): " << message << std::endl;
    current.failed = true;
}

void skip(const std::string &reason)
{
    std::cerr << "SKIP   " << label() << ": " << reason << std::endl;
    current.skipped = true;
}

void note(const std::string &text)
{
    std::cerr << "NOTE   " << label() << ": " << text << std::endl;
}

bool between(std::int64_t value, std::int64_t low, std::int64_t high, const char *valueText,
             const char *file, int line)
{
    if (low <= value && value <= high)
        return true;
    fail(file, line,
         std::string(valueText) + " is " + std::to_string(value) + ", expected "
             + std::to_string(low) + " to " + std::to_string(high));
    return false;
}

std::string printable(const std::string &bytes)
{
    std::string text = "\"";
    for (const unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            text += char(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text + '"';
}

int run(int argc, char **argv)
{
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    for (const Entry &entry : cases()) {
        bool chosen = argc < 2;
        for (int i = 1; i < argc; ++i)
            chosen = chosen || std::strcmp(argv[i], entry.name) == 0;
        if (!chosen)
            continue;
        current.name = entry.name;
        current.failed = false;
        current.skipped = false;
        const auto start = std::chrono::steady_clock::now();
        entry.run();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (current.failed) {
            ++failed;
        } else if (current.skipped) {
            ++skipped;
        } else {
            ++passed;
            std::cerr << "PASS   " << entry.name << " (" << took.count() << " ms)" << std::endl;
        }
    }
    std::cerr << "Totals: " << passed << " passed, " << failed << " failed, " << skipped
              << " skipped" << std::endl;
    return failed == 0 && passed + skipped > 0 ? 0 : 1;
}

} // namespace porttest
