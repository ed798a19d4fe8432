// The other end of a live patch: sends OSC to a loopback port and receives what a sink sends.
#pragma once

#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// One message as received: address, type tags, numbers, and strings apart.
struct OscMessage {
    std::string path, types;
    std::vector<double> numbers;
    std::vector<std::string> texts;
    bool operator==(const OscMessage& o) const {
        return path == o.path && types == o.types && numbers == o.numbers && texts == o.texts;
    }
};

class OscPeer {
public:
    OscPeer() {
        socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~OscPeer() { ::close(socket_); }

    int port() const { return port_; }  // taken by this peer, so also a port in use

    // Sends a message (freed here) or raw bytes to 127.0.0.1:`port`.
    void send(int port, const char* path, lo_message message) {
        std::size_t size = 0;
        void* data = lo_message_serialise(message, path, nullptr, &size);
        send_raw(port, data, size);
        std::free(data);
        lo_message_free(message);
    }
    void send_raw(int port, const void* data, std::size_t size) {
        sockaddr_in address = loopback(port);
        ::sendto(socket_, data, size, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }

    // The next message, or one with an empty path after `timeout_ms`.
    OscMessage receive(int timeout_ms = 2000) {
        OscMessage received;
        pollfd watched{socket_, POLLIN, 0};
        std::vector<char> data(65536);
        const ssize_t size = ::poll(&watched, 1, timeout_ms) > 0 ? ::recv(socket_, data.data(), data.size(), 0) : 0;
        lo_message message = size > 0 ? lo_message_deserialise(data.data(), static_cast<std::size_t>(size), nullptr) : nullptr;
        if (!message) return received;
        received.path = data.data();
        received.types = lo_message_get_types(message);
        lo_arg** argv = lo_message_get_argv(message);
        // Arguments are aligned on 4 bytes only: copied out, not read as lo_arg.
        auto copied = [&](std::size_t i, auto value) {
            std::memcpy(&value, argv[i], sizeof value);
            return static_cast<double>(value);
        };
        for (std::size_t i = 0; i < received.types.size(); ++i) switch (received.types[i]) {
            case LO_INT32: received.numbers.push_back(copied(i, std::int32_t{})); break;
            case LO_FLOAT: received.numbers.push_back(copied(i, float{})); break;
            case LO_DOUBLE: received.numbers.push_back(copied(i, double{})); break;
            case LO_STRING: received.texts.push_back(reinterpret_cast<const char*>(argv[i])); break;
            }
        lo_message_free(message);
        return received;
    }

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        return address;
    }
    int socket_ = -1;
    int port_ = 0;
};

// A message of numbers, one type tag each ("f", "d", "i" or "h"; others add a string).
inline lo_message numbers_message(const std::string& types, const std::vector<double>& numbers) {
    lo_message message = lo_message_new();
    for (std::size_t i = 0; i < types.size(); ++i) switch (types[i]) {
        case 'f': lo_message_add_float(message, static_cast<float>(numbers[i])); break;
        case 'd': lo_message_add_double(message, numbers[i]); break;
        case 'i': lo_message_add_int32(message, static_cast<std::int32_t>(numbers[i])); break;
        case 'h': lo_message_add_int64(message, static_cast<std::int64_t>(numbers[i])); break;
        default: lo_message_add_string(message, "text"); break;
        }
    return message;
}
