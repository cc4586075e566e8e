// The Linux side of the serial tests under Wine. Starts the Windows test
// program through wine with its standard input and output connected here,
// holds the far end of every line the program asks for, and makes each line
// a COM port of the Wine prefix ($WINEPREFIX/dosdevices/comN -> the slave).
// What else the program writes to its standard output comes out here:
//
//   serialport-peer wine tst_serialport.exe [case...]
//
// The exit status is the program's. Requests and replies are described in
// peerprotocol.h.

#include "line.h"
#include "peerprotocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A line seen from Wine as COM<number>.
class ComPort
{
public:
    ComPort(const std::string &prefix, int number)
        : m_name("COM" + std::to_string(number))
        , m_link(prefix + "/dosdevices/com" + std::to_string(number))
    {
        if (!m_line.isValid())
            return;
        const std::string slave = "/dev/" + m_line.portName();
        unlink(m_link.c_str());
        if (symlink(slave.c_str(), m_link.c_str()) != 0)
            return;
        m_holder = holdAsControllingTerminal(slave);
    }
    ~ComPort()
    {
        if (m_holder > 0) {
            kill(m_holder, SIGKILL);
            waitpid(m_holder, nullptr, 0);
        }
        unlink(m_link.c_str());
    }
    ComPort(const ComPort &) = delete;
    ComPort &operator=(const ComPort &) = delete;

    bool isValid() const { return m_holder > 0; }
    const std::string &name() const { return m_name; }
    Line &line() { return m_line; }

private:
    // The wineserver is a session leader without a terminal: the first slave
    // it opens would become its controlling terminal, and closing the master
    // would send it a hang-up. A process of our own that holds the slave as
    // its controlling terminal keeps it from that.
    static pid_t holdAsControllingTerminal(const std::string &slave)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return -1;
        const pid_t holder = fork();
        if (holder == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int devNull = open("/dev/null", O_RDWR);
            for (int fd = 0; fd < 3; ++fd)
                dup2(devNull, fd);
            const int readyEnd = dup2(ready[1], 3);
            closefrom(4);
            setsid();
            if (open(slave.c_str(), O_RDWR) < 0)
                _exit(1);
            close(readyEnd);
            for (;;)
                pause();
        }
        // The terminal is taken once the holder closes its end of the pipe.
        close(ready[1]);
        char byte;
        while (read(ready[0], &byte, 1) < 0 && errno == EINTR) { }
        close(ready[0]);
        int status;
        if (holder > 0 && waitpid(holder, &status, WNOHANG) == holder)
            return -1;
        return holder;
    }

    Line m_line;
    const std::string m_name;
    const std::string m_link;
    pid_t m_holder = -1;
};

class Peer
{
public:
    explicit Peer(std::string prefix)
        : m_prefix(std::move(prefix))
    { }

    // One request, its reply without the line end.
    std::string answer(const std::string &request)
    {
        std::istringstream words(request);
        std::string verb;
        int id = -1;
        words >> verb;
        if (verb == "line") {
            const int number = 10 + m_nextId;
            auto port = std::make_unique<ComPort>(m_prefix, number);
            if (!port->isValid())
                return "failed";
            const std::string reply = "ok " + std::to_string(m_nextId) + ' ' + port->name();
            m_ports[m_nextId++] = std::move(port);
            return reply;
        }
        words >> id;
        const auto found = m_ports.find(id);
        if (found == m_ports.end())
            return "unknown line";
        Line &line = found->second->line();
        std::string hex;
        std::size_t size = 0;
        int milliseconds = 0;
        if (verb == "drop") {
            m_ports.erase(found);
            return "ok";
        }
        if (verb == "send") {
            words >> hex;
            return outcome(line.send(fromHex(hex)));
        }
        if (verb == "receive") {
            words >> size >> milliseconds;
            return "ok " + toHex(line.receive(size, milliseconds));
        }
        if (verb == "start-sending") {
            words >> milliseconds >> hex;
            return outcome(line.startSending(fromHex(hex), milliseconds));
        }
        if (verb == "start-receiving") {
            words >> size >> milliseconds;
            return outcome(line.startReceiving(size, milliseconds));
        }
        if (verb == "finish")
            return "ok " + toHex(line.finish());
        if (verb == "hold") {
            int hold = 0;
            words >> hold;
            return outcome(line.holdOutput(hold != 0));
        }
        if (verb == "hangup")
            return outcome(line.hangUp());
        if (verb == "settings") {
            const Line::Settings settings = line.settings();
            return "ok " + std::to_string(settings.baudRate) + ' '
                + std::to_string(settings.stopBits);
        }
        return "unknown request";
    }

private:
    static std::string outcome(bool done) { return done ? "ok" : "failed"; }

    const std::string m_prefix;
    std::map<int, std::unique_ptr<ComPort>> m_ports;
    int m_nextId = 0;
};

bool writeAll(int fd, const std::string &text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        done += std::size_t(std::max<ssize_t>(n, 0));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const char *prefix = std::getenv("WINEPREFIX");
    if (argc < 2 || !prefix) {
        std::fprintf(stderr, "usage: WINEPREFIX=<prefix> %s wine <program.exe> [argument...]\n",
                     argv[0]);
        return 2;
    }
    int requests[2];
    int replies[2];
    if (pipe2(requests, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return 2;
    }
    const pid_t program = fork();
    if (program == 0) {
        dup2(replies[0], STDIN_FILENO);
        dup2(requests[1], STDOUT_FILENO);
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    close(replies[0]);
    close(requests[1]);
    std::signal(SIGPIPE, SIG_IGN);

    // Requests come until the program ends. Wine may leave a process of its
    // own holding the program's output, so its end shows in waitpid(), not
    // only as the end of the pipe.
    Peer peer(prefix);
    const std::size_t requestMark = std::size(peerRequest) - 1;
    std::string pending;
    const auto take = [&](const char *data, std::size_t size) {
        pending.append(data, size);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (pending.compare(0, requestMark, peerRequest) == 0)
                writeAll(replies[1],
                         peer.answer(pending.substr(requestMark, end - requestMark)) + '\n');
            else
                writeAll(STDOUT_FILENO, pending.substr(0, end + 1));
            pending.erase(0, end + 1);
        }
    };
    char chunk[65536];
    int status = 0;
    bool ended = false;
    while (!ended) {
        pollfd entry = {requests[0], POLLIN, 0};
        if (poll(&entry, 1, 200) <= 0) {
            ended = waitpid(program, &status, WNOHANG) == program;
            continue;
        }
        const ssize_t n = read(requests[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        take(chunk, std::size_t(n));
    }
    // What the program wrote just before it ended.
    for (pollfd entry = {requests[0], POLLIN, 0}; ended && poll(&entry, 1, 0) > 0;) {
        const ssize_t n = read(requests[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        take(chunk, std::size_t(n));
    }
    writeAll(STDOUT_FILENO, pending);
    if (!ended)
        waitpid(program, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
