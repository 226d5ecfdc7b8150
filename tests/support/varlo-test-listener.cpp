// Test helper: listens on loopback TCP ports so tests can watch real sockets.
//
//   varlo-test-listener [--workers N] [--ignore-term] [--reuseport] [--ipv6]
//                       [--cwd DIR] [--name NAME] [--both] PORT...
//   varlo-test-listener -host-port PORT [-proto tcp -host-ip IP -container-ip IP -container-port N]
//
// The second form has docker-proxy's argument shape, for tests that run this
// helper under that name; it listens on 127.0.0.1:PORT.
//
// Prints "pid <pid>" for itself, then "worker <pid>" for each forked worker
// (workers inherit and share every listening socket), then "ready". Exits when
// its standard input closes, so a crashed test never leaves it behind; workers
// die with their parent.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

enum class Family
{
    ipv4,
    ipv6,
};

int listenOn(int port, Family family, bool reusePort)
{
    const bool ipv6 = family != Family::ipv4;
    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (reusePort)
        setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    int rc;
    if (ipv6) {
        sockaddr_in6 addr{};
        addr.sin6_family = AF_INET6;
        addr.sin6_port = htons(static_cast<uint16_t>(port));
        addr.sin6_addr = in6addr_loopback;
        rc = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } else {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    if (rc != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void waitForStdinClose()
{
    pollfd p{STDIN_FILENO, POLLIN, 0};
    char buffer[256];
    for (;;) {
        if (poll(&p, 1, -1) < 0)
            continue;
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            return;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    int workers = 0;
    bool ignoreTerm = false;
    bool reusePort = false;
    Family family = Family::ipv4;
    bool both = false; // 127.0.0.1 and ::1 on every port
    std::vector<int> ports;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--workers" && i + 1 < argc)
            workers = std::atoi(argv[++i]);
        else if (arg == "--ignore-term")
            ignoreTerm = true;
        else if (arg == "--reuseport")
            reusePort = true;
        else if (arg == "--ipv6")
            family = Family::ipv6;
        else if (arg == "--both")
            both = true;
        else if (arg == "-host-port" && i + 1 < argc)
            ports.push_back(std::atoi(argv[++i]));
        else if ((arg == "-proto" || arg == "-host-ip" || arg == "-container-ip" || arg == "-container-port") &&
                 i + 1 < argc)
            ++i;
        else if (arg == "--cwd" && i + 1 < argc) {
            if (chdir(argv[++i]) != 0) {
                std::perror("chdir");
                return 2;
            }
        } else if (arg == "--name" && i + 1 < argc) {
            // What lsof and ps report as the command (the first 15 bytes).
            prctl(PR_SET_NAME, argv[++i]);
        } else
            ports.push_back(std::atoi(arg.c_str()));
    }

    if (ignoreTerm)
        std::signal(SIGTERM, SIG_IGN);

    for (int port : ports) {
        if (listenOn(port, family, reusePort) < 0 || (both && listenOn(port, Family::ipv6, reusePort) < 0)) {
            std::fprintf(stderr, "cannot listen on %d: %s\n", port, std::strerror(errno));
            return 1;
        }
    }

    std::printf("pid %d\n", getpid());
    const pid_t parent = getpid();
    for (int i = 0; i < workers; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(0);
            for (;;)
                pause();
        }
        if (child > 0)
            std::printf("worker %d\n", child);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    waitForStdinClose();
    return 0;
}
