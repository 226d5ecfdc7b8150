// Test helper built under the process name "cloudflared": serves a quick
// tunnel's metrics answer, like the real agent does.
//
//   cloudflared tunnel --url URL --metrics 127.0.0.1:PORT --hostname HOST
//
// Answers GET /quicktunnel with {"hostname":"HOST"} and anything else with 404.
// Prints "ready" once listening. Exits when its standard input closes, when
// its parent dies, or after two minutes, so it never outlives its test.
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

namespace {

int listenOn(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void answer(int client, const std::string& hostname)
{
    std::string request;
    char buffer[1024];
    pollfd p{client, POLLIN, 0};
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        if (poll(&p, 1, 2000) <= 0)
            return;
        const ssize_t n = read(client, buffer, sizeof buffer);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    std::string body = "{\"hostname\":\"" + hostname + "\"}";
    std::string status = "200 OK";
    if (request.rfind("GET /quicktunnel ", 0) != 0) {
        body = "not found";
        status = "404 Not Found";
    }
    writeAll(client, "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

} // namespace

int main(int argc, char** argv)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    alarm(120);
    signal(SIGPIPE, SIG_IGN);

    int metricsPort = 0;
    std::string hostname;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--metrics") == 0) {
            const char* colon = std::strrchr(argv[i + 1], ':');
            metricsPort = std::atoi(colon ? colon + 1 : argv[i + 1]);
        } else if (std::strcmp(argv[i], "--hostname") == 0) {
            hostname = argv[i + 1];
        }
    }
    const int server = metricsPort > 0 ? listenOn(metricsPort) : -1;
    if (server < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);

    pollfd fds[2] = {{server, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0)
            return 1;
        if (fds[1].revents != 0) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                return 0;
        }
        if (fds[0].revents & POLLIN) {
            const int client = accept(server, nullptr, nullptr);
            if (client >= 0) {
                answer(client, hostname);
                close(client);
            }
        }
    }
}
