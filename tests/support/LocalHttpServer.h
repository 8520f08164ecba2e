// A tiny HTTP server for tests: listens on 127.0.0.1 only (an ephemeral
// port), records each request's head byte for byte and answers with a
// scripted reply, or holds the connection open without answering.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class TLocalHttpServer {
public:
    // What the next connections get; the last entry repeats.
    QList<QByteArray> Replies{Reply(200, "")};
    // Accept and read the request, then send nothing until the server stops.
    std::atomic<bool> NeverAnswer{false};

    TLocalHttpServer() {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FListen < 0)
            throw std::runtime_error("socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListen, 8) != 0
            || ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(FListen);
            throw std::runtime_error("bind");
        }
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TLocalHttpServer() {
        FStop = true;
        FThread.join();
        ::close(FListen);
    }

    int Port() const { return FPort; }
    // "http://127.0.0.1:PORT" followed by `path`.
    QString Base(const QString& path = "/") const { return QString("http://127.0.0.1:%1%2").arg(FPort).arg(path); }

    // Request heads received so far (up to and including the blank line).
    QList<QByteArray> Requests() const {
        std::lock_guard lock(FMutex);
        return FRequests;
    }

    static QByteArray Reply(int status, const QByteArray& body, const QByteArray& extraHeaders = {}) {
        return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: text/plain\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
    }

private:
    void Serve() {
        int served = 0;
        while (!FStop) {
            pollfd waiting{FListen, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0)
                continue;
            const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            QByteArray head = ReadHead(client);
            {
                std::lock_guard lock(FMutex);
                FRequests.append(head);
            }
            if (NeverAnswer) {
                while (!FStop)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            } else {
                const QByteArray reply = Replies.isEmpty() ? QByteArray() : Replies[std::min<qsizetype>(served, Replies.size() - 1)];
                qsizetype sent = 0;
                while (sent < reply.size()) {
                    const ssize_t n = ::send(client, reply.constData() + sent, static_cast<size_t>(reply.size() - sent), MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += n;
                }
            }
            ++served;
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
    }

    QByteArray ReadHead(int client) {
        QByteArray head;
        for (int idle = 0; idle < 250 && !FStop && !head.contains("\r\n\r\n") && head.size() < 65536;) {
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, 20) <= 0) {
                ++idle;
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            head.append(buffer, n);
        }
        return head;
    }

    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    mutable std::mutex FMutex;
    QList<QByteArray> FRequests;
    std::thread FThread;
};
