// Plays the other side of the one-agent guard for the end-to-end tests, on real sockets:
//   guardprobe name SETTINGS            prints the name an agent with that file tries first (for this user)
//   guardprobe served SETTINGS          prints the name the running agent with that file answers on
//   guardprobe listen NAME              holds NAME, as another user's program might, and logs who connects
//   guardprobe silent SETTINGS COUNT    opens COUNT connections to the running agent that say nothing
//   guardprobe stream SETTINGS MB       sends up to MB megabytes with no line end; status 0 once dropped
#include "app/singleagent.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: guardprobe name|served SETTINGS | listen NAME | silent SETTINGS COUNT | stream SETTINGS MB\n");
    return 2;
}

QString Served(const char* settings) {
    const QString name = SingleAgent::ServedName(QString::fromLocal8Bit(settings));
    if (name.isEmpty()) std::fprintf(stderr, "guardprobe: no agent runs with %s\n", settings);
    return name;
}

int Listen(const QString& name) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toUtf8();
    std::memcpy(address.sun_path + 1, bytes.constData(), size_t(bytes.size()));
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(bytes.size()));
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(server, 16) != 0) {
        std::perror("guardprobe: listen");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    while (true) {
        const int client = ::accept(server, nullptr, nullptr);
        if (client < 0) continue;
        char buffer[256];
        const ssize_t said = ::recv(client, buffer, sizeof buffer, 0);
        std::printf("connection from uid %lld, said %zd bytes\n", SingleAgent::PeerUser(client), said);
        std::fflush(stdout);
        ::close(client);
    }
}

int Silent(const QString& name, int count) {
    std::vector<int> open;
    for (int tries = 0; int(open.size()) < count && tries < count * 20; ++tries) {
        const int descriptor = SingleAgent::ConnectTo(name);
        if (descriptor >= 0)
            open.push_back(descriptor);
        else
            ::usleep(10000);
    }
    std::printf("open %zu\n", open.size());
    std::fflush(stdout);
    ::pause();
    return 0;
}

int Stream(const QString& name, long megabytes) {
    const int descriptor = SingleAgent::ConnectTo(name);
    if (descriptor < 0) return 1;
    const std::vector<char> block(4096, 'x');
    long long sent = 0;
    while (sent < megabytes * 1024 * 1024) {
        const ssize_t size = ::send(descriptor, block.data(), block.size(), MSG_NOSIGNAL);
        if (size < 0) {
            std::printf("dropped after %lld bytes (%s)\n", sent, std::strerror(errno));
            return 0;
        }
        sent += size;
    }
    std::printf("not dropped after %lld bytes\n", sent);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const QByteArray mode = argv[1];
    if (mode == "name") {
        std::printf("%s\n", qPrintable(SingleAgent::ServerName(QString::fromLocal8Bit(argv[2]))));
        return 0;
    }
    if (mode == "listen") return Listen(QString::fromLocal8Bit(argv[2]));
    if (mode == "served") {
        const QString name = Served(argv[2]);
        std::printf("%s\n", qPrintable(name));
        return name.isEmpty() ? 1 : 0;
    }
    if (argc < 4) return Usage();
    const QString name = Served(argv[2]);
    if (name.isEmpty()) return 1;
    if (mode == "silent") return Silent(name, std::atoi(argv[3]));
    if (mode == "stream") return Stream(name, std::atol(argv[3]));
    return Usage();
}
