// The limit the driver is measured against: ADS requests built byte for
// byte as the driver builds them, sent on a blocking file descriptor, and
// the whole reply read back by its announced length - nothing checked,
// nothing copied twice, no Qt.
#ifndef RAWADS_H
#define RAWADS_H

#include "link/AdsLayout.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace RawAds {

// Sizes and offsets are the wire's own (link/AdsLayout.h).
using Layout = AdsLayout;

// The target NetId the driver derives from "127.0.0.1".
struct NetId {
    std::uint8_t b[6] = {127, 0, 0, 1, 1, 1};
};

std::vector<char> readRequest(const NetId &target, std::uint16_t amsPort, std::uint32_t invokeId,
                              std::uint32_t group, std::uint32_t offset, std::uint32_t length);
std::vector<char> writeRequest(const NetId &target, std::uint16_t amsPort, std::uint32_t invokeId,
                               std::uint32_t group, std::uint32_t offset, const char *data,
                               std::uint32_t length);
// Writes `data` (`writeLength` bytes), reads up to `readLength` back.
std::vector<char> readWriteRequest(const NetId &target, std::uint16_t amsPort, std::uint32_t invokeId,
                                   std::uint32_t group, std::uint32_t offset, std::uint32_t readLength,
                                   const char *data, std::uint32_t writeLength);
// Each call gets its own id, as the driver's do.
void setInvokeId(std::vector<char> &frame, std::uint32_t invokeId);

// A blocking TCP connection with TCP_NODELAY and a 5 s time-out; -1 when it cannot be made.
int connectTcp(const char *ipv4, std::uint16_t port);
// The slave side of a pseudo-terminal in raw mode, 5 s time-out; -1 when it cannot be opened.
int openSerial(const char *path);
void closeFd(int fd);

// Writes `request` and reads one whole reply into `reply` (grown to fit):
// the reply size, or -1 when the line failed or stayed silent for 5 s.
// `firstByte`, when given, gets the moment the reply began to arrive.
long exchange(int fd, const std::vector<char> &request, std::vector<char> &reply,
              std::chrono::steady_clock::time_point *firstByte = nullptr);
// The same on a terminal that others may have set to answer a read at once
// with nothing (as a serial port driver sharing it does): waits for bytes
// before each read, up to 5 s.
long exchangeOnTerminal(int fd, const std::vector<char> &request, std::vector<char> &reply);

} // namespace RawAds

#endif // RAWADS_H
