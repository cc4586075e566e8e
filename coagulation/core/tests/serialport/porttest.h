#ifndef PORTTEST_H
#define PORTTEST_H

// A small runner for tests that must build without Qt: the port-layer cases
// run natively and, built with MinGW, under Wine. A case is a function; a
// failed check reports and returns from the function it is in. Everything is
// logged to the standard error, since under Wine the standard input and
// output talk to the far end of the lines.

#include <cstdint>
#include <sstream>
#include <string>

namespace porttest {

using Case = void (*)();

struct Registration
{
    Registration(const char *name, Case run);
};

// Names the row of a data-driven case while it exists, for the log.
class Row
{
public:
    explicit Row(const std::string &name);
    ~Row();
    Row(const Row &) = delete;
    Row &operator=(const Row &) = delete;
};

void fail(const char *file, int line, const std::string &message);
void skip(const std::string &reason);
// A remark in the log, such as what the system under test cannot show.
void note(const std::string &text);

// Bytes as a C string literal would write them.
std::string printable(const std::string &bytes);

template<typename T>
std::string describe(const T &value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}
inline std::string describe(const std::string &value)
{
    return printable(value);
}

template<typename A, typename B>
bool equal(const A &actual, const B &expected, const char *actualText, const char *expectedText,
           const char *file, int line)
{
    if (actual == expected)
        return true;
    fail(file, line,
         std::string(actualText) + " is " + describe(actual) + ", expected " + expectedText + " = "
             + describe(expected));
    return false;
}

bool between(std::int64_t value, std::int64_t low, std::int64_t high, const char *valueText,
             const char *file, int line);

// Runs the cases named on the command line, or all of them; the exit status
// is 0 when none failed.
int run(int argc, char **argv);

} // namespace porttest

#define PORT_TEST(name) \
    static void name(); \
    static const porttest::Registration name##Registration(#name, name); \
    static void name()

#define CHECK(condition) \
    do { \
        if (!(condition)) { \
            porttest::fail(__FILE__, __LINE__, #condition); \
            return; \
        } \
    } while (false)

#define CHECK_EQUAL(actual, expected) \
    do { \
        if (!porttest::equal((actual), (expected), #actual, #expected, __FILE__, __LINE__)) \
            return; \
    } while (false)

// Bounds included.
#define CHECK_BETWEEN(value, low, high) \
    do { \
        if (!porttest::between((value), (low), (high), #value, __FILE__, __LINE__)) \
            return; \
    } while (false)

#define SKIP(reason) \
    do { \
        porttest::skip(reason); \
        return; \
    } while (false)

#endif // PORTTEST_H
