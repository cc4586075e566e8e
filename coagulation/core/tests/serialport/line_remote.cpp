#include "line.h"
#include "peerprotocol.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <optional>
#include <sstream>
#include <windows.h>

namespace {

std::optional<std::string> ask(const std::string &request)
{
    // No CR/LF translation on the channel.
    static const bool binary =
        _setmode(_fileno(stdin), _O_BINARY) != -1 && _setmode(_fileno(stdout), _O_BINARY) != -1;
    if (!binary)
        return std::nullopt;
    // A request and its reply together, whichever thread asks.
    static std::mutex channel;
    const std::lock_guard<std::mutex> lock(channel);
    std::fputs((peerRequest + request + '\n').c_str(), stdout);
    std::fflush(stdout);
    std::string reply;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        reply += char(c);
    if (reply.compare(0, 2, "ok") != 0)
        return std::nullopt;
    return reply.size() > 3 ? reply.substr(3) : std::string();
}

} // namespace

struct Line::Data
{
    int id = -1;
    std::string name;

    std::optional<std::string> ask(const std::string &verb, const std::string &arguments = {})
    {
        return ::ask(verb + ' ' + std::to_string(id) + (arguments.empty() ? "" : " " + arguments));
    }
};

Line::Line()
    : d(new Data)
{
    if (const auto reply = ask("line"))
        std::istringstream(*reply) >> d->id >> d->name;
}

Line::~Line()
{
    if (isValid())
        d->ask("drop");
}

bool Line::isValid() const
{
    return !d->name.empty();
}

std::string Line::portName() const
{
    return d->name;
}

bool Line::send(const std::string &bytes)
{
    return d->ask("send", toHex(bytes)).has_value();
}

std::string Line::receive(std::size_t size, int silence)
{
    return fromHex(
        d->ask("receive", std::to_string(size) + ' ' + std::to_string(silence)).value_or(""));
}

bool Line::startSending(const std::string &bytes, int gap)
{
    return d->ask("start-sending", std::to_string(gap) + ' ' + toHex(bytes)).has_value();
}

bool Line::startReceiving(std::size_t size, int silence)
{
    return d->ask("start-receiving", std::to_string(size) + ' ' + std::to_string(silence))
        .has_value();
}

std::string Line::finish()
{
    return fromHex(d->ask("finish").value_or(""));
}

bool Line::holdOutput(bool hold)
{
    return d->ask("hold", hold ? "1" : "0").has_value();
}

bool Line::hangUp()
{
    return d->ask("hangup").has_value();
}

Line::Settings Line::settings() const
{
    Settings settings;
    if (const auto reply = d->ask("settings"))
        std::istringstream(*reply) >> settings.baudRate >> settings.stopBits;
    return settings;
}

bool underWine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}
